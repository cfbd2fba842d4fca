// The login from the settings file: which service name reaches the connect,
// the two console texts, and that the password is left nowhere.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "SqliteTestDb.h"
#include "db/DB_Login.h"
#include "db/KortivaneSQL.h"
#include "db/SqlRuntime.h"
#include "db/sqlite/SqliteStatus.h"
#include "run/ProtocolLog.h"
#include "settings/Cipher.h"
#include "settings/IniFile.h"

namespace {

constexpr char kPassword[] = "Geheim#42";

std::string Encrypted(const std::string& plain) {
  std::string hex(EncryptedLength(plain.size()) + 1, '\0');
  EXPECT_EQ(EncryptValue(plain, hex, kCipherKeyText), 1);
  hex.resize(std::strlen(hex.c_str()));
  return hex;
}

// Works in the database's directory, so that NET8 can name the file by a
// relative path of a chosen length.
class DbLogin : public ::testing::Test {
 protected:
  void SetUp() override {
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(db_.dir());
    SetProtocolPaths("protocol.txt", "protocol_bak.txt");
  }
  void TearDown() override {
    SetProtocolPaths(kProtocolLogPath, kProtocolBackupPath);
    std::filesystem::current_path(old_dir_);
  }
  void WriteSettings(const std::optional<std::string>& net8) {
    std::ofstream out("Velunaris.ini", std::ios::binary);
    out << "x;DB;Anmeldung\n1;LOGIN;" << Encrypted("morvask") << "\n";
    out << "x;DB;Kennwort\n2;PASS;" << Encrypted(kPassword) << "\n";
    if (net8) out << "x;DB;Dienst\n3;NET8;" << Encrypted(*net8) << "\n";
  }
  static std::string ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static bool IniValueIsZero() {
    return std::all_of(iniEntry.value.begin(), iniEntry.value.end(), [](char c) { return c == 0; });
  }

  TempDb db_;
  std::filesystem::path old_dir_;
};

TEST_F(DbLogin, ServiceNameOfAtMost40Characters) {
  const std::string name40 = "bookings-of-the-installation-000000.db";
  ASSERT_EQ(name40.size() + 2, 40u);
  const std::string net8_40 = "./" + name40;
  const std::string net8_41 = net8_40 + "x";
  std::filesystem::copy_file("bew.db", name40);
  std::filesystem::copy_file("bew.db", name40 + "x");  // only a cut value would miss it

  const int32_t kNoFile = SqliteStatus(SQLITE_CANTOPEN);
  struct Case {
    std::optional<std::string> net8;
    int32_t status;
  } cases[] = {
      {net8_40, 0},
      {net8_41, kNoFile},  // too long: the service name stays empty
      {"", kNoFile},
      {std::nullopt, kNoFile},
      {"./missing.db", kNoFile},
  };
  for (const Case& c : cases) {
    WriteSettings(c.net8);
    testing::internal::CaptureStdout();
    int32_t status = DB_Login("Velunaris.ini");
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, c.status) << c.net8.value_or("(none)");
    EXPECT_EQ(console, status == 0 ? ""
                                   : "Datenbankverbindung fehlgeschlagen, Fehler: " +
                                         std::to_string(status) + "\n");
    EXPECT_TRUE(IniValueIsZero());
    Disconnect();
  }
  EXPECT_FALSE(std::filesystem::exists("missing.db"));
}

TEST_F(DbLogin, ConnectedSessionIsUsable) {
  WriteSettings("bew.db");
  ASSERT_EQ(DB_Login("Velunaris.ini"), 0);
  EXPECT_EQ(SQL_OpenBew(), 0);
}

TEST_F(DbLogin, MissingSettingsFile) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(DB_Login("nowhere.ini"), 97);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Velunaris.Ini-Datei nicht gefunden");
  EXPECT_EQ(ReadFile("protocol.txt").find("Velunaris.Ini-Datei nicht gefunden") != std::string::npos,
            true);
  BewRecord r;
  EXPECT_EQ(SQL_FetchBew(r), kSqlErrNotConnected) << "no connection was attempted";
}

// Neither the console nor the protocol log ever shows the password.
TEST_F(DbLogin, PasswordAppearsNowhere) {
  for (const char* net8 : {"bew.db", "missing.db"}) {
    WriteSettings(std::string(net8));
    testing::internal::CaptureStdout();
    DB_Login("Velunaris.ini");
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console.find(kPassword), std::string::npos) << console;
    EXPECT_EQ(ReadFile("protocol.txt").find(kPassword), std::string::npos);
    EXPECT_TRUE(IniValueIsZero());
  }
}

}  // namespace
