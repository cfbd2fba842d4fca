// Writes generated bookings into a SQLite database file or as text for a
// bulk load elsewhere.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/bewgen/BookingGen.h"

// Runs the DDL file on a new database file at path (an existing file is left
// alone). Returns "" or the reason it failed.
std::string CreateBookingDatabase(const std::string& path, const std::string& ddl_path);

// Inserts rows bookings into the table of the existing database file at path,
// in one transaction. Returns "" or the reason it failed.
std::string InsertBookings(const std::string& path, BookingGen& gen, int64_t rows);

// Text output: "copy" is the tab-separated text of a COPY ... FROM STDIN
// (NULL as \N), "csv" is CSV with a header line (NULL as an unquoted empty
// field, every text quoted).
enum class BookingTextFormat { kCopy, kCsv };
void WriteBookingText(std::FILE* out, BookingGen& gen, int64_t rows, BookingTextFormat format);
