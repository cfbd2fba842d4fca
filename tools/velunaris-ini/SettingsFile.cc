#include "SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

class MemorySource {
 public:
  explicit MemorySource(std::string_view data) : data_(data) {}
  int Next() { return pos_ < data_.size() ? static_cast<unsigned char>(data_[pos_++]) : -1; }
  void Back(int) { --pos_; }
  std::size_t pos() const { return pos_; }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno);
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

ParsedSettings::ParsedSettings(std::string bytes) {
  file_.bytes = std::move(bytes);
  MemorySource source(file_.bytes);
  std::array<char, kIniSecondLineChars> buffer;
  for (;;) {
    // Lines alternate between a record's first and second line, each with its
    // own limit, exactly as the lookup reads them.
    const std::size_t limit =
        file_.lines.size() % 2 == 0 ? kIniFirstLineChars : kIniSecondLineChars;
    const std::size_t begin = source.pos();
    const std::size_t count = ReadIniLine(source, std::span(buffer).first(limit));
    if (count == 0) break;
    SettingsLine line;
    line.begin = begin;
    line.end = source.pos();
    line.text = std::string(IniLineText(std::span(buffer).first(count)));
    const std::string_view raw = std::string_view(file_.bytes).substr(begin, line.end - begin);
    line.crlf = raw.ends_with("\r\n");
    file_.lines.push_back(std::move(line));
  }
  for (std::size_t i = 0; i + 1 < file_.lines.size(); i += 2) {
    file_.records.push_back({i, SplitIniRecord(file_.lines[i].text, file_.lines[i + 1].text)});
  }
  file_.orphanLine = file_.lines.size() % 2 == 1;
}

std::optional<std::size_t> ParsedSettings::Answering(std::string_view key) const {
  for (std::size_t i = 0; i < file_.records.size(); ++i) {
    if (IniRecordAnswers(file_.records[i].fields, "", key, 0)) return i;
  }
  return std::nullopt;
}

std::optional<std::size_t> ParsedSettings::Owning(std::string_view key) const {
  for (std::size_t i = 0; i < file_.records.size(); ++i) {
    if (file_.records[i].fields.key == key) return i;
  }
  return std::nullopt;
}

std::string ParsedSettings::LinesOf(std::size_t record) const {
  const std::size_t first = file_.records[record].firstLine + 1;
  return "Zeilen " + std::to_string(first) + "-" + std::to_string(first + 1);
}

ReadResult ReadSettingsFile(const std::string& path, std::string& bytes, std::string& error) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return ReadResult::kMissing;
    error = SystemError("Kann die Datei nicht oeffnen", path);
    return ReadResult::kFailed;
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "Keine gewoehnliche Datei: '" + path + "'";
    return ReadResult::kFailed;
  }
  bytes.clear();
  std::array<char, 65536> chunk;
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk.data(), chunk.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      error = SystemError("Kann die Datei nicht lesen", path);
      return ReadResult::kFailed;
    }
    if (got == 0) break;
    bytes.append(chunk.data(), static_cast<std::size_t>(got));
  }
  return ReadResult::kOk;
}

bool ReplaceSettingsFile(const std::string& path, std::string_view bytes, std::string& error) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);

  struct stat existing {};
  const bool exists = ::stat(path.c_str(), &existing) == 0;

  std::string temp = folder + "/." + name + ".XXXXXX";
  Descriptor fd(::mkstemp(temp.data()));  // created with mode 0600
  if (fd.get() < 0) {
    error = SystemError("Kann keine temporaere Datei anlegen in", folder);
    return false;
  }
  bool ok = true;
  if (exists) {
    ok = ::fchmod(fd.get(), existing.st_mode & 07777) == 0;
    if (ok && ::fchown(fd.get(), existing.st_uid, existing.st_gid) != 0) {
      // Not allowed to give the file away: it stays the caller's own.
      errno = 0;
    }
  }
  ok = ok && WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  ok = ok && ::close(fd.release()) == 0;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    error = SystemError("Kann die Datei nicht schreiben", path);
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}
