#include "run/ExportLine.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "TestFiles.h"
#include "run/ProtocolLog.h"

namespace {

// The record's fields as plain texts, in the record's order.
struct Fields {
  std::string tid, lid, idn, sto, dtm, uhr, lfn, art, tas, era, kze, ber, erq, kst, qua, res, src;
};

template <size_t N>
void Put(std::array<char, N>& field, const std::string& value) {
  ASSERT_LT(value.size(), N) << value;
  std::memcpy(field.data(), value.c_str(), value.size() + 1);
}

BewRecord MakeBooking(const Fields& f) {
  BewRecord b;
  Put(b.BewTID, f.tid);
  Put(b.BewLID, f.lid);
  Put(b.BewIDN, f.idn);
  Put(b.BewSto, f.sto);
  Put(b.BewDtm, f.dtm);
  Put(b.BewUhr, f.uhr);
  Put(b.BewLfn, f.lfn);
  Put(b.BewArt, f.art);
  Put(b.BewTas, f.tas);
  Put(b.BewEra, f.era);
  Put(b.BewKze, f.kze);
  Put(b.BewBer, f.ber);
  Put(b.BewErq, f.erq);
  Put(b.BewKst, f.kst);
  Put(b.BewQua, f.qua);
  Put(b.BewRes, f.res);
  Put(b.BewSrc, f.src);
  return b;
}

// Every field distinct, so a field in the wrong place shows.
Fields Typical() {
  return {.tid = "T01", .lid = "L1", .idn = "4711", .sto = "0001", .dtm = "20240131000000",
          .uhr = "19000101081530", .lfn = "7", .art = "K", .tas = "F1", .era = "200",
          .kze = "", .ber = "", .erq = "E9", .kst = "Kst 12", .qua = "Q", .res = "Rest",
          .src = "dta"};
}

const std::string kWriteFailed4711 =
    "Buchung 4711 konnte nicht in die Zieldatei geschrieben werden\n";

TEST(TrimRightTest, RemovesTrailingBlanksAndTabsOnly) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"A1 \t ", "A1"},   {"  A1", "  A1"}, {"   ", ""},         {"\t\t", ""},
      {"", ""},           {"A1\n", "A1\n"}, {"A1\r \t", "A1\r"}, {"A 1 ", "A 1"},
  };
  for (const Case& c : cases) {
    std::array<char, 16> text{};
    std::strcpy(text.data(), c.in);
    EXPECT_EQ(TrimRight(text.data()), text.data());
    EXPECT_STREQ(text.data(), c.out) << '"' << c.in << '"';
  }
  // A value that fills its buffer keeps every character.
  BewRecord b;
  std::string full(50, 'x');
  std::memcpy(b.BewIDN.data(), full.c_str(), 51);
  EXPECT_EQ(std::string(TrimRight(b.BewIDN.data())), full);
}

TEST(UpperCaseInPlaceTest, ChangesOnlyAsciiLowerCaseLetters) {
  std::array<char, 16> text{};
  std::strcpy(text.data(), "dTa`{z@[\xE4\xFC" "1");
  EXPECT_EQ(UpperCaseInPlace(text.data()), text.data());
  EXPECT_STREQ(text.data(), "DTA`{Z@[\xE4\xFC" "1");
}

