#include "db/pg/PgConnection.h"

#include <poll.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <string>

#include "db/pg/PgStatus.h"

namespace {

void DropNotice(void*, const char*) {}

// Waits until the socket is ready for what PQconnectPoll asked for.
// false: the deadline passed or the socket failed.
bool WaitForSocket(PGconn* conn, PostgresPollingStatusType want,
                   std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fd{PQsocket(conn), static_cast<short>(want == PGRES_POLLING_READING ? POLLIN : POLLOUT),
              0};
    if (fd.fd < 0) return false;
    int ready = poll(&fd, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

int32_t LoginFailureStatus(PGconn* conn) {
  // Messages of a failed login have no result to ask for the SQLSTATE; with
  // PQERRORS_SQLSTATE the server's part of the message is just that code.
  int32_t status = SqlStateStatus(SqlStateInMessage(PQerrorMessage(conn)));
  return status != 0 ? status : kPgErrConnectFailed;
}

}  // namespace

int32_t PgLogin(const PgConnectParts& parts, PgConn& conn) {
  conn.reset();
  const std::string timeout = std::to_string(kPgLoginSeconds);
  // Keyword arrays, never a pasted conninfo text: no value can change the
  // meaning of another. Unset host and port fall back to libpq's defaults
  // (PGHOST, PGPORT, the local socket). Keepalives make a server that
  // vanished from the network show as an error instead of a hang.
  std::array<const char*, 15> keys{};
  std::array<const char*, 15> values{};
  size_t n = 0;
  auto add = [&](const char* key, const char* value) {
    if (*value == '\0') return;
    keys[n] = key;
    values[n] = value;
    ++n;
  };
  add("host", parts.host.c_str());
  add("port", parts.port.c_str());
  add("dbname", parts.dbname.c_str());
  add("user", parts.user.c_str());
  add("password", parts.password.c_str());
  add("client_encoding", "WIN1252");
  add("application_name", "Morvask");
  add("connect_timeout", timeout.c_str());
  add("keepalives", "1");
  add("keepalives_idle", "30");
  add("keepalives_interval", "10");
  add("keepalives_count", "6");
  add("tcp_user_timeout", "120000");

  PgConn attempt(PQconnectStartParams(keys.data(), values.data(), 0));
  if (!attempt) return kPgErrNoResult;
  PQsetNoticeProcessor(attempt.get(), DropNotice, nullptr);
  PQsetErrorVerbosity(attempt.get(), PQERRORS_SQLSTATE);
  if (PQstatus(attempt.get()) == CONNECTION_BAD) return LoginFailureStatus(attempt.get());

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kPgLoginSeconds);
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  while (state != PGRES_POLLING_OK) {
    if (state == PGRES_POLLING_FAILED) return LoginFailureStatus(attempt.get());
    if (!WaitForSocket(attempt.get(), state, deadline)) return kPgErrConnectTimeout;
    state = PQconnectPoll(attempt.get());
  }
  conn = std::move(attempt);
  return 0;
}

int32_t PgFailureStatus(PGconn* conn, const PGresult* result) {
  // A broken connection gets its own code, whatever the server said last
  // (57P01 after pg_terminate_backend, nothing when the socket just closed).
  if (conn == nullptr || PQstatus(conn) == CONNECTION_BAD) return kPgErrConnectionLost;
  if (result == nullptr) return kPgErrNoResult;
  const char* sqlstate = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  int32_t status = sqlstate != nullptr ? SqlStateStatus(sqlstate) : 0;
  return status != 0 ? status : kPgErrUnexpectedResult;
}
