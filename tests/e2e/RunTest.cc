// Whole runs through the real executable, written once and run on every
// backend: exit code, export file, protocol log, console and table afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>

#include "Installation.h"

namespace {

const std::string kStart =
    "\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Protokollierung gestartet:\n";
const std::string kEnd = ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Programm beendet\n\n\n\n";
const std::string kTransferDate = "\xDC" "bergabe vom <DATE>\n\n";
const std::string kUsage =
    "Befehlsformat: \nMorvask_<DB>.EXE <Velunaris.ini> <ZielPfad>\n\n"
    "DB           : Datenbanksystem, zB. Oracle\n"
    "Velunaris.ini: Name und Pfad der Velunaris.ini-Datei\n"
    "Zielpfad     : Pfad der Uebergabedatei\n\n";

std::string CountLine(int n) {
  return "\nAnzahl \xFC" "bergebener Buchungen : " + std::to_string(n) + "\n";
}

// One booking that is handed over ("200" from DTA becomes "204").
Booking Exported() { return Booking{}; }
const std::string kExportedLine = "1001,T1,20261201,073105,1,TERM1,L1,K,,,,,204,,01,DTA,\n";
const std::string kExportedProtocol = "1001,20261201,073105,TERM1,L1,K, 1, DTA\n";
const std::string kExportedConsole = "ID: 1001, Buchung vom 20261201 073105  uebergeben\n";

class RunTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (const std::string why = inst.db->Unavailable(); !why.empty()) GTEST_SKIP() << why;
  }
  Installation inst{GetParam().make};
};

// The command line: where the export file goes, whether the run talks.
struct CommandLineCase {
  const char* name;
  std::vector<std::string> args;
  const char* export_dir;  // relative to the run folder; nullptr: none written
  bool verbose;
};

void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }

class CommandLineTest
    : public ::testing::TestWithParam<std::tuple<Backend, CommandLineCase>> {};

TEST_P(CommandLineTest, ExportPathAndSwitch) {
  const auto& [backend, c] = GetParam();
  Installation inst(backend.make);
  if (const std::string why = inst.db->Unavailable(); !why.empty()) GTEST_SKIP() << why;
  inst.WriteSettings();
  inst.Insert({Exported()});
  std::filesystem::create_directories(inst.run_dir + "/../Mixed");

  const ProcessResult r = inst.Run(c.args);

  ASSERT_EQ(r.exit_code, 1) << r.out;
  const std::string export_file = inst.run_dir + "/" + c.export_dir + "/BEWDATA.dat";
  EXPECT_EQ(ReadFile(export_file), kExportedLine);
  EXPECT_EQ(inst.Protocol(),
            kStart + kTransferDate + kExportedProtocol + CountLine(1) + kEnd);
  const std::string console = "Uebergabe am <DATE> gestartet\n\n" + kExportedConsole +
                              "\nAnzahl uebergebener Buchungen : 1";
  EXPECT_EQ(MaskDates(r.out), c.verbose ? console : "");
  EXPECT_TRUE(inst.Pending().empty());
}

const CommandLineCase kCommandLines[] = {
    {"OnlySettings", {"Velunaris.ini"}, ".", false},
    {"LowerCaseSwitch", {"Velunaris.ini", "/d"}, ".", true},
    {"DirectoryThenSwitch", {"Velunaris.ini", "../export", "/D"}, "../export", true},
    {"SwitchThenDirectory", {"Velunaris.ini", "/D", "../export"}, ".", true},
    {"DirectoryKeepsItsLetters", {"Velunaris.ini", "../Mixed"}, "../Mixed", false},
    {"DirectoryWithSlash", {"Velunaris.ini", "../export/"}, "../export", false},
    {"ExtraArgumentsIgnored", {"Velunaris.ini", "../export", "x", "/d"}, "../export", true},
};

