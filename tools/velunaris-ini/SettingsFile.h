// The settings file as the operator's tool sees it: its raw bytes, cut into
// lines and records exactly as the batch's lookup reads them, so that edits
// keep every other byte and reports name the record the batch would take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/IniRecord.h"

struct SettingsLine {
  std::size_t begin = 0;  // raw byte range in the file, line end included
  std::size_t end = 0;
  std::string text;       // as read: CR LF taken as LF, line feed removed
  bool crlf = false;      // the raw line ended with CR LF
};

struct SettingsRecord {
  std::size_t firstLine = 0;  // index of its first line; the second follows
  IniRecordFields fields;     // views into the lines' texts
};

struct SettingsFile {
  std::string bytes;
  std::vector<SettingsLine> lines;
  std::vector<SettingsRecord> records;
  bool orphanLine = false;  // a last first line without its second line
};

// Cuts bytes into lines and records. The result views into its own strings:
// keep it where it is (it cannot be copied).
class ParsedSettings {
 public:
  explicit ParsedSettings(std::string bytes);
  ParsedSettings(const ParsedSettings&) = delete;
  ParsedSettings& operator=(const ParsedSettings&) = delete;

  const SettingsFile& file() const { return file_; }

  // The record that answers the batch's request for key (empty section,
  // number 0), if any.
  std::optional<std::size_t> Answering(std::string_view key) const;
  // The first record whose key field is key, selectable or not.
  std::optional<std::size_t> Owning(std::string_view key) const;
  // "Zeilen 3-4" for the record's two lines, counted from 1.
  std::string LinesOf(std::size_t record) const;

 private:
  SettingsFile file_;
};

enum class ReadResult { kOk, kMissing, kFailed };

// Reads the whole file. kMissing when it does not exist.
ReadResult ReadSettingsFile(const std::string& path, std::string& bytes, std::string& error);

// Replaces path with bytes atomically: a temporary file in the same folder,
// flushed to disk, then renamed over path. A new file gets mode 0600; an
// existing one keeps its mode and, where allowed, its owner.
bool ReplaceSettingsFile(const std::string& path, std::string_view bytes, std::string& error);
