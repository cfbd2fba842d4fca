#include "run/ExportFileGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

ExportOpenResult OpenExportFile(const char* path, ExportFileGuard& guard) {
  // Read access too: the repair of an incomplete line has to find its start.
  int fd = ::open(path, O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  bool created = fd >= 0;
  if (fd < 0 && errno == EEXIST) fd = ::open(path, O_RDWR | O_APPEND | O_CLOEXEC);
  if (fd < 0) return ExportOpenResult::kCannotOpen;
  guard.file.reset(fd);
  guard.created = created;
  // flock, not fcntl: a POSIX record lock would be dropped whenever the
  // per-line appends close their own descriptor of the same file.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    return ExportOpenResult::kHeldByOtherRun;
  }
  return ExportOpenResult::kOk;
}

int64_t CutIncompleteLastLine(const ExportFileGuard& guard) {
  struct stat st {};
  if (::fstat(guard.file.get(), &st) != 0) return -1;
  const off_t size = st.st_size;
  if (size == 0) return 0;

  std::array<char, 4096> block{};
  off_t end = size;  // bytes before end are still to be searched
  while (end > 0) {
    const off_t start = end > static_cast<off_t>(block.size()) ? end - block.size() : 0;
    const auto len = static_cast<size_t>(end - start);
    if (::pread(guard.file.get(), block.data(), len, start) != static_cast<ssize_t>(len)) return -1;
    for (size_t i = len; i > 0; --i) {
      if (block[i - 1] != '\n') continue;
      const off_t keep = start + static_cast<off_t>(i);
      if (keep == size) return 0;
      if (::ftruncate(guard.file.get(), keep) != 0) return -1;
      return size - keep;
    }
    end = start;
  }
  // No line feed at all: the whole file is one incomplete line.
  if (::ftruncate(guard.file.get(), 0) != 0) return -1;
  return size;
}

bool FlushExportFile(const ExportFileGuard& guard, const char* path) {
  if (::fsync(guard.file.get()) != 0) return false;
  if (!guard.created) return true;
  // A new file's directory entry is only durable once its directory is.
  std::string dir(path);
  const auto slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return false;
  const bool ok = ::fsync(dfd) == 0;
  ::close(dfd);
  return ok;
}
