// Login, schema switch, server clock and the run's one transaction, at the
// level of SqlRun and the session module.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include "PgTestServer.h"
#include "db/KortivaneSQL.h"
#include "db/SQLHlp.h"
#include "db/SqlRuntime.h"
#include "db/pg/PgStatus.h"

namespace {

constexpr std::string_view kSysDateText =
    "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') into :b0  from dual";
constexpr std::string_view kMarkText =
    "update KELDOMAR.Zkr321Bew  set BewUkz=4,BewUdt=SYSTIMESTAMP where ((((BewIDN=:b0 and "
    "BewSto=:b1) and BewDtm=to_date(:b2,'yyyymmddhh24miss')) and "
    "BewUhr=to_date(:b3,'yyyymmddhh24miss')) and BewLfn=:b4)";

// Sets environment variables for one scope and restores them after.
class ScopedEnv {
 public:
  void Set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old != nullptr, old != nullptr ? old : ""});
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    for (const Saved& s : saved_) {
      if (s.had) setenv(s.name, s.value.c_str(), 1);
      else unsetenv(s.name);
    }
  }

 private:
  struct Saved {
    const char* name;
    bool had;
    std::string value;
  };
  std::vector<Saved> saved_;
};

using PgSessionTest = PgTest;

TEST_F(PgSessionTest, LogsInWithEveryNet8Form) {
  ScopedEnv env;
  // libpq's defaults fill what a form leaves out: the port, the socket.
  env.Set("PGPORT", server_.port);
  env.Set("PGHOST", server_.socket_dir);
  for (const std::string& net8 :
       {server_.Net8(), server_.host + "/" + server_.db, server_.db}) {
    EXPECT_EQ(Login(net8), 0) << net8;
    std::array<char, 20> now{};
    EXPECT_EQ(SQL_GetSysDate(now.data()), 0) << net8;
  }
}

TEST_F(PgSessionTest, FailedLoginsGiveTheirOwnNegativeStatusAndNoPassword) {
  const std::string wrong_password = "Falsch 'pw\" x";
  struct Case {
    const char* what;
    std::string password, net8, schema;
    int32_t status;
  } cases[] = {
      {"wrong password", wrong_password, server_.Net8(), "KELDOMAR", SqlStateStatus("28P01")},
      {"unknown database", server_.password, server_.host + ":" + server_.port + "/nosuchdb",
       "KELDOMAR", SqlStateStatus("3D000")},
      {"nobody listening", server_.password, "127.0.0.1:1/" + server_.db, "KELDOMAR",
       kPgErrConnectFailed},
      {"unknown schema", server_.password, server_.Net8(), "NOSUCH", SqlStateStatus("3F000")},
      {"schema without the table", server_.password, server_.Net8(), "PUBLIC",
       SqlStateStatus("42P01")},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int32_t status = SQL_Connect(server_.user.c_str(), c.password.c_str(), c.net8.c_str(),
                                 c.schema.c_str());
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, c.status) << c.what;
    EXPECT_LT(status, 0) << c.what;
    EXPECT_EQ(out.find(c.password), std::string::npos) << c.what;
    EXPECT_EQ(err.find(c.password), std::string::npos) << c.what;
  }
}

