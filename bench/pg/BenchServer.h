// The PostgreSQL server the benchmarks run against, from the environment as
// scripts/pg-test-server.sh writes it (MORVASK_PG_*).
#pragma once

#include <libpq-fe.h>

#include <string>

#include "db/pg/PgConnection.h"

std::string Env(const char* name, const char* fallback = "");

struct Server {
  std::string host = Env("MORVASK_PG_HOST"), port = Env("MORVASK_PG_PORT"),
              db = Env("MORVASK_PG_DB"), user = Env("MORVASK_PG_USER"),
              password = Env("MORVASK_PG_PASSWORD"), owner = Env("MORVASK_PG_OWNER"),
              owner_password = Env("MORVASK_PG_OWNER_PASSWORD");
  std::string Net8() const { return host + ":" + port + "/" + db; }
};

const Server& TheServer();

// False, with a note on how to start one, when the environment names no server.
bool ServerConfigured(const char* program);

// A connection as user, client encoding WIN1252.
PgConn Connect(const std::string& user, const std::string& password);

// Runs sql; prints the server's message and returns false when it fails.
bool Exec(PGconn* conn, const char* sql);
