// Owns one open file descriptor and closes it when it goes out of scope.
#pragma once

#include <unistd.h>

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and reports the outcome, which counts where a write is only
  // done once its file is closed.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;  // never retried: Linux frees the descriptor even on EINTR
  }

 private:
  int fd_ = -1;
};
