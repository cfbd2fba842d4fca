// Loads generated bookings into a PostgreSQL booking table (keldomar.zkr321bew)
// through COPY, the same text that "bewgen --format copy" writes for psql's
// \copy.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <string>

#include "tools/bewgen/BookingGen.h"

// Appends rows bookings on conn, inside whatever transaction conn is in.
// Returns "" or the reason it failed.
std::string CopyBookingsToPg(PGconn* conn, BookingGen& gen, int64_t rows);
