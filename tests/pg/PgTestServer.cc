#include "PgTestServer.h"

#include <array>
#include <cstdlib>

#include "db/SQLHlp.h"
#include "db/pg/PgRuntime.h"

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::optional<PgTestServer> PgTestServerFromEnv() {
  PgTestServer server{Env("MORVASK_PG_HOST"),  Env("MORVASK_PG_PORT"),
                      Env("MORVASK_PG_SOCKET_DIR"), Env("MORVASK_PG_DB"),
                      Env("MORVASK_PG_USER"),  Env("MORVASK_PG_PASSWORD"),
                      Env("MORVASK_PG_OWNER"), Env("MORVASK_PG_OWNER_PASSWORD")};
  if (server.host.empty() || server.port.empty() || server.db.empty() || server.user.empty() ||
      server.owner.empty()) {
    return std::nullopt;
  }
  return server;
}

void PgTest::SetUp() {
  std::optional<PgTestServer> server = PgTestServerFromEnv();
  if (!server) {
    GTEST_SKIP() << "no PostgreSQL test server: scripts/test.sh starts one; by hand run "
                    "scripts/pg-test-server.sh start DIR and source DIR/pg.env";
  }
  server_ = *server;
  std::array<const char*, 8> keys{"host", "port", "dbname", "user", "password",
                                  "client_encoding", "options", nullptr};
  std::array<const char*, 8> values{server_.host.c_str(), server_.port.c_str(),
                                    server_.db.c_str(), server_.owner.c_str(),
                                    server_.owner_password.c_str(), "UTF8",
                                    "-c lock_timeout=20s", nullptr};
  owner_.reset(PQconnectdbParams(keys.data(), values.data(), 0));
  ASSERT_EQ(PQstatus(owner_.get()), CONNECTION_OK) << PQerrorMessage(owner_.get());
  // Triggers a test may have left behind (RefuseChanges, the end-to-end tests).
  Owner("DROP TRIGGER IF EXISTS refuse ON keldomar.zkr321bew;"
        "DROP TRIGGER IF EXISTS fail_mark ON keldomar.zkr321bew;"
        "TRUNCATE keldomar.zkr321bew");
}

void PgTest::RefuseChanges(const std::string& ids) {
  Owner("CREATE OR REPLACE FUNCTION keldomar.refuse() RETURNS trigger LANGUAGE plpgsql AS"
        " $$BEGIN RAISE EXCEPTION 'refused: %', OLD.bewidn; END$$;"
        "DROP TRIGGER IF EXISTS refuse ON keldomar.zkr321bew;"
        "CREATE TRIGGER refuse BEFORE UPDATE OR DELETE ON keldomar.zkr321bew FOR EACH ROW"
        " WHEN (OLD.bewidn IN (" + ids + ") OR OLD.bewtid = 'refuse')"
        " EXECUTE FUNCTION keldomar.refuse()");
}

void PgTest::TearDown() { PgDisconnect(); }

void PgTest::Owner(const std::string& sql) {
  PgResult result(PQexec(owner_.get(), sql.c_str()));
  ExecStatusType status = PQresultStatus(result.get());
  ASSERT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
      << sql << ": " << PQerrorMessage(owner_.get());
}

PgRows PgTest::OwnerQuery(const std::string& sql) {
  PgResult result(PQexec(owner_.get(), sql.c_str()));
  EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << sql << ": "
                                                           << PQerrorMessage(owner_.get());
  PgRows rows;
  for (int r = 0; r < PQntuples(result.get()); ++r) {
    std::vector<PgValue>& row = rows.emplace_back();
    for (int c = 0; c < PQnfields(result.get()); ++c) {
      if (PQgetisnull(result.get(), r, c)) row.emplace_back(std::nullopt);
      else row.emplace_back(PQgetvalue(result.get(), r, c));
    }
  }
  return rows;
}

void PgTest::Insert(const std::map<std::string, std::string>& columns) {
  std::map<std::string, std::string> row{
      {"bewtid", "'T1'"}, {"bewlid", "'L1'"}, {"bewidn", "'1001'"},
      {"bewsto", "'A'"}, {"bewdtm", "'2024-03-05 00:00:00'"},
      {"bewuhr", "'2024-03-05 07:09:02'"}, {"bewlfn", "'1'"}, {"bewart", "'K'"},
      {"bewtas", "'1'"}, {"bewera", "'E1'"}, {"bewkze", "'K'"}, {"bewber", "'B'"},
      {"bewerq", "'Q'"}, {"bewkst", "'KST'"}, {"bewqua", "'Q1'"}, {"bewsrc", "'DTA'"},
      {"bewres", "'R'"}, {"bewukz", "NULL"}, {"bewudt", "NULL"},
      {"bewdat", "localtimestamp(0)"}};  // too young for the purge
  for (const auto& [name, value] : columns) {
    ASSERT_TRUE(row.contains(name)) << name;
    row[name] = value;
  }
  std::string names, values;
  for (const auto& [name, value] : row) {
    names += (names.empty() ? "" : ", ") + name;
    values += (values.empty() ? "" : ", ") + value;
  }
  Owner("INSERT INTO keldomar.zkr321bew (" + names + ") VALUES (" + values + ")");
}

int32_t PgTest::Login(const std::string& net8) {
  return SQL_Connect(server_.user.c_str(), server_.password.c_str(),
                     (net8.empty() ? server_.Net8() : net8).c_str(), "KELDOMAR");
}
