// Runs whose files fail them: the export file's file system full part-way
// (a file-size limit), and a protocol log that cannot be written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "Trial.h"

namespace {

const std::vector<std::string> kArgs = {"Velunaris.ini", "../export"};

// Moves the test's inserts from the write-ahead log into the database file
// and empties the log, so that the database's files are as small as they get.
void Checkpoint(Installation& inst) {
  ASSERT_TRUE(inst.db->Exec("PRAGMA wal_checkpoint(TRUNCATE);")) << inst.db->LastError();
}

// The log's bytes; empty when it is missing or not a file.
std::string LogBytes(const Installation& inst) {
  return std::filesystem::is_regular_file(inst.log_path) ? ReadFile(inst.log_path) : "";
}

// Invariant: when the export file's space runs out part-way, every booking is
// either marked with its whole line in the file or pending without a line;
// the next run with space exports the rest, so each line occurs exactly once.
TEST(FileSystemFull, ExportFileFullPartWayLosesNoBookingAndDoublesNone) {
  // Whole lines before the limit, so that the limit falls inside the run.
  for (const int lines_that_fit : {0, 1, 37, 179}) {  // of the 180 handed over
    SCOPED_TRACE(std::to_string(lines_that_fit) + " lines fit");
    Installation inst(MakeSqliteTestDatabase);
    inst.WriteSettings();
    const std::vector<Booking> batch = Batch("F", 200);
    inst.Insert(batch);
    Checkpoint(inst);
    // Earlier lines make the file larger than the database's own files, which
    // the limit also governs (a failed commit would end the run with 0): it is
    // the export file that fills up first.
    std::string earlier;
    while (earlier.size() < (1u << 20)) earlier += LineOf("E" + std::to_string(earlier.size()));
    WriteFile(inst.export_file, earlier);
    ProcessOptions limited;
    limited.file_size_limit =
        static_cast<long>(earlier.size() + lines_that_fit * LineOf("F100000").size() + 20);

    const ProcessResult full = inst.Run(kArgs, limited);

    const std::string protocol = inst.Protocol();
    EXPECT_EQ(full.exit_code, 91) << "protocol ends: " << protocol.substr(protocol.size() - std::min<size_t>(protocol.size(), 400));
    const std::string file = inst.ExportFile();
    ASSERT_EQ(file.compare(0, earlier.size(), earlier), 0);
    std::map<std::string, int> lines = CountLines(file.substr(earlier.size()));
    EXPECT_EQ(lines.size(), static_cast<size_t>(lines_that_fit));
    const std::vector<std::string> marked = Transferred(inst);
    for (const std::string& idn : HandedOverIds(batch)) {
      const bool is_marked = std::binary_search(marked.begin(), marked.end(), idn);
      EXPECT_EQ(is_marked, lines.count(idn) == 1) << idn;
    }

    const ProcessResult next = inst.Run(kArgs);
    EXPECT_EQ(next.exit_code, 1);
    EXPECT_TRUE(inst.Pending().empty());
    lines = CountLines(inst.ExportFile().substr(earlier.size()));
    EXPECT_EQ(lines.size(), HandedOverIds(batch).size());
    for (const auto& [idn, n] : lines) EXPECT_EQ(n, 1) << idn;
  }
}

// Invariant: when the database's own files hit the limit too, no booking is
// marked without its whole line, a run that reports success has handed over
// every booking, and the next run exports every booking (those of a failed
// commit a second time).
TEST(FileSystemFull, LimitOnTheDatabaseFilesNeverMarksALineThatIsNotThere) {
  for (const long limit : {0L, 4096L, 16384L, 65536L}) {
    SCOPED_TRACE("file size limit " + std::to_string(limit));
    Installation inst(MakeSqliteTestDatabase);
    inst.WriteSettings();
    const std::vector<Booking> batch = Batch("G", 300);
    inst.Insert(batch);
    Checkpoint(inst);
    ProcessOptions limited;
    limited.file_size_limit = limit;

    const ProcessResult r = inst.Run(kArgs, limited);

    EXPECT_EQ(r.signal, 0);
    if (r.exit_code == 1) {
      EXPECT_TRUE(inst.Pending().empty()) << "success reported, bookings left";
    }
    const std::map<std::string, int> lines = CountLines(inst.ExportFile());
    const std::vector<std::string> handed = HandedOverIds(batch);  // in BewIDN order
    for (const std::string& idn : Transferred(inst)) {
      if (std::binary_search(handed.begin(), handed.end(), idn)) {
        EXPECT_EQ(lines.count(idn), 1u) << idn << " is marked without its line";
      }
    }

    EXPECT_EQ(inst.Run(kArgs).exit_code, 1);
    EXPECT_TRUE(inst.Pending().empty());
    const std::map<std::string, int> after = CountLines(inst.ExportFile());
    EXPECT_EQ(after.size(), handed.size());
    for (const auto& [idn, n] : after) EXPECT_LE(n, 2) << idn;
  }
}

// Invariant: a protocol log that cannot be written changes nothing else: the
// run ends with 1, exports every booking once and marks them all.
struct ProtocolCase {
  const char* name;
  void (*spoil)(Installation&);
  bool as_nobody;  // root writes anywhere: only another user meets the folder's mode
};

const ProtocolCase kProtocolCases[] = {
    {"FolderMissing",
     [](Installation& inst) { std::filesystem::remove_all(inst.log_dir); }, false},
    {"LogPathIsAFolder",
     [](Installation& inst) { std::filesystem::create_directory(inst.log_path); }, false},
    {"FolderReadOnly",
     [](Installation& inst) {
       WriteFile(inst.log_path, "earlier entry\n");
       ::chmod(inst.log_path.c_str(), 0444);
       ::chmod(inst.log_dir.c_str(), 0555);
     },
     true},
};

class ProtocolTrial : public ::testing::TestWithParam<ProtocolCase> {};

TEST_P(ProtocolTrial, RunIsUnaffected) {
  const ProtocolCase& c = GetParam();
  Installation inst(MakeSqliteTestDatabase);
  inst.WriteSettings();
  const std::vector<Booking> batch = Batch("P", 40);
  inst.Insert(batch);
  c.spoil(inst);
  const std::string log_before = LogBytes(inst);

  int exit_code = -1;
  if (::geteuid() == 0 && c.as_nobody) {
    HandOverToNobody(inst);
    exit_code = RunAsNobody(inst, {"Velunaris.ini", "../export", "/D"});
  } else {
    exit_code = inst.Run({"Velunaris.ini", "../export", "/D"}).exit_code;
  }

  EXPECT_EQ(exit_code, 1);
  EXPECT_TRUE(inst.Pending().empty());
  const std::map<std::string, int> lines = CountLines(inst.ExportFile());
  EXPECT_EQ(lines.size(), HandedOverIds(batch).size());
  EXPECT_EQ(LogBytes(inst), log_before);  // nothing was written, nothing moved
  EXPECT_FALSE(FileExists(inst.backup_path));
  // Let the fixture remove what it made.
  ::chmod(inst.log_dir.c_str(), 0755);
}

INSTANTIATE_TEST_SUITE_P(Faults, ProtocolTrial, ::testing::ValuesIn(kProtocolCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
