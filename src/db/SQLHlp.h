// Connect and commit: the beginning and the end of a run's transaction.
#pragma once

#include <cstdint>

// The connect text "user/password@service" does not fit the 100 characters
// of the statement buffer; nothing was sent to the database.
inline constexpr int32_t kSqlErrConnectTextTooLong = -2010;

int32_t SQL_Connect(const char* user, const char* password, const char* service,
                    const char* schema);

// 1 when the commit succeeded, 0 when it failed.
int32_t SQL_Commit();
