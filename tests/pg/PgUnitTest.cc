// The backend's parts that need no server: the connect text, the status
// codes, the dialect table, and statements refused before reaching a server.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "db/SqlRuntime.h"
#include "db/pg/PgConnectText.h"
#include "db/pg/PgDialect.h"
#include "db/pg/PgRuntime.h"
#include "db/pg/PgStatus.h"

namespace {

TEST(PgConnectText, SplitsUserPasswordAndTheThreeServiceForms) {
  struct Case {
    const char* text;
    const char* user;
    const char* password;
    const char* host;
    const char* port;
    const char* dbname;
  } cases[] = {
      {"zeit/geheim@db1.example:5433/zeit", "zeit", "geheim", "db1.example", "5433", "zeit"},
      {"zeit/geheim@db1.example/zeit", "zeit", "geheim", "db1.example", "", "zeit"},
      {"zeit/geheim@zeit", "zeit", "geheim", "", "", "zeit"},
      {"zeit/[::1]:5433/zeit@[::1]:5433/zeit", "zeit", "[::1]:5433/zeit", "::1", "5433", "zeit"},
      // The password runs from the first "/" to the last "@".
      {"zeit/a/b@c d' \"e@127.0.0.1/zeit", "zeit", "a/b@c d' \"e", "127.0.0.1", "", "zeit"},
      {"zeit/@zeit", "zeit", "", "", "", "zeit"},
  };
  for (const Case& c : cases) {
    PgConnectParts parts;
    ASSERT_EQ(SplitConnectText(c.text, parts), 0) << c.text;
    EXPECT_EQ(parts.user, c.user) << c.text;
    EXPECT_EQ(parts.password, c.password) << c.text;
    EXPECT_EQ(parts.host, c.host) << c.text;
    EXPECT_EQ(parts.port, c.port) << c.text;
    EXPECT_EQ(parts.dbname, c.dbname) << c.text;
  }
}

TEST(PgConnectText, RefusesTextsWithoutAUsableService) {
  for (const char* text : {"zeit/geheim@", "zeit/geheim", "zeitgeheim@zeit", "/geheim@zeit",
                           "zeit@geheim/x", "zeit/geheim@host:/zeit", "zeit/geheim@host:0/zeit",
                           "zeit/geheim@host:65536/zeit", "zeit/geheim@host:54a/zeit",
                           "zeit/geheim@:5432/zeit", "zeit/geheim@host/", "zeit/geheim@h/d/x",
                           "zeit/geheim@[::1/zeit", "zeit/geheim@[::1]x/zeit"}) {
    PgConnectParts parts;
    EXPECT_EQ(SplitConnectText(text, parts), kSqlErrBadConnectText) << text;
  }
}

TEST(PgStatus, SqlStateBecomesItsNegativeBase36Value) {
  EXPECT_EQ(SqlStateStatus("28P01"), -3764881);
  EXPECT_EQ(SqlStateStatus("3D000"), -5645376);
  EXPECT_EQ(SqlStateStatus("57P01"), -8757073);
  EXPECT_EQ(SqlStateStatus("ZZZZZ"), -60466175);
  // The smallest error class lies below every code of the layer's own.
  EXPECT_LT(SqlStateStatus("03000"), kPgErrConnectTimeout);
  for (const char* bad : {"", "2800", "28P011", "28p01", "28 01"}) {
    EXPECT_EQ(SqlStateStatus(bad), 0) << bad;
  }
}

TEST(PgStatus, FindsTheSqlStateOfTheLastServerMessage) {
  EXPECT_EQ(SqlStateInMessage("connection to server at \"127.0.0.1\", port 5 failed: FATAL:  28P01\n"),
            "28P01");
  EXPECT_EQ(SqlStateInMessage("connection to server at \"::1\" failed: Connection refused\n"
                              "connection to server at \"127.0.0.1\" failed: FATAL:  3D000\n"),
            "3D000");
  EXPECT_EQ(SqlStateInMessage("could not translate host name \"x\" to address: Name or service\n"),
            "");
  EXPECT_EQ(SqlStateInMessage("FATAL:  28P01 trailing text\n"), "");
}

TEST(PgDialect, KnowsOnlyTheProgramsTextsAndKinds) {
  constexpr std::string_view kSysDate =
      "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') into :b0  from dual";
  EXPECT_NE(FindPgStatement(SqlKind::kSelectInto, kSysDate), nullptr);
  EXPECT_EQ(FindPgStatement(SqlKind::kUpdate, kSysDate), nullptr);
  // One byte off is another text: nothing is matched loosely.
  EXPECT_EQ(FindPgStatement(SqlKind::kSelectInto,
                            "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') into :b0 from dual"),
            nullptr);
}

TEST(PgDialect, SchemaSwitchByItsPrefixWithAPlainName) {
  std::string schema;
  EXPECT_TRUE(ParseSchemaSwitch("ALTER SESSION SET CURRENT_SCHEMA=KELDOMAR", schema));
  EXPECT_EQ(schema, "keldomar");
  for (const char* bad : {"ALTER SESSION SET CURRENT_SCHEMA=", "alter session set current_schema=K",
                          "ALTER SESSION SET CURRENT_SCHEMA=KEL DOMAR",
                          "ALTER SESSION SET CURRENT_SCHEMA=\"x\"",
                          "ALTER SESSION SET CURRENT_SCHEMA=x,public",
                          "ALTER SESSION SET CURRENT_SCHEMA=$user",
                          "ALTER SESSION SET CURRENT_SCHEMA=1abc"}) {
    EXPECT_FALSE(ParseSchemaSwitch(bad, schema)) << bad;
  }
}

TEST(PgRuntime, StatementsBeforeAConnectFailWithoutAServer) {
  PgDisconnect();
  sqlca.sqlcode = 0;
  SqlRun({SqlKind::kCommit, {}, {}});
  EXPECT_EQ(sqlca.sqlcode, kSqlErrNotConnected);

  std::array<char, 101> text{"no-slash-or-at"};
  std::array<SqlHostVar, 1> vars{
      SqlHostVar{text.data(), 101, SqlDir::kIn, kSqlTypeString, nullptr}};
  SqlRun({SqlKind::kConnect, {}, vars});
  EXPECT_EQ(sqlca.sqlcode, kSqlErrBadConnectText);

  vars[0].dir = SqlDir::kOut;
  SqlRun({SqlKind::kConnect, {}, vars});
  EXPECT_EQ(sqlca.sqlcode, kSqlErrBadHostVars);
}

}  // namespace
