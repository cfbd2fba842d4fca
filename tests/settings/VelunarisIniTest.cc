// Runs the built operator's tool against files in a scratch folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/Cipher.h"
#include "settings/IniFile.h"

namespace {

struct Result {
  int code = -1;
  std::string out;
};

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the tool with its standard input closed and no controlling terminal,
// so a prompt could never wait for input.
Result RunTool(const std::vector<std::string>& args) {
  std::string command = "setsid -w " + Quote(VELUNARIS_INI_PATH);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " </dev/null 2>/dev/null";
  Result result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer;
  std::size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), got);
  const int status = pclose(pipe);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/morvask-tool-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/Velunaris.ini";
  }
  void TearDown() override { std::system(("rm -rf " + Quote(dir_)).c_str()); }

  void Write(const std::string& content, mode_t mode = 0600) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
    chmod(path_.c_str(), mode);
  }
  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  mode_t Mode() const {
    struct stat info {};
    stat(path_.c_str(), &info);
    return info.st_mode & 07777;
  }

  std::string dir_;
  std::string path_;
};

std::string Encrypted(const std::string& plain) {
  std::array<char, 201> text{};
  EncryptValue(plain, text, kCipherKeyText);
  return text.data();
}

TEST_F(ToolTest, SetGetAndCheckTheBatchKeys) {
  const std::string login = "zeit_user";
  const std::string pass = "p;a s\"s'w\xF6rt";
  const std::string net8 = "dbhost:5432/zeiterfassung";
  ASSERT_EQ(RunTool({"set", path_, "LOGIN", login}).code, 0);
  ASSERT_EQ(RunTool({"set", path_, "PASS", pass}).code, 0);
  ASSERT_EQ(RunTool({"set", path_, "NET8", net8}).code, 0);
  EXPECT_EQ(Mode(), 0600u);

  EXPECT_EQ(RunTool({"get", path_, "LOGIN"}).out, login + "\n");
  EXPECT_EQ(RunTool({"get", path_, "PASS"}).out, pass + "\n");
  EXPECT_EQ(RunTool({"get", path_, "NET8"}).out, net8 + "\n");
  const Result check = RunTool({"check", path_});
  EXPECT_EQ(check.code, 0) << check.out;

  // The batch's own lookup reads the same values.
  GetIniValue("", "LOGIN", 0, path_.c_str());
  EXPECT_EQ(std::string(iniEntry.value.data()), login);
  GetIniValue("", "PASS", 0, path_.c_str());
  EXPECT_EQ(std::string(iniEntry.value.data()), pass);
  GetIniValue("", "NET8", 0, path_.c_str());
  EXPECT_EQ(std::string(iniEntry.value.data()), net8);
  // Its records answer no other key's request.
  GetIniValue("", "OTHER", 0, path_.c_str());
  EXPECT_STREQ(iniEntry.value.data(), "");
  EXPECT_STREQ(iniEntry.key.data(), "");

  // Replacing keeps the file's size in records.
  ASSERT_EQ(RunTool({"set", path_, "PASS", "neu"}).code, 0);
  EXPECT_EQ(RunTool({"get", path_, "PASS"}).out, "neu\n");
  EXPECT_EQ(RunTool({"get", path_, "LOGIN"}).out, login + "\n");
}

TEST_F(ToolTest, SetKeepsEveryOtherLineAndTheFileMode) {
  const std::string before = "Kopf;Allgemein;frei\r\n5;ANDERES;" + Encrypted("x") + "\r\n";
  const std::string after = "x;DB;Rest\r\n7;NET8;" + Encrypted("svc") + "\r\nx;DB;ohne Zeilenende\r\n8;Z;1";
  Write(before + "x;DB;alt\r\n1;LOGIN;" + Encrypted("alt") + "\r\n" + after, 0640);

  ASSERT_EQ(RunTool({"set", path_, "LOGIN", "neu"}).code, 0);
  EXPECT_EQ(Read(), before + ";DB;\r\n1;LOGIN;" + Encrypted("neu") + "\r\n" + after);
  EXPECT_EQ(Mode(), 0640u);

  // Added at the end: the last line gets its line end first.
  ASSERT_EQ(RunTool({"set", path_, "PASS", "pw"}).code, 0);
  EXPECT_EQ(Read(), before + ";DB;\r\n1;LOGIN;" + Encrypted("neu") + "\r\n" + after + "\r\n;DB;\r\n2;PASS;" +
                        Encrypted("pw") + "\r\n");
}

