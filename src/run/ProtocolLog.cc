#include "run/ProtocolLog.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "run/FileDescriptor.h"

namespace {

constexpr size_t kPathCapacity = 4096;  // PATH_MAX on Linux, terminator included
using PathBuffer = std::array<char, kPathCapacity>;

// A path that does not fit is kept empty: its entries are then dropped as
// for a missing directory, rather than written to a cut-off path elsewhere.
constexpr PathBuffer MakePath(std::string_view path) {
  PathBuffer buffer{};
  if (path.size() < buffer.size()) std::copy(path.begin(), path.end(), buffer.begin());
  return buffer;
}

constinit PathBuffer log_path = MakePath(kProtocolLogPath);
constinit PathBuffer backup_path = MakePath(kProtocolBackupPath);

}  // namespace

void SetProtocolPaths(const char* log, const char* backup) {
  log_path = MakePath(log != nullptr ? log : "");
  backup_path = MakePath(backup != nullptr ? backup : "");
}

const char* ProtocolLogPath() { return log_path.data(); }

void WriteProtocol(const char* path, const char* text) {
  if (path == nullptr) return;
  if (text == nullptr) text = "";

  off_t size = 0;
  {
    // Creates the file, never its directory.
    FileDescriptor file(::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (!file.valid()) return;
    // Text and line end in one write; writev spares copying a text of any
    // length into a buffer. The kernel only reads through these pointers.
    std::array<iovec, 2> parts = {{{const_cast<char*>(text), std::strlen(text)},
                                   {const_cast<char*>("\n"), 1}}};
    [[maybe_unused]] ssize_t written = ::writev(file.get(), parts.data(), parts.size());
    size = ::lseek(file.get(), 0, SEEK_CUR);
  }

  // Only a log past the limit moves aside, the one just measured (every
  // caller passes the log path); the next entry starts a new log.
  if (size > kProtocolLimit) {
    ::unlink(backup_path.data());
    ::rename(path, backup_path.data());
  }
}