TEST_F(PgSessionTest, ServerClockAsTextCutToTheBuffer) {
  ASSERT_EQ(Login(), 0);
  std::array<char, 20> now{};
  std::array<SqlHostVar, 1> vars{
      SqlHostVar{now.data(), 20, SqlDir::kOut, kSqlTypeString, nullptr}};
  SqlRun({SqlKind::kSelectInto, kSysDateText, vars});
  ASSERT_EQ(sqlca.sqlcode, 0);
  EXPECT_TRUE(std::regex_match(now.data(), std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)")))
      << now.data();
  PgRows server_day = OwnerQuery("SELECT to_char(localtimestamp, 'DD.MM.YYYY')");
  EXPECT_EQ(std::string(now.data(), 10), *server_day[0][0]);

  std::array<char, 11> small{};
  small.fill('#');
  vars[0] = SqlHostVar{small.data(), 10, SqlDir::kOut, kSqlTypeString, nullptr};
  SqlRun({SqlKind::kSelectInto, kSysDateText, vars});
  ASSERT_EQ(sqlca.sqlcode, 0);
  EXPECT_STREQ(small.data(), std::string(now.data(), 9).c_str());
  EXPECT_EQ(small[10], '#');  // nothing written past the 10 bytes
}

TEST_F(PgSessionTest, RefusesUnknownTextsAndMisfittingHostVariables) {
  ASSERT_EQ(Login(), 0);
  std::array<char, 20> out{};
  std::array<SqlHostVar, 1> one{SqlHostVar{out.data(), 20, SqlDir::kOut, kSqlTypeString, nullptr}};
  SqlRun({SqlKind::kSelectInto, "select sysdate from dual", one});
  EXPECT_EQ(sqlca.sqlcode, kSqlErrUnknownStatement);
  SqlRun({SqlKind::kUpdate, kMarkText, one});
  EXPECT_EQ(sqlca.sqlcode, kSqlErrBadHostVars);
  SqlRun({SqlKind::kPrepare, "DROP TABLE keldomar.zkr321bew", {}});
  EXPECT_EQ(sqlca.sqlcode, kSqlErrUnknownStatement);
  SqlRun({SqlKind::kExecute, {}, {}});
  EXPECT_EQ(sqlca.sqlcode, kSqlErrNothingPrepared);
  BewRecord booking;
  EXPECT_EQ(SQL_FetchBew(booking), kSqlErrCursorNotOpen);
  EXPECT_EQ(SQL_CloseBew(), kSqlErrCursorNotOpen);
  // None of it broke the transaction.
  EXPECT_EQ(SQL_Commit(), 1);
}

// Marks one booking at the SqlRun level with the given key texts.
int32_t Mark(std::array<std::string, 5> key) {
  std::array<std::array<char, 51>, 5> buffers{};
  std::array<SqlHostVar, 5> vars{};
  for (size_t i = 0; i < 5; ++i) {
    std::strncpy(buffers[i].data(), key[i].c_str(), 50);
    vars[i] = SqlHostVar{buffers[i].data(), 51, SqlDir::kIn, kSqlTypeString, nullptr};
  }
  SqlRun({SqlKind::kUpdate, kMarkText, vars});
  return sqlca.sqlcode;
}

TEST_F(PgSessionTest, AFailedMarkUndoesOnlyItselfAndTheRunGoesOn) {
  Insert({{"bewidn", "'1001'"}});
  // Two rows of one key; the server refuses the change of the second, after
  // the first one's change was already made by the same statement.
  Insert({{"bewidn", "'1002'"}, {"bewtid", "'first'"}});
  Insert({{"bewidn", "'1002'"}, {"bewtid", "'refuse'"}});
  Insert({{"bewidn", "'1003'"}});
  RefuseChanges("''");
  ASSERT_EQ(Login(), 0);
  EXPECT_EQ(Mark({"1001", "A", "20240305000000", "20240305070902", "1"}), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 1);
  EXPECT_EQ(Mark({"1001", "A", "20241399000000", "20240305070902", "1"}), SqlStateStatus("22008"));
  EXPECT_EQ(Mark({"1002", "A", "20240305000000", "20240305070902", "1"}), SqlStateStatus("P0001"));
  EXPECT_EQ(sqlca.sqlerrd[2], 0);
  EXPECT_EQ(Mark({"1003", "A", "20240305000000", "20240305070902", "1"}), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 1);
  EXPECT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(OwnerQuery("SELECT bewidn, bewtid, bewukz FROM keldomar.zkr321bew ORDER BY 1, 2"),
            (PgRows{{"1001", "T1", "4"},
                    {"1002", "first", std::nullopt},
                    {"1002", "refuse", std::nullopt},
                    {"1003", "T1", "4"}}));
}

TEST_F(PgSessionTest, EmptyKeyTextsMatchNothingAsOracleNulls) {
  Insert({{"bewsto", "''"}, {"bewlfn", "''"}});
  ASSERT_EQ(Login(), 0);
  EXPECT_EQ(Mark({"1001", "", "20240305000000", "20240305070902", ""}), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 0);
  EXPECT_EQ(Mark({"1001", "A", "", "20240305070902", "1"}), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 0);
}

TEST_F(PgSessionTest, KeyStoredWithTrailingBlanksIsFoundByItsTrimmedTexts) {
  // The fetch delivers "A" and "1"; the mark must find the row with them.
  Insert({{"bewsto", "'A   '"}, {"bewlfn", "'1 '"}});
  ASSERT_EQ(Login(), 0);
  EXPECT_EQ(Mark({"1001", "A", "20240305000000", "20240305070902", "1"}), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 1);
}

TEST_F(PgSessionTest, KeyInTheSkippedSummerTimeHourIsFound) {
  ScopedEnv env;
  env.Set("PGTZ", "Europe/Berlin");  // the run's session time zone
  Insert({{"bewuhr", "'2024-03-31 02:30:00'"}});
  ASSERT_EQ(Login(), 0);
  EXPECT_EQ(Mark({"1001", "A", "20240305000000", "20240331023000", "1"}), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 1);
}

}  // namespace
