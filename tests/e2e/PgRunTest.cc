// Whole runs of Morvask_PG in what only a database server has: logins the
// server refuses, the server's own text encoding, a connection cut by the
// server, and two runs working on one table at the same time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <set>
#include <thread>

#include "Installation.h"

namespace {

const std::string kStart =
    "\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Protokollierung gestartet:\n";
const std::string kLineTail = ",T1,20261201,073105,1,TERM1,L1,K,,,,,204,,01,DTA,\n";

// Every export line by its BewIDN; a line that is not whole fails the test.
std::map<std::string, int> LinesById(const std::string& file) {
  std::map<std::string, int> lines;
  size_t start = 0;
  while (start < file.size()) {
    const size_t end = file.find('\n', start);
    EXPECT_NE(end, std::string::npos) << "last line without its end";
    const std::string line = file.substr(start, end == std::string::npos ? end : end - start + 1);
    const std::string id = line.substr(0, line.find(','));
    EXPECT_EQ(line, id + kLineTail);
    ++lines[id];
    start = end == std::string::npos ? file.size() : end + 1;
  }
  return lines;
}

class PgRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = inst.db->Unavailable(); !why.empty()) GTEST_SKIP() << why;
  }

  // N pending bookings with BewIDN 100000, 100001, ...
  std::set<std::string> InsertMany(int n) {
    std::vector<Booking> bookings;
    std::set<std::string> ids;
    for (int i = 0; i < n; ++i) {
      Booking b;
      b.idn = std::to_string(100000 + i);
      ids.insert(b.idn);
      bookings.push_back(b);
    }
    inst.Insert(bookings);
    return ids;
  }

  // Starts a run on its own thread.
  std::future<ProcessResult> Start(const std::vector<std::string>& args) {
    return std::async(std::launch::async, [this, args] { return inst.Run(args); });
  }

  // Waits until the export file holds at least this many bytes; false when
  // the run ended first (it then holds its result ready).
  bool WaitForExport(const std::string& path, size_t bytes, std::future<ProcessResult>& run) {
    while (ReadFile(path).size() < bytes) {
      if (run.wait_for(std::chrono::milliseconds(2)) == std::future_status::ready) return false;
    }
    return true;
  }

  Installation inst{MakePgTestDatabase};
};

TEST_F(PgRunTest, RefusedLoginEndsWith96WithTheServersStatusAndNoPassword) {
  const std::string wrong = "Falsch-Pa55wort!";
  struct Case {
    const char* what;
    std::string password, net8, status;
  } cases[] = {
      {"wrong password", wrong, inst.db->Net8(), "-3764881"},  // SQLSTATE 28P01
      {"unknown database", inst.db->Password(),
       inst.db->Net8().substr(0, inst.db->Net8().find('/')) + "/no_such_db", "-5645376"},  // 3D000
  };
  for (const Case& c : cases) {
    std::filesystem::remove(inst.log_path);
    inst.WriteSettings(inst.db->Login(), c.password, c.net8);
    const ProcessResult r = inst.Run({"Velunaris.ini", "../export", "/D"});
    const std::string message = "Datenbankverbindung fehlgeschlagen, Fehler: " + c.status;
    EXPECT_EQ(r.exit_code, 96) << c.what;
    EXPECT_EQ(r.out, message + "\n") << c.what;
    EXPECT_EQ(inst.Protocol(), kStart + message + "\nVerbinden mit Datenbank fehlgeschlagen\n")
        << c.what;
    EXPECT_EQ(r.out.find(c.password), std::string::npos) << c.what;
    EXPECT_EQ(ReadFile(inst.log_path).find(c.password), std::string::npos) << c.what;
    EXPECT_FALSE(FileExists(inst.export_file)) << c.what;
  }
}

TEST_F(PgRunTest, UmlautsStoredAsUtf8ArriveAsWindows1252) {
  inst.WriteSettings();
  Booking b;
  b.idn = "\xC3\x9C" "1001";  // U+00DC, as the server stores it
  b.kst = "M\xC3\xBCller";    // U+00FC
  inst.Insert({b});

  const ProcessResult r = inst.Run({"Velunaris.ini", "../export", "/D"});

  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_EQ(inst.ExportFile(), "\xDC" "1001,T1,20261201,073105,1,TERM1,L1,K,M\xFC" "ller,,,,204,,01,DTA,\n");
  EXPECT_NE(inst.Protocol().find("\n\xDC" "1001,20261201,073105,TERM1,L1,K, 1, DTA\n"),
            std::string::npos)
      << inst.Protocol();
  EXPECT_NE(r.out.find("ID: \xDC" "1001, Buchung vom"), std::string::npos) << r.out;
  EXPECT_TRUE(inst.Pending().empty());  // the mark found the row by its umlaut key
}

