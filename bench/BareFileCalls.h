// The bare floor of one export line or protocol entry: open, write, (take
// the write position,) close, with nothing in between.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>

// Appends one line; returns false on any failure.
inline bool AppendBare(const char* path, const char* data, size_t size, bool take_position) {
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT, 0666);
  if (fd < 0) return false;
  bool ok = ::write(fd, data, size) == static_cast<ssize_t>(size);
  if (take_position) ok = ::lseek(fd, 0, SEEK_CUR) >= 0 && ok;
  return ::close(fd) == 0 && ok;
}
