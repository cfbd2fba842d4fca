// Owning handles for libpq's connection and result objects.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>

#include "db/pg/PgConnectText.h"

struct PgConnFinish {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
struct PgResultClear {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgConn = std::unique_ptr<PGconn, PgConnFinish>;
using PgResult = std::unique_ptr<PGresult, PgResultClear>;

// Logs in with the parts of the connect text, client encoding WIN1252.
// Returns 0 with conn set, or a negative status with conn empty. Waits at
// most kPgLoginSeconds; notices of the server are dropped, not printed.
inline constexpr int kPgLoginSeconds = 15;
int32_t PgLogin(const PgConnectParts& parts, PgConn& conn);

// The status of a statement that did not succeed.
int32_t PgFailureStatus(PGconn* conn, const PGresult* result);