TEST_F(PgRunTest, ConnectionCutMidRunCommitsNothingAndTheNextRunExportsEveryBookingWhole) {
  inst.WriteSettings();
  const std::set<std::string> ids = InsertMany(30000);

  std::future<ProcessResult> run = Start({"Velunaris.ini", "../export"});
  ASSERT_TRUE(WaitForExport(inst.export_file, 2000 * (6 + kLineTail.size()), run))
      << "the run ended before its connection could be cut";
  const auto killed = inst.db->Query(
      "SELECT pg_terminate_backend(pid, 10000) FROM pg_stat_activity"
      " WHERE application_name = 'Morvask' AND usename = '" + inst.db->Login() + "'");
  ASSERT_EQ(killed, (std::vector<std::vector<std::string>>{{"t"}})) << inst.db->LastError();
  const ProcessResult cut = run.get();

  // Exit code 0: the commit failed, nothing was taken over.
  EXPECT_EQ(cut.exit_code, 0) << cut.out;
  const std::string protocol = inst.Protocol();
  EXPECT_NE(protocol.find("Fehler 'SQL_MarkTranfer: -2102, ID: "), std::string::npos);
  EXPECT_NE(protocol.find("Commit fehlgeschlagen, Fehler: -2102\n"), std::string::npos) << protocol;
  EXPECT_EQ(inst.Pending().size(), ids.size());

  const ProcessResult next = inst.Run({"Velunaris.ini", "../export"});
  EXPECT_EQ(next.exit_code, 1) << next.out;
  EXPECT_TRUE(inst.Pending().empty());
  // Lines of the cut run come again; every booking is there, each line whole.
  std::set<std::string> exported;
  for (const auto& [id, count] : LinesById(inst.ExportFile())) exported.insert(id);
  EXPECT_EQ(exported, ids);
}

TEST_F(PgRunTest, SecondRunIntoTheSameFolderEndsWith93) {
  inst.WriteSettings();
  const std::set<std::string> ids = InsertMany(20000);

  std::future<ProcessResult> first = Start({"Velunaris.ini", "../export"});
  ASSERT_TRUE(WaitForExport(inst.export_file, 1, first)) << "the first run ended too soon";
  const ProcessResult second = inst.Run({"Velunaris.ini", "../export"});
  const ProcessResult done = first.get();

  EXPECT_EQ(second.exit_code, 93);
  EXPECT_NE(inst.Protocol().find("\xDC" "bergabe l\xE4" "uft bereits\n"), std::string::npos);
  EXPECT_EQ(done.exit_code, 1) << done.out;
  EXPECT_TRUE(inst.Pending().empty());
  const std::map<std::string, int> lines = LinesById(inst.ExportFile());
  EXPECT_EQ(lines.size(), ids.size());
  for (const auto& [id, count] : lines) EXPECT_EQ(count, 1) << id;
}

TEST_F(PgRunTest, TwoRunsIntoTwoFoldersBothDeliverEveryBooking) {
  inst.WriteSettings();
  const std::set<std::string> ids = InsertMany(20000);
  const std::string other_dir = inst.run_dir + "/../export2";
  std::filesystem::create_directories(other_dir);

  std::future<ProcessResult> first = Start({"Velunaris.ini", "../export"});
  ASSERT_TRUE(WaitForExport(inst.export_file, 1000 * (6 + kLineTail.size()), first))
      << "the first run ended too soon";
  // The second run's cursor sees the table before the first run's commit; its
  // first mark waits for that commit and then marks the rows again.
  const ProcessResult second = inst.Run({"Velunaris.ini", "../export2"});
  const ProcessResult done = first.get();

  EXPECT_EQ(done.exit_code, 1) << done.out;
  EXPECT_EQ(second.exit_code, 1) << second.out;
  EXPECT_TRUE(inst.Pending().empty());
  for (const std::string& file : {inst.export_file, other_dir + "/BEWDATA.dat"}) {
    const std::map<std::string, int> lines = LinesById(ReadFile(file));
    std::set<std::string> exported;
    for (const auto& [id, count] : lines) {
      EXPECT_EQ(count, 1) << file << ": " << id;
      exported.insert(id);
    }
    EXPECT_EQ(exported, ids) << file;
  }
}

}  // namespace