TEST_P(RunTest, NoArgumentPrintsUsage) {
  const ProcessResult r = inst.Run({});
  EXPECT_EQ(r.exit_code, 98);
  EXPECT_EQ(r.out, kUsage);
  EXPECT_FALSE(FileExists(inst.log_path));
}

TEST_P(RunTest, MissingSettingsFile) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"missing.ini", "../export"}, {"/D"}}) {
    std::filesystem::remove(inst.log_path);
    const ProcessResult r = inst.Run(args);
    EXPECT_EQ(r.exit_code, 97);
    EXPECT_EQ(r.out, "Velunaris.Ini-Datei nicht gefunden");
    EXPECT_EQ(inst.Protocol(), kStart +
                                   "Velunaris.Ini-Datei nicht gefunden\n"
                                   "Verbinden mit Datenbank fehlgeschlagen\n");
  }
  EXPECT_FALSE(FileExists(inst.export_file));
}

TEST_P(RunTest, LoginFailureEndsWith96AndHidesThePassword) {
  const std::string password = "Geheim!Pa55wort";
  inst.WriteSettings(inst.db->Login(), password, "no-such-database");
  const ProcessResult r = inst.Run({"Velunaris.ini", "../export", "/D"});

  EXPECT_EQ(r.exit_code, 96);
  ASSERT_EQ(r.out.rfind("Datenbankverbindung fehlgeschlagen, Fehler: -", 0), 0u) << r.out;
  const std::string status = r.out.substr(44, r.out.size() - 45);  // "-N" before "\n"
  EXPECT_EQ(inst.Protocol(), kStart + "Datenbankverbindung fehlgeschlagen, Fehler: " + status +
                                 "\nVerbinden mit Datenbank fehlgeschlagen\n");
  EXPECT_EQ(r.out.find(password), std::string::npos);
  EXPECT_EQ(ReadFile(inst.log_path).find(password), std::string::npos);
  EXPECT_FALSE(FileExists(inst.export_file));
}

TEST_P(RunTest, ExportDirectoryMissing) {
  inst.WriteSettings();
  inst.Insert({Exported()});
  const ProcessResult r = inst.Run({"Velunaris.ini", "../nowhere", "/D"});

  EXPECT_EQ(r.exit_code, 90);
  EXPECT_EQ(inst.Protocol(),
            kStart + kTransferDate + "Zieldatei auf Server kann nicht erzeugt werden\n\n");
  EXPECT_EQ(MaskDates(r.out), "Uebergabe am <DATE> gestartet\n\n"
                              "Zieldatei auf Server kann nicht erzeugt werden\n");
  EXPECT_EQ(inst.Pending(), std::vector<std::string>{"1001"});
}

TEST_P(RunTest, NoPendingBookings) {
  inst.WriteSettings();
  Booking done = Exported();
  done.ukz = "4";
  inst.Insert({done});
  const ProcessResult r = inst.Run({"Velunaris.ini", "../export"});

  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(FileExists(inst.export_file));
  EXPECT_EQ(inst.ExportFile(), "");
  EXPECT_EQ(inst.Protocol(), kStart + kTransferDate + CountLine(0) + kEnd);
  EXPECT_EQ(r.out, "");
}

