// The database password never leaves the settings file: every way the login
// can fail is run with a recognisable password, and neither the console, nor
// the protocol log, nor the export file holds it, in plain or cipher text.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "Trial.h"

namespace {

const std::string kPassword = "Kz7-GEHEIM-wort-Kz7";

// The password as velunaris-ini stores it.
std::string CipherText(const std::string& value) {
  const ProcessResult r = RunProcess(MORVASK_BIN_DIR "/velunaris-ini", {"encrypt", value}, {});
  std::string text = r.out;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

struct LoginFailure {
  const char* name;
  void (*prepare)(Installation&);
  int exit_code;
};

void NoSettingsFile(Installation&) {}

void WithoutNet8(Installation& inst) {
  RunProcess(MORVASK_BIN_DIR "/velunaris-ini", {"set", inst.settings_path, "LOGIN", "zeit"}, {});
  RunProcess(MORVASK_BIN_DIR "/velunaris-ini", {"set", inst.settings_path, "PASS", kPassword}, {});
}

void Net8NotADatabase(Installation& inst) { inst.WriteSettings("zeit", kPassword, "Velunaris.ini"); }

void DatabaseFileMissing(Installation& inst) { inst.WriteSettings("zeit", kPassword, "gone.db"); }

void DatabaseWithoutTable(Installation& inst) {
  sqlite3* db = nullptr;
  sqlite3_open((inst.run_dir + "/empty.db").c_str(), &db);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE Other (x);", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  inst.WriteSettings("zeit", kPassword, "empty.db");
}

void Net8TooLong(Installation& inst) {
  // The tool refuses such a NET8, so its record is written by hand (number 3:
  // a record numbered 0 would answer every request, which passes number 0).
  WithoutNet8(inst);
  const std::string net8 = CipherText(std::string(41, 'n') + ".db");
  WriteFile(inst.settings_path, ReadFile(inst.settings_path) + ";DB;\n3;NET8;" + net8 + "\n");
}

void ConnectTextTooLong(Installation& inst) {
  // user/password@service beyond the statement buffer: refused whole.
  inst.WriteSettings(std::string(60, 'u'), kPassword + std::string(40, 'p'), "bew.db");
}

void PasswordWithSeparators(Installation& inst) {
  // A wrong password that holds the connect text's own separators.
  inst.WriteSettings("zeit", kPassword + "/@x", "nowhere/gone.db");
}

const LoginFailure kFailures[] = {
    {"NoSettingsFile", NoSettingsFile, 97},
    {"WithoutNet8", WithoutNet8, 96},
    {"Net8NotADatabase", Net8NotADatabase, 96},
    {"DatabaseFileMissing", DatabaseFileMissing, 96},
    {"DatabaseWithoutTable", DatabaseWithoutTable, 96},
    {"Net8TooLong", Net8TooLong, 96},
    {"ConnectTextTooLong", ConnectTextTooLong, 96},
    {"PasswordWithSeparators", PasswordWithSeparators, 96},
};

class SecretsTest : public ::testing::TestWithParam<LoginFailure> {};

TEST_P(SecretsTest, PasswordAppearsNowhere) {
  const LoginFailure& c = GetParam();
  Installation inst(MakeSqliteTestDatabase);
  inst.Insert(Batch("S", 3));
  WriteFile(inst.export_file, "");  // an export file that stays empty
  c.prepare(inst);

  const ProcessResult r = inst.Run({"Velunaris.ini", "../export", "/D"});

  EXPECT_EQ(r.exit_code, c.exit_code) << r.out;
  EXPECT_EQ(inst.Pending().size(), 3u);
  const std::string log = ReadFile(inst.log_path);
  EXPECT_NE(log, "");  // the failure was written, so the check below has text to look at
  for (const std::string& secret : {kPassword, CipherText(kPassword).substr(0, 16)}) {
    ASSERT_GE(secret.size(), 16u);
    EXPECT_EQ(r.out.find(secret), std::string::npos) << "console: " << r.out;
    EXPECT_EQ(log.find(secret), std::string::npos) << "protocol log: " << log;
    EXPECT_EQ(inst.ExportFile().find(secret), std::string::npos);
  }
  EXPECT_EQ(inst.ExportFile(), "");
}

INSTANTIATE_TEST_SUITE_P(LoginFailures, SecretsTest, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
