// The Oracle backend against the recording stand-in of the client library,
// loaded through the backend's own run-time loading path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeOciFixture.h"
#include "db/ora/OraStatus.h"

namespace {

// The 17 output buffers of a fetch, sharing one indicator as the caller does.
struct FetchBuffers {
  std::vector<std::vector<char>> columns;
  std::vector<SqlHostVar> vars;
  int16_t shared_indicator = 7;
  FetchBuffers() {
    for (int32_t size : kSelectSizes) columns.emplace_back(static_cast<size_t>(size), 'X');
    for (auto& column : columns) {
      column.back() = '\0';  // filled with X: a NULL column must not keep them
      vars.push_back({column.data(), static_cast<int32_t>(column.size()), SqlDir::kOut,
                      kSqlTypeString, &shared_indicator});
    }
  }
  std::string operator[](size_t i) const { return std::string(columns[i].data()); }
  int32_t Fetch() { return RunSql(SqlKind::kFetch, kCursorText, vars); }
};

struct MarkKey {
  Text<51> idn;
  Text<9> sto;
  Text<20> dtm;
  Text<20> uhr;
  Text<4> lfn;
  std::array<SqlHostVar, 5> vars;
  MarkKey(std::string_view i, std::string_view s, std::string_view d, std::string_view u,
          std::string_view l)
      : idn(i), sto(s), dtm(d), uhr(u), lfn(l),
        vars{idn.In(), sto.In(), dtm.In(), uhr.In(), lfn.In()} {}
  int32_t Mark() { return RunSql(SqlKind::kUpdate, kMarkText, vars); }
};

std::string Row(const std::vector<std::string>& values) {
  std::string line = "row";
  for (const std::string& v : values) line += "\t" + v;
  return line + "\n";
}

const std::vector<std::string> kFullRow = {
    "T1", "L1", "4711", "S", "20240305070902", "20240305071500", "1", "A", "01", "ERA",
    "K", "B", "ERQ", "KST", "Q1", "SRC", "RES"};

TEST_F(FakeOciTest, LoginSendsTheConnectPartsAndTheSchemaStatementAsTheyStand) {
  ASSERT_EQ(Login("scott/tiger@ORCL"), 0);

  const auto env = Calls("EnvNlsCreate");
  ASSERT_EQ(env.size(), 1u);
  EXPECT_TRUE(env[0].Has("charset=178")) << "texts travel as Windows-1252";
  const auto logon = Calls("Logon");
  ASSERT_EQ(logon.size(), 1u);
  EXPECT_EQ(logon[0].Get("user"), "[scott]");
  EXPECT_EQ(logon[0].Get("password"), "[tiger]");
  EXPECT_EQ(logon[0].Get("db"), "[ORCL]");

  const auto prepare = Calls("Prepare");
  ASSERT_EQ(prepare.size(), 1u);
  EXPECT_EQ(prepare[0].Get("text"), kSchemaText);
  EXPECT_EQ(prepare[0].Get("language"), "1");
  const auto execute = Calls("Execute");
  ASSERT_EQ(execute.size(), 1u);
  EXPECT_EQ(execute[0].Get("iters"), "1");
  EXPECT_EQ(execute[0].Get("mode"), "0");
}

TEST_F(FakeOciTest, ConnectTextIsSplitAtTheFirstSlashAndTheLastAt) {
  struct Case {
    const char* text;
    const char* user;
    const char* password;
    const char* db;
  };
  const Case cases[] = {
      {"U/P@", "[U]", "[P]", "[]"},  // empty NET8: the client's default database
      {"U/p/w@svc", "[U]", "[p/w]", "[svc]"},
      {"U/p@w@host:1521/XE", "[U]", "[p@w]", "[host:1521/XE]"},
      {"/@", "[]", "[]", "[]"},
  };
  for (const Case& c : cases) {
    ClearLog();
    EXPECT_EQ(ConnectAs(c.text), 0) << c.text;
    const auto logon = Calls("Logon");
    ASSERT_EQ(logon.size(), 1u) << c.text;
    EXPECT_EQ(logon[0].Get("user"), c.user) << c.text;
    EXPECT_EQ(logon[0].Get("password"), c.password) << c.text;
    EXPECT_EQ(logon[0].Get("db"), c.db) << c.text;
  }
  for (const char* bad : {"UP@S", "U/P", "U@S/P", ""}) {
    ClearLog();
    EXPECT_EQ(ConnectAs(bad), kSqlErrBadConnectText) << bad;
    EXPECT_TRUE(Calls("Logon").empty()) << bad;
  }
}

TEST_F(FakeOciTest, ScriptedOraErrorsBecomeNegatedOraNumbers) {
  Script("error\tlogon\t1017\n");
  EXPECT_EQ(ConnectAs("scott/wrong@ORCL"), -1017);
  EXPECT_EQ(RunSql(SqlKind::kCommit), kSqlErrNotConnected) << "a failed logon leaves no session";

  Script("error\texecute:ALTER SESSION\t1435\n");
  EXPECT_EQ(Login(), -1435);

  Script("error\texecute:update\t54\nerror\texecute:delete\t60\nerror\tcommit\t3113\n");
  ASSERT_EQ(Login(), 0);
  MarkKey key("4711", "S", "20240305070902", "20240305071500", "1");
  EXPECT_EQ(key.Mark(), -54);
  EXPECT_EQ(RunSql(SqlKind::kDelete, kPurgeText), -60);
  EXPECT_EQ(RunSql(SqlKind::kCommit), -3113);
}

TEST_F(FakeOciTest, SelectIntoSendsTheQueryWithoutIntoAndDefinesOneStringOfTwentyBytes) {
  Script("single\t05.03.2024 07:09:02\n");
  ASSERT_EQ(Login(), 0);
  Text<20> now;
  SqlHostVar var = now.Out();
  EXPECT_EQ(RunSql(SqlKind::kSelectInto, kSysDateText, std::span(&var, 1)), 0);
  EXPECT_EQ(now.str(), "05.03.2024 07:09:02");

  const auto prepare = Calls("Prepare");
  ASSERT_EQ(prepare.size(), 2u);
  EXPECT_EQ(prepare[1].Get("text"), kSysDateQuery);
  const auto define = Calls("Define");
  ASSERT_EQ(define.size(), 1u);
  EXPECT_EQ(define[0].Get("pos"), "1");
  EXPECT_EQ(define[0].Get("size"), "20");
  EXPECT_EQ(define[0].Get("type"), "5");
  EXPECT_EQ(Calls("Execute").back().Get("iters"), "1");
}

// The stand-in refuses embedded SQL as a server does, and the backend sends
// no select-into text it does not know.
TEST_F(FakeOciTest, IntoClauseNeverReachesTheServer) {
  Script("single\t05.03.2024 07:09:02\n");
  ASSERT_EQ(Login(), 0);
  EXPECT_EQ(RunSql(SqlKind::kOpen, kSysDateText), -905) << "the stand-in must refuse INTO";
  ClearLog();

  Text<20> now("earlier");
  SqlHostVar var = now.Out();
  const std::string_view other = "select USER into :b0  from dual";
  EXPECT_EQ(RunSql(SqlKind::kSelectInto, other, std::span(&var, 1)), kSqlErrUnknownStatement);
  EXPECT_EQ(now.str(), "earlier");
  EXPECT_TRUE(Calls("Prepare").empty());
  EXPECT_TRUE(Calls("Execute").empty());
}

TEST_F(FakeOciTest, SelectIntoWithoutRowIsNotFound) {
  ASSERT_EQ(Login(), 0);
  Text<20> now("earlier");
  SqlHostVar var = now.Out();
  EXPECT_EQ(RunSql(SqlKind::kSelectInto, kSysDateText, std::span(&var, 1)), kSqlNotFound);
  EXPECT_EQ(now.str(), "earlier");
}

TEST_F(FakeOciTest, CursorPrefetchesManyRowsAndHandsOutOneRowPerFetch) {
  Script(Row(kFullRow) + Row(kFullRow) + Row(kFullRow));
  ASSERT_EQ(Login(), 0);
  ClearLog();
  ASSERT_EQ(RunSql(SqlKind::kOpen, kCursorText), 0);

  const auto calls = Calls();
  const auto prepare = Calls("Prepare");
  ASSERT_EQ(prepare.size(), 1u);
  EXPECT_EQ(prepare[0].Get("text"), kCursorText);
  const auto attr = Calls("AttrSet");
  ASSERT_EQ(attr.size(), 1u);
  EXPECT_EQ(attr[0].Get("attr"), "11");
  EXPECT_GE(std::stoi(attr[0].Get("value")), 100);
  const auto execute = Calls("Execute");
  ASSERT_EQ(execute.size(), 1u);
  EXPECT_EQ(execute[0].Get("iters"), "0") << "the open runs the query without fetching";
  EXPECT_LT(std::find_if(calls.begin(), calls.end(), [](const Call& c) { return c.name == "AttrSet"; }),
            std::find_if(calls.begin(), calls.end(), [](const Call& c) { return c.name == "Execute"; }))
      << "the prefetch is set before the query runs";

  FetchBuffers row;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(row.Fetch(), 0) << "row " << i;
    EXPECT_EQ(row[2], "4711");
    EXPECT_EQ(row[16], "RES");
  }
  EXPECT_EQ(row.Fetch(), kSqlNotFound);
  EXPECT_EQ(row.Fetch(), kSqlNotFound);

  const auto fetches = Calls("Fetch");
  ASSERT_EQ(fetches.size(), 5u);
  for (const Call& f : fetches) {
    EXPECT_EQ(f.Get("nrows"), "1");
    EXPECT_EQ(f.Get("orientation"), "2");
  }
  EXPECT_EQ(RunSql(SqlKind::kClose, kCursorText), 0);
  EXPECT_EQ(Calls("HandleFree").back().Get("type"), "4");
}

TEST_F(FakeOciTest, FetchDefinesSeventeenStringsOfTheRecordSizesInSelectOrder) {
  Script(Row(kFullRow));
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(RunSql(SqlKind::kOpen, kCursorText), 0);
  FetchBuffers row;
  ASSERT_EQ(row.Fetch(), 0);
  ASSERT_EQ(row.Fetch(), kSqlNotFound);

  const auto defines = Calls("Define");
  ASSERT_EQ(defines.size(), 17u) << "defined once for the cursor, not again per fetch";
  for (size_t i = 0; i < defines.size(); ++i) {
    EXPECT_EQ(defines[i].Get("pos"), std::to_string(i + 1));
    EXPECT_EQ(defines[i].Get("size"), std::to_string(kSelectSizes[i])) << "column " << i + 1;
    EXPECT_EQ(defines[i].Get("type"), "5");
    EXPECT_EQ(defines[i].Get("ind"), "yes") << "a NULL column must not be an error";
  }
  for (size_t i = 0; i < kFullRow.size(); ++i) EXPECT_EQ(row[i], kFullRow[i]) << "column " << i + 1;
}

TEST_F(FakeOciTest, NullColumnsReadEmptyAndLongValuesAreCutToTheBuffer) {
  std::vector<std::string> values = kFullRow;
  values[13] = "\\N";  // BewKst
  values[4] = "\\N";   // BewDtm
  values[10] = "KZ";   // BewKze: one character fits its 2 bytes
  values[0] = std::string(300, 'T');
  Script(Row(values) + Row(kFullRow));
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(RunSql(SqlKind::kOpen, kCursorText), 0);

  FetchBuffers row;
  ASSERT_EQ(row.Fetch(), 0);
  EXPECT_EQ(row[13], "");
  EXPECT_EQ(row[4], "");
  EXPECT_EQ(row[10], "K");
  EXPECT_EQ(row[0], std::string(255, 'T'));
  EXPECT_EQ(row[12], "ERQ");
  EXPECT_EQ(row.shared_indicator, 0) << "the last column (BewRes) is not NULL";

  ASSERT_EQ(row.Fetch(), 0);
  EXPECT_EQ(row[13], "KST") << "nothing of a NULL survives into the next row";
}

TEST_F(FakeOciTest, FetchErrorAndCursorMisuse) {
  Script(Row(kFullRow) + Row(kFullRow) + "error\tfetch:2\t1555\n");
  ASSERT_EQ(Login(), 0);
  FetchBuffers row;
  EXPECT_EQ(row.Fetch(), kSqlErrCursorNotOpen);
  EXPECT_EQ(RunSql(SqlKind::kClose, kCursorText), kSqlErrCursorNotOpen);
  ASSERT_EQ(RunSql(SqlKind::kOpen, kCursorText), 0);
  EXPECT_EQ(row.Fetch(), 0);
  EXPECT_EQ(row.Fetch(), -1555);
  EXPECT_EQ(RunSql(SqlKind::kFetch, "select other", row.vars), kSqlErrCursorNotOpen);
  EXPECT_EQ(RunSql(SqlKind::kClose, kCursorText), 0);
  EXPECT_EQ(row.Fetch(), kSqlErrCursorNotOpen);
}

TEST_F(FakeOciTest, MarkBindsFiveStringsOfTheKeySizesWithTheirValues) {
  Script("rowcount\tupdate\t2\n");
  ASSERT_EQ(Login(), 0);
  // An empty BewIDN arrives as one blank: Oracle reads an empty text as NULL.
  MarkKey key(" ", "S", "20240305070902", "20240305071500", "1");
  EXPECT_EQ(key.Mark(), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 2);

  const auto prepare = Calls("Prepare");
  ASSERT_EQ(prepare.size(), 2u);
  EXPECT_EQ(prepare[1].Get("text"), kMarkText);
  const auto binds = Calls("Bind");
  ASSERT_EQ(binds.size(), 5u);
  const char* sizes[] = {"51", "9", "20", "20", "4"};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(binds[i].Get("pos"), std::to_string(i + 1));
    EXPECT_EQ(binds[i].Get("size"), sizes[i]);
    EXPECT_EQ(binds[i].Get("type"), "5");
    EXPECT_EQ(binds[i].Get("ind"), "none");
  }
  const auto values = Calls("BindValue");
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values[0].Get("value"), "[ ]");
  EXPECT_EQ(values[1].Get("value"), "[S]");
  EXPECT_EQ(values[2].Get("value"), "[20240305070902]");
  EXPECT_EQ(values[3].Get("value"), "[20240305071500]");
  EXPECT_EQ(values[4].Get("value"), "[1]");
}

TEST_F(FakeOciTest, UpdateAndDeleteCountTheRowsTheyChanged) {
  Script("rowcount\tdelete\t3\n");
  ASSERT_EQ(Login(), 0);
  EXPECT_EQ(RunSql(SqlKind::kDelete, kPurgeText), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 3);
  EXPECT_EQ(Calls("Prepare").back().Get("text"), kPurgeText);
  EXPECT_EQ(Calls("AttrGet").back().Get("attr"), "9");

  // No row changed is not an error of the layer: the count says it.
  Script("rowcount\tupdate\t0\nrowcount\tdelete\t0\n");
  ASSERT_EQ(Login(), 0);
  MarkKey key("4711", "S", "20240305070902", "20240305071500", "1");
  EXPECT_EQ(key.Mark(), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 0);
  EXPECT_EQ(RunSql(SqlKind::kDelete, kPurgeText), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 0);
  Text<20> now;
  SqlHostVar var = now.Out();
  RunSql(SqlKind::kSelectInto, kSysDateText, std::span(&var, 1));
  EXPECT_EQ(sqlca.sqlerrd[2], 0) << "the count belongs to the last statement only";
}

TEST_F(FakeOciTest, NothingIsCommittedBeforeTheCommit) {
  Script(Row(kFullRow) + Row(kFullRow) + "single\t05.03.2024 07:09:02\n");
  ASSERT_EQ(Login(), 0);
  Text<20> now;
  SqlHostVar now_var = now.Out();
  ASSERT_EQ(RunSql(SqlKind::kSelectInto, kSysDateText, std::span(&now_var, 1)), 0);
  ASSERT_EQ(RunSql(SqlKind::kOpen, kCursorText), 0);
  FetchBuffers row;
  while (row.Fetch() == 0) {
    MarkKey key(row[2], row[3], row[4], row[5], row[6]);
    ASSERT_EQ(key.Mark(), 0);
  }
  ASSERT_EQ(RunSql(SqlKind::kClose, kCursorText), 0);
  ASSERT_EQ(RunSql(SqlKind::kDelete, kPurgeText), 0);

  EXPECT_TRUE(Calls("Commit").empty());
  EXPECT_TRUE(Calls("Rollback").empty());
  for (const Call& execute : Calls("Execute"))
    EXPECT_EQ(execute.Get("mode"), "0") << "never OCI_COMMIT_ON_SUCCESS";

  ASSERT_EQ(RunSql(SqlKind::kCommit), 0);
  const auto commits = Calls("Commit");
  ASSERT_EQ(commits.size(), 1u);
  EXPECT_EQ(Calls().back().name, "Commit");
}

TEST_F(FakeOciTest, ReconnectRollsBackTheOldWorkBeforeLoggingOff) {
  ASSERT_EQ(Login(), 0);
  MarkKey key("4711", "S", "20240305070902", "20240305071500", "1");
  ASSERT_EQ(key.Mark(), 0);
  ClearLog();
  ASSERT_EQ(ConnectAs("scott/tiger@OTHER"), 0);

  std::vector<std::string> names;
  for (const Call& c : Calls())
    if (c.name == "Rollback" || c.name == "Logoff" || c.name == "Logon" || c.name == "Commit")
      names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Rollback", "Logoff", "Logon"}));
  EXPECT_EQ(Calls("HandleFree").size(), 4u) << "schema statement, update, error handle, environment";
}

TEST_F(FakeOciTest, StatementsNeedAConnectionAndFittingHostVariables) {
  for (SqlKind kind : {SqlKind::kExecute, SqlKind::kOpen, SqlKind::kDelete, SqlKind::kCommit})
    EXPECT_EQ(RunSql(kind, kPurgeText), kSqlErrNotConnected);
  EXPECT_TRUE(Calls().empty());

  ASSERT_EQ(Login(), 0);
  ClearLog();
  // An input text without its terminator would be read past its buffer.
  MarkKey key("4711", "S", "20240305070902", "20240305071500", "1");
  key.lfn.buf.fill('9');
  EXPECT_EQ(key.Mark(), kSqlErrBadHostVars);
  Text<20> out;
  SqlHostVar as_in = out.In();
  EXPECT_EQ(RunSql(SqlKind::kSelectInto, kSysDateText, std::span(&as_in, 1)), kSqlErrBadHostVars);
  EXPECT_TRUE(Calls("Execute").empty());
}

TEST_F(FakeOciTest, ExecuteWithoutPrepareFails) {
  ASSERT_EQ(ConnectAs("scott/tiger@ORCL"), 0);
  EXPECT_EQ(RunSql(SqlKind::kExecute), kSqlErrNothingPrepared);
}

}  // namespace