TEST_P(RunTest, MixOfExportedAndFilteredBookings) {
  inst.WriteSettings();
  Booking filtered = Exported();  // DTA 205: not handed over, still marked
  filtered.idn = "1002";
  filtered.src = "dta";
  filtered.era = "205";
  Booking p40 = Exported();  // 40P, BewBer 1: "100"; values with commas pass unchanged
  p40.idn = "1003";
  p40.src = "40P";
  p40.ber = "1";
  p40.kst = "K,1";
  Booking other = Exported();  // unknown source: "204"; trailing blanks trimmed
  other.idn = "1004";
  other.src = "xy";
  other.sto = "S   ";
  other.era = "999";
  Booking transferred = Exported();  // already handed over: not read again
  transferred.idn = "0999";
  transferred.ukz = "4";
  Booking old = transferred;  // transferred long ago: purged
  old.idn = "0998";
  old.dat = "2020-01-15 08:00:00";
  inst.Insert({other, p40, filtered, Exported(), transferred, old});

  const ProcessResult r = inst.Run({"Velunaris.ini", "../export", "/D"});

  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(inst.ExportFile(), kExportedLine +
                                   "1003,T1,20261201,073105,1,TERM1,L1,K,K,1,,,1,100,,01,40P,\n"
                                   "1004,S,20261201,073105,1,TERM1,L1,K,,,,,204,,01,xy,\n");
  EXPECT_EQ(inst.Protocol(), kStart + kTransferDate + kExportedProtocol +
                                 "1003,20261201,073105,TERM1,L1,K, 1, 40P\n"
                                 "1004,20261201,073105,TERM1,L1,K, 1, xy\n" +
                                 CountLine(3) + kEnd);
  EXPECT_EQ(MaskDates(r.out), "Uebergabe am <DATE> gestartet\n\n" + kExportedConsole +
                                  "ID: 1003, Buchung vom 20261201 073105  uebergeben\n"
                                  "ID: 1004, Buchung vom 20261201 073105  uebergeben\n"
                                  "\nAnzahl uebergebener Buchungen : 3");
  EXPECT_TRUE(inst.Pending().empty());
  const auto rows = inst.db->Query(
      "SELECT BewIDN, BewUkz, CASE WHEN BewUdt IS NULL THEN 0 ELSE 1 END FROM Zkr321Bew "
      "ORDER BY BewIDN");
  const std::vector<std::vector<std::string>> expected = {{"0999", "4", "0"}, {"1001", "4", "1"},
                                                          {"1002", "4", "1"}, {"1003", "4", "1"},
                                                          {"1004", "4", "1"}};
  EXPECT_EQ(rows, expected);

  // A second run finds nothing more to hand over.
  const std::string after_first = inst.ExportFile();
  const ProcessResult again = inst.Run({"Velunaris.ini", "../export"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_EQ(inst.ExportFile(), after_first);
}

TEST_P(RunTest, FailedMarkIsReportedAndStaysPending) {
  inst.WriteSettings();
  Booking second = Exported();
  second.idn = "1002";
  inst.Insert({Exported(), second});
  ASSERT_TRUE(inst.db->Exec(inst.db->FailMarkSql("1001"))) << inst.db->LastError();

  const ProcessResult r = inst.Run({"Velunaris.ini", "../export", "/D"});

  EXPECT_EQ(r.exit_code, 1) << r.out;
  const auto pos = r.out.find("\nFehler 'SQL_MarkTranfer: -");
  ASSERT_NE(pos, std::string::npos) << r.out;
  const std::string status = r.out.substr(pos + 26, r.out.find('\n', pos + 1) - pos - 26);
  EXPECT_NE(inst.Protocol().find(kExportedProtocol + "Fehler 'SQL_MarkTranfer: " + status +
                                 ", ID: 1001\n1002,"),
            std::string::npos)
      << inst.Protocol();
  EXPECT_EQ(inst.Pending(), std::vector<std::string>{"1001"});
}

TEST_P(RunTest, LineThatCannotBeWrittenStaysPendingAndEndsWith91) {
  inst.WriteSettings();
  Booking second = Exported();
  second.idn = "1002";
  inst.Insert({Exported(), second});
  // An export file close to its size limit: the first line fits, the second does not.
  // The limit also applies to the database's own files: keep it well above them.
  const std::string earlier(1 << 20, 'x');
  WriteFile(inst.export_file, earlier + "\n");
  ProcessOptions limited;
  limited.file_size_limit = static_cast<long>(earlier.size() + 1 + kExportedLine.size() + 10);

  const ProcessResult r = inst.Run({"Velunaris.ini", "../export"}, limited);

  EXPECT_EQ(r.exit_code, 91);
  EXPECT_EQ(inst.ExportFile(), earlier + "\n" + kExportedLine);
  EXPECT_EQ(inst.Protocol(), kStart + kTransferDate + kExportedProtocol +
                                 "Buchung 1002 konnte nicht in die Zieldatei geschrieben werden\n" +
                                 CountLine(1) + kEnd);
  EXPECT_EQ(inst.Pending(), std::vector<std::string>{"1002"});

  // Without the limit the next run hands it over.
  EXPECT_EQ(inst.Run({"Velunaris.ini", "../export"}).exit_code, 1);
  EXPECT_TRUE(inst.Pending().empty());
}

TEST_P(RunTest, SecondRunWhileOneHoldsTheExportFile) {
  inst.WriteSettings();
  inst.Insert({Exported()});
  WriteFile(inst.export_file, "earlier\n");
  const int fd = ::open(inst.export_file.c_str(), O_RDWR);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);

  const ProcessResult r = inst.Run({"Velunaris.ini", "../export", "/D"});
  ::close(fd);

  EXPECT_EQ(r.exit_code, 93);
  EXPECT_EQ(inst.Protocol(), kStart + kTransferDate + "\xDC" "bergabe l\xE4" "uft bereits\n");
  EXPECT_EQ(inst.ExportFile(), "earlier\n");
  EXPECT_EQ(inst.Pending(), std::vector<std::string>{"1001"});
}

TEST_P(RunTest, IncompleteLastLineIsCutAndItsBookingWrittenWhole) {
  inst.WriteSettings();
  inst.Insert({Exported()});
  WriteFile(inst.export_file, "0999,T1,20261130\n" + kExportedLine.substr(0, 20));

  const ProcessResult r = inst.Run({"Velunaris.ini", "../export"});

  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(inst.ExportFile(), "0999,T1,20261130\n" + kExportedLine);
  EXPECT_EQ(inst.Protocol(),
            kStart + kTransferDate +
                "Unvollst\xE4ndige letzte Zeile der Zieldatei entfernt (20 Bytes)\n" +
                kExportedProtocol + CountLine(1) + kEnd);
}

TEST_P(RunTest, KilledRunCommitsNothingAndTheNextRunExportsEveryBookingWhole) {
  inst.WriteSettings();
  std::vector<Booking> bookings;
  for (int i = 0; i < 20000; ++i) {
    Booking b = Exported();
    b.idn = std::to_string(100000 + i);
    bookings.push_back(b);
  }
  inst.Insert(bookings);
  ProcessOptions kill;
  kill.kill_after_ms = 150;
  const ProcessResult killed = inst.Run({"Velunaris.ini", "../export"}, kill);
  ASSERT_EQ(killed.signal, SIGKILL) << "the run finished before it could be killed";
  EXPECT_EQ(inst.Pending().size(), bookings.size());

  const ProcessResult next = inst.Run({"Velunaris.ini", "../export"});
  EXPECT_EQ(next.exit_code, 1);
  EXPECT_TRUE(inst.Pending().empty());
  // Every booking appears as a whole line; lines of the killed run may come twice.
  const std::string file = inst.ExportFile();
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file.back(), '\n');
  std::set<std::string> ids;
  size_t start = 0;
  while (start < file.size()) {
    const size_t end = file.find('\n', start);
    const std::string line = file.substr(start, end - start + 1);
    const std::string id = line.substr(0, line.find(','));
    EXPECT_EQ(line, id + kExportedLine.substr(4));
    ids.insert(id);
    start = end + 1;
  }
  EXPECT_EQ(ids.size(), bookings.size());
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Backends, RunTest, ::testing::ValuesIn(AllBackends()),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Backends, CommandLineTest,
    ::testing::Combine(::testing::ValuesIn(AllBackends()), ::testing::ValuesIn(kCommandLines)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });
