// Whole runs of Morvask_ORA against the recording stand-in of the client
// library: the same export file, protocol log, console and exit code as the
// runs on a real table, where a scripted cursor can stand for the table; and
// from the stand-in's record, what the database received.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "FakeOciFixture.h"
#include "Installation.h"

namespace {

const std::string kStart =
    "\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Protokollierung gestartet:\n";
const std::string kEnd = ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Programm beendet\n\n\n\n";
const std::string kTransferDate = "\xDC" "bergabe vom <DATE>\n\n";
const std::string kConsoleStart = "Uebergabe am <DATE> gestartet\n\n";
const std::string kServerDate = "05.03.2024 07:09:02";
const std::string kPassword = "Geheim!Pa55wort";

std::string CountLine(int n) {
  return "\nAnzahl \xFC" "bergebener Buchungen : " + std::to_string(n) + "\n";
}

// What the three outputs show for a plain booking handed over ("200" from
// DTA becomes "204"), by its BewIDN.
std::string ExportLine(const std::string& idn) {
  return idn + ",T1,20261201,073105,1,TERM1,L1,K,,,,,204,,01,DTA,\n";
}
std::string ProtocolLine(const std::string& idn) {
  return idn + ",20261201,073105,TERM1,L1,K, 1, DTA\n";
}
std::string ConsoleLine(const std::string& idn) {
  return "ID: " + idn + ", Buchung vom 20261201 073105  uebergeben\n";
}

Booking Pending(const std::string& idn) {
  Booking b;
  b.idn = idn;
  return b;
}

// The stand-in keeps no table: the test scripts the rows the server's cursor
// would deliver, pending ones only, in key order.
class StandInDatabase : public TestDatabase {
 public:
  std::string Name() const override { return "Oracle stand-in"; }
  std::string Executable() const override { return MORVASK_BIN_DIR "/Morvask_ORA"; }
  std::string Net8() const override { return "ORCL"; }
  std::string Login() const override { return "scott"; }
  std::string Password() const override { return kPassword; }
  bool Exec(const std::string&) override { return false; }
  std::vector<std::vector<std::string>> Query(const std::string&) override { return {}; }
  std::string LastError() const override { return "the stand-in keeps no table"; }
  std::string FailMarkSql(const std::string&) const override { return {}; }
};

std::unique_ptr<TestDatabase> MakeStandIn(const std::string&) {
  return std::make_unique<StandInDatabase>();
}

std::string Digits(const std::string& date) {
  std::string out;
  for (char c : date)
    if (c >= '0' && c <= '9') out += c;
  return out;
}

std::string Column(const std::string& value) { return value == kNull ? "\\N" : value; }

// The booking as the cursor's select list delivers it: dates as 14 digits.
std::string CursorRow(const Booking& b) {
  const std::string columns[] = {b.tid, b.lid, b.idn, b.sto, Digits(b.dtm), Digits(b.uhr),
                                 b.lfn, b.art, b.tas, b.era, b.kze, b.ber,
                                 b.erq, b.kst, b.qua, b.src, b.res};
  std::string line = "row";
  for (const std::string& c : columns) line += "\t" + Column(c);
  return line + "\n";
}

std::string CursorRows(const std::vector<Booking>& bookings) {
  std::string rows;
  for (const Booking& b : bookings) rows += CursorRow(b);
  return rows;
}

// The key a mark binds for a booking: trailing blanks trimmed, dates as read.
std::vector<std::string> MarkKey(const Booking& b) {
  std::string sto = b.sto;
  sto.erase(sto.find_last_not_of(' ') + 1);
  return {"[" + b.idn + "]", "[" + sto + "]", "[" + Digits(b.dtm) + "]",
          "[" + Digits(b.uhr) + "]", "[" + b.lfn + "]"};
}

// What the stand-in recorded of the run's changes and its commit.
struct RunRecord {
  std::vector<std::vector<std::string>> marks;  // bind values of every mark executed
  int purges = 0;
  int commits = 0;
  bool commit_after_changes = false;  // the one commit follows every mark and the purge
  bool rollback_before_commit = false;
};

class OraRunTest : public FakeOciTest {
 protected:
  RunRecord Record() const {
    RunRecord record;
    std::map<std::string, std::string> texts;  // statement id -> text
    bool change_after_commit = false;
    for (const Call& call : Calls()) {
      const std::string text = texts[call.Get("stmt")];
      if (call.name == "Prepare") texts[call.Get("stmt")] = call.Get("text");
      if (call.name == "Execute" && text == kMarkText) record.marks.emplace_back();
      if (call.name == "Execute" && text == kPurgeText) ++record.purges;
      if (call.name == "Execute" && (text == kMarkText || text == kPurgeText))
        change_after_commit = change_after_commit || record.commits > 0;
      if (call.name == "BindValue" && text == kMarkText && !record.marks.empty())
        record.marks.back().push_back(call.Get("value"));
      if (call.name == "Rollback" && record.commits == 0) record.rollback_before_commit = true;
      if (call.name == "Commit") ++record.commits;
    }
    record.commit_after_changes = record.commits > 0 && !change_after_commit;
    return record;
  }

  // The rows of the cursor and the server time, plus the given script lines.
  void ScriptRun(const std::vector<Booking>& rows, const std::string& more = "") {
    Script(CursorRows(rows) + "single\t" + kServerDate + "\n" + more);
  }

  Installation inst{MakeStandIn};
};

TEST_F(OraRunTest, MixOfExportedAndFilteredBookings) {
  inst.WriteSettings();
  Booking filtered = Pending("1002");  // DTA 205: not handed over, still marked
  filtered.src = "dta";
  filtered.era = "205";
  Booking p40 = Pending("1003");  // 40P, BewBer 1: "100"; values with commas pass unchanged
  p40.src = "40P";
  p40.ber = "1";
  p40.kst = "K,1";
  Booking other = Pending("1004");  // unknown source: "204"; trailing blanks trimmed
  other.src = "xy";
  other.sto = "S   ";
  other.era = "999";
  const std::vector<Booking> rows = {Pending("1001"), filtered, p40, other};
  ScriptRun(rows);

  const ProcessResult r = inst.Run({"Velunaris.ini", "../export", "/D"});

  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(inst.ExportFile(), ExportLine("1001") +
                                   "1003,T1,20261201,073105,1,TERM1,L1,K,K,1,,,1,100,,01,40P,\n"
                                   "1004,S,20261201,073105,1,TERM1,L1,K,,,,,204,,01,xy,\n");
  EXPECT_EQ(inst.Protocol(), kStart + kTransferDate + ProtocolLine("1001") +
                                 "1003,20261201,073105,TERM1,L1,K, 1, 40P\n"
                                 "1004,20261201,073105,TERM1,L1,K, 1, xy\n" +
                                 CountLine(3) + kEnd);
  EXPECT_EQ(MaskDates(r.out), kConsoleStart + ConsoleLine("1001") +
                                  "ID: 1003, Buchung vom 20261201 073105  uebergeben\n"
                                  "ID: 1004, Buchung vom 20261201 073105  uebergeben\n"
                                  "\nAnzahl uebergebener Buchungen : 3");
  // The server's time reaches the protocol and the console unchanged.
  EXPECT_NE(ReadFile(inst.log_path).find("\xDC" "bergabe vom " + kServerDate + "\n"),
            std::string::npos);
  EXPECT_EQ(r.out.rfind("Uebergabe am " + kServerDate + " gestartet\n", 0), 0u) << r.out;

  const RunRecord record = Record();
  std::vector<std::vector<std::string>> keys;
  for (const Booking& b : rows) keys.push_back(MarkKey(b));
  EXPECT_EQ(record.marks, keys) << "one mark per booking read, filtered ones included";
  EXPECT_EQ(record.purges, 1);
  EXPECT_EQ(record.commits, 1);
  EXPECT_TRUE(record.commit_after_changes);
  EXPECT_FALSE(record.rollback_before_commit);
}

// Runs that end in the usual way or with a failure the driver reports and
// gets past: the outputs, and the commit that follows every mark.
struct ScriptedRunCase {
  const char* name;
  std::vector<std::string> pending;  // BewIDN of the rows the cursor delivers
  std::string script;                // further script lines
  std::vector<std::string> args;
  int exit_code;
  std::string export_file;
  std::string protocol;
  std::string console;  // dates masked
  std::vector<std::string> marked;  // BewIDN of every mark executed, in order
};

void PrintTo(const ScriptedRunCase& c, std::ostream* os) { *os << c.name; }

class OraScriptedRunTest : public OraRunTest,
                           public ::testing::WithParamInterface<ScriptedRunCase> {};

TEST_P(OraScriptedRunTest, OutputsAndOneCommitAfterTheLastMark) {
  const ScriptedRunCase& c = GetParam();
  inst.WriteSettings();
  std::vector<Booking> rows;
  for (const std::string& idn : c.pending) rows.push_back(Pending(idn));
  ScriptRun(rows, c.script);

  const ProcessResult r = inst.Run(c.args);

  EXPECT_EQ(r.exit_code, c.exit_code) << r.out;
  ASSERT_TRUE(FileExists(inst.export_file));
  EXPECT_EQ(inst.ExportFile(), c.export_file);
  EXPECT_EQ(inst.Protocol(), c.protocol);
  EXPECT_EQ(MaskDates(r.out), c.console);

  const RunRecord record = Record();
  std::vector<std::vector<std::string>> keys;
  for (const std::string& idn : c.marked) keys.push_back(MarkKey(Pending(idn)));
  EXPECT_EQ(record.marks, keys);
  EXPECT_EQ(record.purges, 1);
  EXPECT_EQ(record.commits, 1);
  EXPECT_TRUE(record.commit_after_changes);
  EXPECT_FALSE(record.rollback_before_commit);
}

const ScriptedRunCase kScriptedRuns[] = {
    {"NoPendingBookings", {}, "", {"Velunaris.ini", "../export"}, 1, "",
     kStart + kTransferDate + CountLine(0) + kEnd, "", {}},
    {"FailedMarkIsReportedAndTheRunGoesOn",
     {"1001", "1002"},
     "error\texecute#1:update\t54\n",
     {"Velunaris.ini", "../export", "/D"},
     1,
     ExportLine("1001") + ExportLine("1002"),
     kStart + kTransferDate + ProtocolLine("1001") + "Fehler 'SQL_MarkTranfer: -54, ID: 1001\n" +
         ProtocolLine("1002") + CountLine(2) + kEnd,
     kConsoleStart + ConsoleLine("1001") + "\nFehler 'SQL_MarkTranfer: -54\n" + ConsoleLine("1002") +
         "\nAnzahl uebergebener Buchungen : 2",
     {"1001", "1002"}},
    {"FetchErrorMidCursorEndsWith92",
     {"1001", "1002", "1003"},
     "error\tfetch:2\t1555\n",
     {"Velunaris.ini", "../export"},
     92,
     ExportLine("1001"),
     kStart + kTransferDate + ProtocolLine("1001") + "Fehler beim Lesen der Buchungen: -1555\n" +
         CountLine(1) + kEnd,
     "",
     {"1001"}},
    {"FailedCommitEndsWith0",
     {"1001"},
     "error\tcommit\t3113\n",
     {"Velunaris.ini", "../export"},
     0,
     ExportLine("1001"),
     kStart + kTransferDate + ProtocolLine("1001") + CountLine(1) +
         "Commit fehlgeschlagen, Fehler: -3113\n" + kEnd,
     "",
     {"1001"}},
};

INSTANTIATE_TEST_SUITE_P(Runs, OraScriptedRunTest, ::testing::ValuesIn(kScriptedRuns),
                         [](const auto& info) { return std::string(info.param.name); });

// A failed login: exit 96, its status on the console and in the protocol,
// the password nowhere, no export file.
void ExpectLoginFailed(const Installation& inst, const ProcessResult& r, const std::string& status) {
  EXPECT_EQ(r.exit_code, 96) << r.out;
  const std::string message = "Datenbankverbindung fehlgeschlagen, Fehler: " + status + "\n";
  EXPECT_TRUE(r.out.size() >= message.size() &&
              r.out.compare(r.out.size() - message.size(), message.size(), message) == 0)
      << r.out;
  EXPECT_EQ(inst.Protocol(), kStart + message + "Verbinden mit Datenbank fehlgeschlagen\n");
  EXPECT_EQ(r.out.find(kPassword), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(inst.log_path).find(kPassword), std::string::npos);
  EXPECT_FALSE(FileExists(inst.export_file));
}

TEST_F(OraRunTest, LoginRefusedByTheServer) {
  inst.WriteSettings();
  Script("error\tlogon\t1017\n");

  const ProcessResult r = inst.Run({"Velunaris.ini", "../export", "/D"});

  ExpectLoginFailed(inst, r, "-1017");
  EXPECT_EQ(r.out, "Datenbankverbindung fehlgeschlagen, Fehler: -1017\n");
  const auto logon = Calls("Logon");
  ASSERT_EQ(logon.size(), 1u);
  EXPECT_EQ(logon[0].Get("password"), "[" + kPassword + "]") << "the settings reached the client";
  EXPECT_TRUE(Calls("Prepare").empty());
  EXPECT_TRUE(Calls("Commit").empty());
}

TEST_F(OraRunTest, ClientLibraryMissing) {
  inst.WriteSettings();
  const std::string library = inst.root + "/instantclient_21_13/libclntsh.so";
  setenv("MORVASK_OCI_LIB", library.c_str(), 1);

  const ProcessResult r = inst.Run({"Velunaris.ini", "../export", "/D"});

  ExpectLoginFailed(inst, r, "-2101");
  const std::string head = "Oracle-Client nicht geladen: Bibliothek \"" + library + "\" nicht ladbar (";
  EXPECT_EQ(r.out.rfind(head, 0), 0u) << r.out;
  EXPECT_NE(r.out.find(").\nOracle Instant Client installieren und sein Verzeichnis in "
                       "LD_LIBRARY_PATH aufnehmen oder MORVASK_OCI_LIB auf den vollen Pfad der "
                       "Bibliothek setzen.\nDatenbankverbindung fehlgeschlagen, Fehler: -2101\n"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(Calls().empty()) << "no stand-in was loaded";
}

}  // namespace
