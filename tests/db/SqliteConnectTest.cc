// Connecting to a database file and switching the schema, and every way it
// can fail: each a clear negative status, never a crash or a new file.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>

#include "SqliteTestDb.h"
#include "db/KortivaneSQL.h"
#include "db/SQLHlp.h"
#include "db/SqlRuntime.h"
#include "db/sqlite/SqliteStatus.h"

namespace {

int32_t RunText(SqlKind kind, std::string text) {
  std::array<SqlHostVar, 1> vars{SqlHostVar{text.data(), static_cast<int32_t>(text.size() + 1),
                                            SqlDir::kIn, kSqlTypeString, nullptr}};
  SqlRun({kind, {}, vars});
  return sqlca.sqlcode;
}

TEST(SqliteConnect, ConnectTextForms) {
  TempDb db;
  const std::string path = db.path();
  struct Case {
    std::string text;
    int32_t status;
  } cases[] = {
      {"u/p@" + path, 0},
      {"/@" + path, 0},                       // no user, no password: SQLite needs none
      {"us/p/w@x@" + path, 0},                // the service begins after the last "@"
      {"u/p@", SqliteStatus(SQLITE_CANTOPEN)},  // never a temporary database
      {"u/p@" + path + ".missing", SqliteStatus(SQLITE_CANTOPEN)},
      {"u/p@" + db.dir().string(), SqliteStatus(SQLITE_CANTOPEN)},
      {"up@" + path, kSqlErrBadConnectText},
      {"u/p" + path, kSqlErrBadConnectText},
      {"u@x/p", kSqlErrBadConnectText},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunText(SqlKind::kConnect, c.text), c.status) << c.text;
    Disconnect();
  }
  EXPECT_FALSE(std::filesystem::exists(path + ".missing"));
}

TEST(SqliteConnect, FailuresOfTheFileAreNegative) {
  TempDb db;
  std::string text_file = (db.dir() / "notes.txt").string();
  std::ofstream(text_file) << "this is no database, only text that is long enough\n";
  EXPECT_EQ(ConnectTo(text_file), SqliteStatus(SQLITE_NOTADB));

  std::string empty_db = (db.dir() / "empty.db").string();
  RawDb(empty_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE).Exec("CREATE TABLE other (x)");
  EXPECT_EQ(ConnectTo(empty_db), kSqliteErrNoTable);

  EXPECT_EQ(ConnectTo(db.path()), 0);
}

TEST(SqliteConnect, StatementsNeedAConnection) {
  Disconnect();
  BewRecord record;
  EXPECT_EQ(SQL_OpenBew(), kSqlErrNotConnected);
  EXPECT_EQ(SQL_FetchBew(record), kSqlErrNotConnected);
  EXPECT_EQ(SQL_MarkTranfer(record), kSqlErrNotConnected);
  EXPECT_EQ(SQL_DeleteOld(), kSqlErrNotConnected);
  EXPECT_EQ(SQL_Commit(), 0);
}

TEST(SqliteConnect, SchemaStatement) {
  TempDb db;
  ASSERT_EQ(RunText(SqlKind::kConnect, "u/p@" + db.path()), 0);
  SqlRun({SqlKind::kExecute, {}, {}});
  EXPECT_EQ(sqlca.sqlcode, kSqlErrNothingPrepared);

  struct Case {
    std::string text;
    int32_t prepare, execute;
  } cases[] = {
      {"ALTER SESSION SET CURRENT_SCHEMA=KELDOMAR", 0, 0},
      {"ALTER SESSION SET NLS_DATE_FORMAT='DD.MM.YYYY'", kSqlErrUnknownStatement,
       kSqlErrNothingPrepared},
      {"alter session set current_schema=KELDOMAR", kSqlErrUnknownStatement,
       kSqlErrNothingPrepared},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunText(SqlKind::kPrepare, c.text), c.prepare) << c.text;
    SqlRun({SqlKind::kExecute, {}, {}});
    EXPECT_EQ(sqlca.sqlcode, c.execute) << c.text;
  }
}

