// The PostgreSQL server the tests run against, as scripts/pg-test-server.sh
// exports it (MORVASK_PG_*), and a fixture that empties the booking table
// before each test and fills it through the table's owner.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "db/pg/PgConnection.h"

struct PgTestServer {
  std::string host, port, socket_dir, db, user, password, owner, owner_password;
  std::string Net8() const { return host + ":" + port + "/" + db; }
};

// The server from the environment, or nothing when it is not set.
std::optional<PgTestServer> PgTestServerFromEnv();

using PgValue = std::optional<std::string>;  // nullopt: NULL
using PgRows = std::vector<std::vector<PgValue>>;

class PgTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs SQL as the table's owner (client encoding UTF8, autocommit).
  void Owner(const std::string& sql);
  PgRows OwnerQuery(const std::string& sql);
  // Inserts one booking: a complete pending row with the given columns
  // replaced. Values are SQL expressions ("'abc'", "NULL", "localtimestamp").
  void Insert(const std::map<std::string, std::string>& columns = {});
  // Makes the server refuse (SQLSTATE P0001) every update or delete of a row
  // whose BewIDN is in ids ("'a', 'b'") or whose BewTID is 'refuse'.
  void RefuseChanges(const std::string& ids);
  // Logs in as the run's role with SQL_Connect, schema KELDOMAR.
  int32_t Login(const std::string& net8 = "");

  PgTestServer server_;
  PgConn owner_;
};