TEST(NormaliseBewEraTest, DecisionTable) {
  struct Case {
    const char* key;
    const char* era;
    const char* kze;
    const char* ber;
    const char* expected_era;
    bool exported;
  };
  const Case cases[] = {
      // DTA: eight codes become 204, four become 426, the rest stay.
      {"DTA", "200", "", "", "204", true},
      {"DTA", "201", "", "", "204", true},
      {"DTA", "202", "", "", "204", true},
      {"DTA", "203", "", "", "204", true},
      {"DTA", "206", "", "", "204", true},
      {"DTA", "207", "", "", "204", true},
      {"DTA", "208", "", "", "204", true},
      {"DTA", "210", "", "", "204", true},
      {"DTA", "430", "", "", "426", true},
      {"DTA", "431", "", "", "426", true},
      {"DTA", "500", "", "", "426", true},
      {"DTA", "501", "", "", "426", true},
      {"DTA", "204", "", "", "204", true},
      {"DTA", "205", "", "", "205", false},
      {"DTA", "209", "", "", "209", false},
      {"DTA", "", "", "", "", false},
      {"DTA", "5", "", "", "5", true},
      {"DTA", "2", "", "", "2", false},
      {"DTA", "20", "", "", "20", false},
      {"DTA", "100", "X", "1", "100", true},  // Kze and Ber mean nothing here
      // 40P: Kze first, then Ber.
      {"40P", "999", "X", "", "100", true},
      {"40P", "999", "X", "7", "100", true},
      {"40P", "999", "", "1", "100", true},
      {"40P", "999", "", "", "204", true},
      {"40P", "999", "", "2", "204", true},
      // 50P always 100; 62P never changes.
      {"50P", "999", "", "", "100", true},
      {"50P", "", "", "", "100", true},
      {"62P", "200", "", "", "200", false},
      {"62P", "100", "", "", "100", true},
      {"62P", "", "", "", "", false},
      // Every other source, the empty one included.
      {"", "205", "", "", "204", true},
      {"XYZ", "", "", "", "204", true},
      {"DT", "200", "", "", "204", true},
      {"dta", "205", "", "", "204", true},  // the key arrives upper-cased
  };
  for (const Case& c : cases) {
    Fields f{};
    f.era = c.era;
    f.kze = c.kze;
    f.ber = c.ber;
    BewRecord b = MakeBooking(f);
    NormaliseBewEra(b, c.key);
    SCOPED_TRACE(std::string(c.key) + " era=" + c.era + " kze=" + c.kze + " ber=" + c.ber);
    EXPECT_STREQ(b.BewEra.data(), c.expected_era);
    EXPECT_EQ(IsExportedEra(b.BewEra.data()), c.exported);
    EXPECT_STREQ(b.BewKze.data(), c.kze);  // only the code is rewritten
  }
}

TEST(IsExportedEraTest, ElevenCodesOnly) {
  for (const char* era : {"100", "204", "426", "0", "1", "4", "5", "6", "7", "8", "9"}) {
    EXPECT_TRUE(IsExportedEra(era)) << era;
  }
  for (const char* era : {"", "2", "3", "10", "00", "1000", " 1", "1 ", "205", "204 "}) {
    EXPECT_FALSE(IsExportedEra(era)) << '"' << era << '"';
  }
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override { SetProtocolPaths(log_.c_str(), backup_.c_str()); }

  TempDir dir_;
  std::string export_ = dir_.File("BEWDATA.dat");
  std::string log_ = dir_.File("Kortivane#Log.txt");
  std::string backup_ = dir_.File("Kortivane#Log_bak.txt");
};

