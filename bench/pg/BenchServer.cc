#include "BenchServer.h"

#include <array>
#include <cstdio>
#include <cstdlib>

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : fallback;
}

const Server& TheServer() {
  static const Server server;
  return server;
}

bool ServerConfigured(const char* program) {
  if (!TheServer().host.empty() && !TheServer().owner.empty()) return true;
  std::fprintf(stderr,
               "%s needs a server: scripts/pg-test-server.sh start DIR, then\n"
               "set -a; . DIR/pg.env; set +a; and run %s again\n",
               program, program);
  return false;
}

PgConn Connect(const std::string& user, const std::string& password) {
  const Server& s = TheServer();
  std::array<const char*, 7> keys{"host", "port", "dbname", "user", "password",
                                  "client_encoding", nullptr};
  std::array<const char*, 7> values{s.host.c_str(), s.port.c_str(), s.db.c_str(), user.c_str(),
                                    password.c_str(), "WIN1252", nullptr};
  return PgConn(PQconnectdbParams(keys.data(), values.data(), 0));
}

bool Exec(PGconn* conn, const char* sql) {
  PgResult result(PQexec(conn, sql));
  ExecStatusType status = PQresultStatus(result.get());
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return true;
  std::fprintf(stderr, "%s: %s", sql, PQerrorMessage(conn));
  return false;
}
