// Small file helpers for the run tests: a temporary folder per test, whole
// file reads and writes, and a capture of standard output.
#pragma once

#include <string>
#include <string_view>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(std::string_view name) const;

 private:
  std::string path_;
};

bool FileExists(const std::string& path);
std::string ReadFile(const std::string& path);  // empty when missing
void WriteFile(const std::string& path, std::string_view content);

// Sends everything written to standard output (stdio and fd 1) into a file
// until Finish(), which returns it.
class StdoutCapture {
 public:
  explicit StdoutCapture(std::string file);
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  std::string Finish();

 private:
  std::string file_;
  int saved_ = -1;
};
