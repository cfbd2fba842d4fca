// The statements of a run: the server clock, the booking cursor, the transfer
// mark and the purge. Each returns the sqlcode of its statement.
#pragma once

#include <cstdint>

#include "db/BewRecord.h"

int32_t SQL_GetSysDate(char* out);  // out: at least 20 bytes
int32_t SQL_OpenBew();
int32_t SQL_FetchBew(BewRecord& booking);
int32_t SQL_CloseBew();
int32_t SQL_MarkTranfer(const BewRecord& booking);
int32_t SQL_DeleteOld();
