// The statement modules on the Oracle backend, against the recording
// stand-in: what a run sends to the client, from the login to the commit.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "FakeOciFixture.h"
#include "db/BewRecord.h"
#include "db/DB_Login.h"
#include "db/KortivaneSQL.h"
#include "db/SQLHlp.h"
#include "db/ora/OraStatus.h"
#include "settings/Cipher.h"

namespace {

std::string Encrypted(std::string_view plain) {
  std::vector<char> out(EncryptedLength(plain.size()) + 1);
  EXPECT_EQ(EncryptValue(plain, out, kCipherKeyText), 1);
  return out.data();
}

class OraStatementsTest : public FakeOciTest {
 protected:
  std::string WriteSettings(const std::string& login, const std::string& pass,
                            const std::string& net8) {
    const std::string path = (dir_ / "Velunaris.ini").string();
    std::ofstream(path, std::ios::binary)
        << "x;DB;c\n1;LOGIN;" << Encrypted(login) << "\nx;DB;c\n2;PASS;" << Encrypted(pass)
        << "\nx;DB;c\n3;NET8;" << Encrypted(net8) << "\n";
    return path;
  }
};

std::string Row(const std::vector<std::string>& values) {
  std::string line = "row";
  for (const std::string& v : values) line += "\t" + v;
  return line + "\n";
}

TEST_F(OraStatementsTest, LoginConnectsWithTheSettingsAndSwitchesTheSchema) {
  const std::string settings = WriteSettings("scott", "tiger", "db.example.com:1521/ORCLPDB1");
  ASSERT_EQ(DB_Login(settings.c_str()), 0);

  const auto logon = Calls("Logon");
  ASSERT_EQ(logon.size(), 1u);
  EXPECT_EQ(logon[0].Get("user"), "[scott]");
  EXPECT_EQ(logon[0].Get("password"), "[tiger]");
  EXPECT_EQ(logon[0].Get("db"), "[db.example.com:1521/ORCLPDB1]");
  const auto prepare = Calls("Prepare");
  ASSERT_EQ(prepare.size(), 1u);
  EXPECT_EQ(prepare[0].Get("text"), "ALTER SESSION SET CURRENT_SCHEMA=KELDOMAR");
}

TEST_F(OraStatementsTest, LoginFailureCarriesTheOraNumber) {
  Script("error\tlogon\t1017\n");
  const std::string settings = WriteSettings("scott", "wrong", "ORCL");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(DB_Login(settings.c_str()), -1017);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Datenbankverbindung fehlgeschlagen, Fehler: -1017\n");
}

TEST_F(OraStatementsTest, LoginWithoutClientLibrarySaysWhatToInstall) {
  setenv("MORVASK_OCI_LIB", "/opt/oracle/missing/libclntsh.so", 1);
  const std::string settings = WriteSettings("scott", "tiger", "ORCL");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(DB_Login(settings.c_str()), kOraErrClientNotLoaded);
  const std::string console = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(console.find("/opt/oracle/missing/libclntsh.so"), std::string::npos) << console;
  EXPECT_NE(console.find("MORVASK_OCI_LIB"), std::string::npos) << console;
  EXPECT_NE(console.find("Datenbankverbindung fehlgeschlagen, Fehler: -2101\n"), std::string::npos)
      << console;
  for (const char* secret : {"scott", "tiger", "ORCL"})
    EXPECT_EQ(console.find(secret), std::string::npos) << console;
}

// One run's statements in the driver's order, with the texts, sizes, types
// and values the client receives.
TEST_F(OraStatementsTest, RunSendsExactTextsSizesAndValuesAndCommitsOnlyAtTheEnd) {
  std::vector<std::string> first = {"T1", "L1", "4711", "S   ", "20240305070902",
                                    "20240305071500", "1", "A", "01", "ERA", "K", "B",
                                    "ERQ", "\\N", "Q1", "SRC", "RES  "};
  std::vector<std::string> second = first;
  second[2] = "\\N";  // BewIDN NULL: the mark binds one blank
  second[3] = "T";
  Script(Row(first) + Row(second) + "single\t05.03.2024 07:09:02\n");
  ASSERT_EQ(SQL_Connect("scott", "tiger", "ORCL", "KELDOMAR"), 0);
  ClearLog();

  std::array<char, 20> now{};
  ASSERT_EQ(SQL_GetSysDate(now.data()), 0);
  EXPECT_STREQ(now.data(), "05.03.2024 07:09:02");
  ASSERT_EQ(SQL_OpenBew(), 0);
  std::vector<BewRecord> fetched;
  BewRecord booking{};
  while (SQL_FetchBew(booking) == 0) {
    fetched.push_back(booking);
    EXPECT_EQ(SQL_MarkTranfer(booking), 0);
  }
  ASSERT_EQ(SQL_CloseBew(), 0);
  ASSERT_EQ(SQL_DeleteOld(), 0);
  EXPECT_TRUE(Calls("Commit").empty()) << "nothing is committed before SQL_Commit";
  EXPECT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(Calls().back().name, "Commit");

  ASSERT_EQ(fetched.size(), 2u);
  EXPECT_STREQ(fetched[0].BewSto.data(), "S");
  EXPECT_STREQ(fetched[0].BewKst.data(), "");
  EXPECT_STREQ(fetched[0].BewRes.data(), "RES");
  EXPECT_STREQ(fetched[0].BewSrc.data(), "SRC");
  EXPECT_STREQ(fetched[1].BewIDN.data(), "");

  std::vector<std::string> texts;
  for (const Call& c : Calls("Prepare")) texts.push_back(c.Get("text"));
  EXPECT_EQ(texts, (std::vector<std::string>{std::string(kSysDateQuery), std::string(kCursorText),
                                             std::string(kMarkText), std::string(kPurgeText)}))
      << "the mark is prepared once and executed per booking";

  std::vector<std::string> define_sizes;
  for (const Call& c : Calls("Define")) {
    EXPECT_EQ(c.Get("type"), "5");
    define_sizes.push_back(c.Get("size"));
  }
  std::vector<std::string> expected_defines = {"20"};
  for (int32_t size : kSelectSizes) expected_defines.push_back(std::to_string(size));
  EXPECT_EQ(define_sizes, expected_defines);

  std::vector<std::string> bind_sizes;
  for (const Call& c : Calls("Bind")) {
    EXPECT_EQ(c.Get("type"), "5");
    EXPECT_EQ(c.Get("ind"), "none");
    bind_sizes.push_back(c.Get("size"));
  }
  const std::vector<std::string> one_mark = {"51", "9", "20", "20", "4"};
  std::vector<std::string> two_marks = one_mark;
  two_marks.insert(two_marks.end(), one_mark.begin(), one_mark.end());
  EXPECT_EQ(bind_sizes, two_marks);

  std::vector<std::string> values;
  for (const Call& c : Calls("BindValue")) values.push_back(c.Get("value"));
  EXPECT_EQ(values, (std::vector<std::string>{"[4711]", "[S]", "[20240305070902]",
                                              "[20240305071500]", "[1]", "[ ]", "[T]",
                                              "[20240305070902]", "[20240305071500]", "[1]"}));
}

TEST_F(OraStatementsTest, MarkThatChangesNoRowAndFailedCommitAreReported) {
  Script("rowcount\tupdate\t0\nrowcount\tdelete\t0\nerror\tcommit\t3113\n");
  ASSERT_EQ(SQL_Connect("scott", "tiger", "ORCL", "KELDOMAR"), 0);
  BewRecord booking{};
  std::strcpy(booking.BewIDN.data(), "4711");
  EXPECT_EQ(SQL_MarkTranfer(booking), kSqlNotFound);
  EXPECT_EQ(SQL_DeleteOld(), 0) << "nothing old to purge is no failure";
  EXPECT_EQ(SQL_Commit(), 0);
}

}  // namespace