TEST_F(ToolTest, CheckFindsShadowsBadTextAndLongServiceNames) {
  const std::string sound = "x;DB;c\n1;LOGIN;" + Encrypted("u") + "\nx;DB;c\n2;PASS;" + Encrypted("p") +
                            "\nx;DB;c\n3;NET8;" + Encrypted("svc") + "\n";
  Write(sound);
  ASSERT_EQ(RunTool({"check", path_}).code, 0);

  struct Case {
    const char* name;
    std::string content;
  };
  const Case faulty[] = {
      {"empty section shadows", "x;;c\n9;OTHER;" + Encrypted("o") + "\n" + sound},
      {"number 0 shadows", "x;DB;c\n0;OTHER;" + Encrypted("o") + "\n" + sound},
      {"lower-case text", "x;DB;c\n1;LOGIN;" + std::string("fbad790448396eae") + "\n" + sound},
      {"incomplete block", "x;DB;c\n1;LOGIN;" + Encrypted("u") + "0\n" + sound},
      {"missing key", "x;DB;c\n1;LOGIN;" + Encrypted("u") + "\nx;DB;c\n2;PASS;" + Encrypted("p") + "\n"},
      {"service name over 40", "x;DB;c\n3;NET8;" + Encrypted(std::string(41, 's')) + "\n" + sound},
  };
  for (const Case& c : faulty) {
    SCOPED_TRACE(c.name);
    Write(c.content);
    const Result check = RunTool({"check", path_});
    EXPECT_EQ(check.code, 1) << check.out;
    EXPECT_NE(check.out.find("FEHLER"), std::string::npos) << check.out;
  }
}

TEST_F(ToolTest, BadInputIsRefusedAndLeavesTheFileAlone) {
  EXPECT_EQ(RunTool({}).code, 2);
  EXPECT_EQ(RunTool({"encrypt"}).code, 2);
  EXPECT_EQ(RunTool({"frobnicate", path_}).code, 2);
  EXPECT_EQ(RunTool({"encrypt", std::string(97, 'v')}).code, 2);
  EXPECT_EQ(RunTool({"check", path_}).code, 3) << "missing file";
  EXPECT_EQ(RunTool({"get", path_, "LOGIN"}).code, 3) << "missing file";
  EXPECT_EQ(RunTool({"set", path_, "LOGIN"}).code, 2) << "no value and no terminal";
  EXPECT_NE(access(path_.c_str(), F_OK), 0) << "nothing created";

  const std::string content = "x;DB;c\n1;LOGIN;" + Encrypted("u") + "\nx;DB;orphan\n";
  Write(content);
  EXPECT_EQ(RunTool({"set", path_, "NET8", std::string(41, 's')}).code, 2);
  EXPECT_EQ(RunTool({"set", path_, "A;B", "v"}).code, 2);
  EXPECT_EQ(RunTool({"set", path_, "", "v"}).code, 2);
  EXPECT_EQ(RunTool({"set", path_, "PASS", "p"}).code, 3) << "appending would pair with the orphan line";
  EXPECT_EQ(Read(), content);
  EXPECT_EQ(RunTool({"get", path_, "PASS"}).code, 1);

  // Replacing is still possible: pairing does not change.
  ASSERT_EQ(RunTool({"set", path_, "LOGIN", "v"}).code, 0);
  EXPECT_EQ(Read(), ";DB;\n1;LOGIN;" + Encrypted("v") + "\nx;DB;orphan\n");
}

TEST_F(ToolTest, EncryptPrintsTextThatDecryptsToTheValue) {
  const Result result = RunTool({"encrypt", "KELDOMAR"});
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.out, "FBAD790448396EAE\n");
}

}  // namespace
