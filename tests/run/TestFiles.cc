#include "TestFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/morvask-run-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Tests may leave folders without write permission behind.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    if (entry.is_directory(ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::File(std::string_view name) const { return path_ + "/" + std::string(name); }

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

StdoutCapture::StdoutCapture(std::string file) : file_(std::move(file)) {
  std::fflush(stdout);
  saved_ = ::dup(STDOUT_FILENO);
  int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(fd, STDOUT_FILENO);
  ::close(fd);
}

StdoutCapture::~StdoutCapture() { Finish(); }

std::string StdoutCapture::Finish() {
  if (saved_ >= 0) {
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  return ReadFile(file_);
}
