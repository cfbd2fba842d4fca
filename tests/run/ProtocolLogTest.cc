#include "run/ProtocolLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "TestFiles.h"

namespace {

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

std::string Tail(const std::string& path, size_t n) {
  std::string tail(n, '\0');
  int fd = ::open(path.c_str(), O_RDONLY);
  ssize_t got = ::pread(fd, tail.data(), n, FileSize(path) - static_cast<off_t>(n));
  ::close(fd);
  tail.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return tail;
}

// A log of the given size without writing megabytes of text.
void MakeLog(const std::string& path, int64_t size) {
  WriteFile(path, "");
  ASSERT_EQ(::truncate(path.c_str(), size), 0);
}

class ProtocolLogTest : public ::testing::Test {
 protected:
  void SetUp() override { SetProtocolPaths(log_.c_str(), backup_.c_str()); }

  TempDir dir_;
  std::string log_ = dir_.File("Kortivane#Log.txt");
  std::string backup_ = dir_.File("Kortivane#Log_bak.txt");
};

TEST_F(ProtocolLogTest, EachEntryIsItsTextAndOneLineFeed) {
  EXPECT_STREQ(ProtocolLogPath(), log_.c_str());
  WriteProtocol(log_.c_str(), "Start");
  EXPECT_EQ(ReadFile(log_), "Start\n");  // a missing log is created
  WriteProtocol(log_.c_str(), "100% %s %d %n");
  WriteProtocol(log_.c_str(), "");
  WriteProtocol(log_.c_str(), "zwei\nZeilen\n");
  WriteProtocol(log_.c_str(), "\xDC" "bergabe");
  EXPECT_EQ(ReadFile(log_),
            "Start\n100% %s %d %n\n\nzwei\nZeilen\n\n\xDC"
            "bergabe\n");
  EXPECT_FALSE(FileExists(backup_));
}

TEST_F(ProtocolLogTest, RotatesOnlyPastTheLimit) {
  struct Case {
    const char* name;
    int64_t before;
    bool rotates;
  };
  const Case cases[] = {
      {"exactly at the limit stays", kProtocolLimit - 6, false},
      {"one byte over rotates", kProtocolLimit - 5, true},
      {"already over rotates", kProtocolLimit + 100, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeLog(log_, c.before);
    WriteFile(backup_, "older backup\n");
    WriteProtocol(log_.c_str(), "abcde");
    if (c.rotates) {
      EXPECT_FALSE(FileExists(log_));
      EXPECT_EQ(FileSize(backup_), c.before + 6);  // the whole former log
      EXPECT_EQ(Tail(backup_, 6), "abcde\n");
      WriteProtocol(log_.c_str(), "next");
      EXPECT_EQ(ReadFile(log_), "next\n");
    } else {
      EXPECT_EQ(FileSize(log_), kProtocolLimit);
      EXPECT_EQ(ReadFile(backup_), "older backup\n");
    }
    std::remove(log_.c_str());
  }
}

TEST_F(ProtocolLogTest, FailedRenameKeepsTheLogGrowing) {
  SetProtocolPaths(log_.c_str(), dir_.File("gone/bak.txt").c_str());
  MakeLog(log_, kProtocolLimit);
  WriteProtocol(log_.c_str(), "a");
  WriteProtocol(log_.c_str(), "b");
  EXPECT_EQ(FileSize(log_), kProtocolLimit + 4);
  EXPECT_EQ(Tail(log_, 4), "a\nb\n");
}

TEST_F(ProtocolLogTest, MissingDirectoryLosesEntriesSilently) {
  std::string missing = dir_.File("log/Kortivane#Log.txt");
  WriteProtocol(missing.c_str(), "Start");
  WriteProtocol(missing.c_str(), "Ende");
  EXPECT_FALSE(FileExists(dir_.File("log")));
}

TEST_F(ProtocolLogTest, PathTooLongForItsBufferIsNotCut) {
  std::string too_long = dir_.path() + "/" + std::string(5000, 'x');
  SetProtocolPaths(too_long.c_str(), backup_.c_str());
  EXPECT_STREQ(ProtocolLogPath(), "");
  WriteProtocol(ProtocolLogPath(), "lost");
  EXPECT_EQ(ReadFile(log_), "");
}

}  // namespace