TEST(SqliteConnect, UnknownTextIsRefused) {
  TempDb db;
  ASSERT_EQ(ConnectTo(db.path()), 0);
  SqlRun({SqlKind::kDelete, "delete from KELDOMAR.ZKR321BEW", {}});
  EXPECT_EQ(sqlca.sqlcode, kSqlErrUnknownStatement);
  SqlRun({SqlKind::kOpen, "select * from KELDOMAR.Zkr321Bew", {}});
  EXPECT_EQ(sqlca.sqlcode, kSqlErrUnknownStatement);
  EXPECT_EQ(RawDb(db.path()).Scalar("SELECT count(*) FROM Zkr321Bew"), "0");
}

// The connect text has room for 100 characters; one more is refused before
// anything reaches the database.
TEST(SqliteConnect, ConnectTextOfAtMost100Characters) {
  TempDb db;
  const std::string path = db.path();
  ASSERT_LT(path.size(), 90u);
  const std::string password = "geheim";
  const std::string user_fits(100 - 2 - password.size() - path.size(), 'u');

  EXPECT_EQ(SQL_Connect(user_fits.c_str(), password.c_str(), path.c_str(), "KELDOMAR"), 0);
  Disconnect();
  const std::string user_over = user_fits + "u";
  EXPECT_EQ(SQL_Connect(user_over.c_str(), password.c_str(), path.c_str(), "KELDOMAR"),
            kSqlErrConnectTextTooLong);
  EXPECT_EQ(SQL_OpenBew(), kSqlErrNotConnected);

  const std::string long_password(300, 'p');
  EXPECT_EQ(SQL_Connect("u", long_password.c_str(), path.c_str(), "KELDOMAR"),
            kSqlErrConnectTextTooLong);
}

// Another process holds the write lock: the connect waits the busy timeout,
// then fails with SQLite's BUSY.
TEST(SqliteConnect, LockedDatabaseFailsAfterTheBusyTimeout) {
  TempDb db;
  RawDb other(db.path());
  ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ConnectTo(db.path()), SqliteStatus(SQLITE_BUSY));
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(kSqliteBusyTimeoutMs / 2));
  ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);
  EXPECT_EQ(ConnectTo(db.path()), 0);
}

// A database made without WAL mode is switched to it at the connect; the
// mode belongs to the file and stays.
TEST(SqliteConnect, SwitchesTheFileToWal) {
  TempDb db;
  std::string path = (db.dir() / "rollback.db").string();
  {
    RawDb raw(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    ASSERT_EQ(raw.Exec("CREATE TABLE Zkr321Bew (BewIDN TEXT)"), SQLITE_OK);
    ASSERT_EQ(raw.Scalar("PRAGMA journal_mode"), "delete");
  }
  EXPECT_EQ(ConnectTo(path), 0);
  Disconnect();
  EXPECT_EQ(RawDb(path).Scalar("PRAGMA journal_mode"), "wal");
}

TEST(SqliteConnect, SysDateIsTheLocalTime) {
  TempDb db;
  std::array<char, 20> out{};
  ASSERT_EQ(ConnectTo(db.path()), 0);
  ASSERT_EQ(SQL_GetSysDate(out.data()), 0);
  ASSERT_EQ(std::strlen(out.data()), 19u) << out.data();
  std::tm parsed{};
  ASSERT_NE(strptime(out.data(), "%d.%m.%Y %H:%M:%S", &parsed), nullptr) << out.data();
  parsed.tm_isdst = -1;
  EXPECT_LT(std::abs(std::difftime(std::mktime(&parsed), std::time(nullptr))), 5.0) << out.data();

  // A failed query hands back what the module's buffer held before.
  Disconnect();
  std::array<char, 20> again{};
  EXPECT_EQ(SQL_GetSysDate(again.data()), kSqlErrNotConnected);
  EXPECT_STREQ(again.data(), out.data());
}

}  // namespace