TEST_F(TransferTest, LinesByteForByte) {
  struct Case {
    const char* name;
    Fields fields;
    std::string export_line;
    std::string protocol_line;
  };
  Fields null_dates = Typical();
  null_dates.dtm = "";
  null_dates.uhr = "";
  null_dates.src = "";
  null_dates.era = "";
  Fields raw = Typical();
  raw.kst = "Halle 3, Tor 2";
  raw.res = "M\xFCller,\x80\xFF";
  raw.idn = "ID,\xDC";
  raw.kze = "Z";
  raw.ber = "B";
  raw.src = "62P";
  raw.era = "100";
  const Case cases[] = {
      {"lower-case source", Typical(),
       "4711,0001,20240131,081530,7,T01,L1,K,Kst 12,Q,,,204,E9,F1,dta,Rest\n",
       "4711,20240131,081530,T01,L1,K, 7, dta\n"},
      {"null dates", null_dates, "4711,0001,,,7,T01,L1,K,Kst 12,Q,,,204,E9,F1,,Rest\n",
       "4711,,,T01,L1,K, 7, \n"},
      {"commas and high bytes", raw,
       "ID,\xDC,0001,20240131,081530,7,T01,L1,K,Halle 3, Tor 2,Q,Z,B,100,E9,F1,62P,"
       "M\xFCller,\x80\xFF\n",
       "ID,\xDC,20240131,081530,T01,L1,K, 7, 62P\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(export_.c_str());
    std::remove(log_.c_str());
    BewRecord b = MakeBooking(c.fields);
    int32_t counter = 3;
    EXPECT_EQ(TransferBooking(b, export_.c_str(), false, counter), TransferResult::kExported);
    EXPECT_EQ(counter, 4);
    EXPECT_EQ(ReadFile(export_), c.export_line);
    EXPECT_EQ(ReadFile(log_), c.protocol_line);
    EXPECT_STREQ(b.BewSrc.data(), c.fields.src.c_str());  // the source keeps its letters
  }
}

TEST_F(TransferTest, AllFieldsAtTheirWidestGiveWholeLines) {
  Fields f{.tid = std::string(255, 'T'), .lid = "LLLLL", .idn = std::string(50, 'I'),
           .sto = "SSSSSSSS", .dtm = "2024013123595912345", .uhr = "1900010123595967890",
           .lfn = "NNN", .art = "AAA", .tas = "TT", .era = "999", .kze = "K", .ber = "B",
           .erq = std::string(10, 'E'), .kst = std::string(30, 'C'), .qua = "QQQQQ",
           .res = std::string(30, 'R'), .src = "50P"};
  BewRecord b = MakeBooking(f);
  int32_t counter = 0;
  ASSERT_EQ(TransferBooking(b, export_.c_str(), false, counter), TransferResult::kExported);

  const std::string expected_export = f.idn + "," + f.sto + ",20240131,235959," + f.lfn + "," +
                                      f.tid + "," + f.lid + "," + f.art + "," + f.kst + "," +
                                      f.qua + ",K,B,100," + f.erq + "," + f.tas + ",50P," +
                                      f.res + "\n";
  const std::string expected_protocol = f.idn + ",20240131,235959," + f.tid + "," + f.lid +
                                        "," + f.art + ", " + f.lfn + ", 50P\n";
  EXPECT_EQ(expected_export.size(), 439u + 1);
  EXPECT_EQ(expected_protocol.size(), 342u + 1);
  EXPECT_EQ(ReadFile(export_), expected_export);
  EXPECT_EQ(ReadFile(log_), expected_protocol);
}

TEST_F(TransferTest, AppendsAfterExistingLinesAndPrintsConsoleLine) {
  WriteFile(export_, "earlier line\n");
  StdoutCapture console(dir_.File("stdout"));
  int32_t counter = 0;
  BewRecord first = MakeBooking(Typical());
  Fields second_fields = Typical();
  second_fields.idn = "4712";
  second_fields.uhr = "1900010107";  // fewer than 14 digits: what there is
  BewRecord second = MakeBooking(second_fields);
  EXPECT_EQ(TransferBooking(first, export_.c_str(), true, counter), TransferResult::kExported);
  EXPECT_EQ(TransferBooking(second, export_.c_str(), false, counter), TransferResult::kExported);
  EXPECT_EQ(console.Finish(), "ID: 4711, Buchung vom 20240131 081530  uebergeben\n");
  EXPECT_EQ(counter, 2);
  EXPECT_EQ(ReadFile(export_),
            "earlier line\n"
            "4711,0001,20240131,081530,7,T01,L1,K,Kst 12,Q,,,204,E9,F1,dta,Rest\n"
            "4712,0001,20240131,07,7,T01,L1,K,Kst 12,Q,,,204,E9,F1,dta,Rest\n");
}

TEST_F(TransferTest, FilteredBookingLeavesNoTrace) {
  Fields f = Typical();
  f.era = "205";
  BewRecord b = MakeBooking(f);
  StdoutCapture console(dir_.File("stdout"));
  int32_t counter = 5;
  EXPECT_EQ(TransferBooking(b, export_.c_str(), true, counter), TransferResult::kFiltered);
  EXPECT_EQ(console.Finish(), "");
  EXPECT_EQ(counter, 5);
  EXPECT_FALSE(FileExists(export_));
  EXPECT_FALSE(FileExists(log_));
}

TEST_F(TransferTest, MissingLogDirectoryChangesNothingElse) {
  SetProtocolPaths(dir_.File("no/log.txt").c_str(), dir_.File("no/bak.txt").c_str());
  BewRecord b = MakeBooking(Typical());
  int32_t counter = 0;
  EXPECT_EQ(TransferBooking(b, export_.c_str(), false, counter), TransferResult::kExported);
  EXPECT_EQ(counter, 1);
  EXPECT_EQ(ReadFile(export_),
            "4711,0001,20240131,081530,7,T01,L1,K,Kst 12,Q,,,204,E9,F1,dta,Rest\n");
  EXPECT_FALSE(FileExists(dir_.File("no")));
}

// What the caller and the protocol see of a line that was not written.
void ExpectWriteFailed(const std::string& export_path, const std::string& log_path,
                       const std::string& console_file) {
  BewRecord b = MakeBooking(Typical());
  int32_t counter = 9;
  StdoutCapture console(console_file);
  EXPECT_EQ(TransferBooking(b, export_path.c_str(), true, counter),
            TransferResult::kWriteFailed);
  EXPECT_EQ(console.Finish(), "");
  EXPECT_EQ(counter, 9);
  EXPECT_EQ(ReadFile(log_path), kWriteFailed4711);
}

TEST_F(TransferTest, ExportFileThatCannotBeOpenedIsReported) {
  ::mkdir(dir_.File("folder").c_str(), 0755);
  WriteFile(dir_.File("plain"), "x");
  for (const char* name : {"missing/BEWDATA.dat", "folder", "plain/BEWDATA.dat"}) {
    SCOPED_TRACE(name);
    std::remove(log_.c_str());
    ExpectWriteFailed(dir_.File(name), log_, dir_.File("stdout"));
  }
  EXPECT_EQ(ReadFile(dir_.File("plain")), "x");
}

// Runs body in a child process and returns its exit status; gtest failures
// in the child turn into a nonzero status.
template <typename Body>
int InChild(Body body) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(TransferTest, ExportDirectoryWithoutWriteRightIsReported) {
  // Root may write anywhere, so the child gives up root first.
  std::string out = dir_.File("out");
  std::string logs = dir_.File("logs");
  ASSERT_EQ(::mkdir(out.c_str(), 0555), 0);
  ASSERT_EQ(::mkdir(logs.c_str(), 0777), 0);
  ::chmod(logs.c_str(), 0777);
  ::chmod(dir_.path().c_str(), 0755);
  std::string log = logs + "/log.txt";
  SetProtocolPaths(log.c_str(), (logs + "/bak.txt").c_str());

  int status = InChild([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    ExpectWriteFailed(out + "/BEWDATA.dat", log, logs + "/stdout");
  });
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(FileExists(out + "/BEWDATA.dat"));
  EXPECT_EQ(ReadFile(log), kWriteFailed4711);
}

TEST_F(TransferTest, LineCutOffPartWayIsRemovedAndReported) {
  const std::string earlier(200, 'e');
  WriteFile(export_, earlier + "\n");
  // The limit lets 20 bytes of the next line through, then the write fails.
  int status = InChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{201 + 20, 201 + 20};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
    ExpectWriteFailed(export_, log_, dir_.File("stdout"));
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(export_), earlier + "\n");
  EXPECT_EQ(ReadFile(log_), kWriteFailed4711);

  // The file takes the next line whole once there is room again.
  BewRecord b = MakeBooking(Typical());
  int32_t counter = 0;
  EXPECT_EQ(TransferBooking(b, export_.c_str(), false, counter), TransferResult::kExported);
  EXPECT_EQ(ReadFile(export_),
            earlier + "\n4711,0001,20240131,081530,7,T01,L1,K,Kst 12,Q,,,204,E9,F1,dta,Rest\n");
}

TEST_F(TransferTest, AppendExportLineReportsEachOutcome) {
  EXPECT_TRUE(AppendExportLine(export_.c_str(), "a,b\n"));
  EXPECT_TRUE(AppendExportLine(export_.c_str(), "c,d\n"));
  EXPECT_FALSE(AppendExportLine(dir_.File("missing/x").c_str(), "e\n"));
  EXPECT_EQ(ReadFile(export_), "a,b\nc,d\n");

  int status = InChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{10, 10};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
    EXPECT_FALSE(AppendExportLine(export_.c_str(), "0123456789\n"));  // 2 bytes fit
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(export_), "a,b\nc,d\n");
}

}  // namespace
