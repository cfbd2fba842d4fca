// Reading the settings file's two-line records: shared by the lookup and the
// operator's settings tool, so that the tool sees each record exactly as the
// batch does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Characters of a line that one read takes at most, its line feed included.
// A longer line is read in pieces, and each piece counts as a line.
inline constexpr std::size_t kIniFirstLineChars = 199;
inline constexpr std::size_t kIniSecondLineChars = 399;
// The longest section, key and value, and the longest number field.
inline constexpr std::size_t kIniFieldChars = 200;
inline constexpr std::size_t kIniNumberChars = 11;

// Reads the next line into buffer as a text-mode read would: a carriage
// return directly before a line feed is dropped, and the read stops after the
// line feed or when buffer is full. Returns the number of characters stored,
// 0 only at the end of input. Source provides int Next() (a byte, or -1 at the
// end) and void Back(int) (undoes the last Next).
template <typename Source>
std::size_t ReadIniLine(Source& source, std::span<char> buffer) {
  std::size_t count = 0;
  while (count < buffer.size()) {
    int c = source.Next();
    if (c < 0) break;
    if (c == '\r') {
      const int after = source.Next();
      if (after == '\n') {
        c = '\n';
      } else if (after >= 0) {
        source.Back(after);
      }
    }
    buffer[count++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  return count;
}

// A line as read, without its line feed.
inline std::string_view IniLineText(std::span<const char> line) {
  std::string_view text(line.data(), line.size());
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

struct IniRecordFields {
  std::string_view section;
  std::string_view key;
  std::string_view value;
  int32_t number = 0;
  // False for a second line without any semicolon: it has no number field,
  // so no request by number selects it.
  bool hasNumber = false;
  // False when a field exceeds its limit or the number lies outside the
  // signed 32-bit range: no request selects such a record.
  bool withinLimits = true;
};

// Splits a record's two lines, each given without its line feed.
IniRecordFields SplitIniRecord(std::string_view firstLine, std::string_view secondLine);

// Whether the record answers the request: its section, its key or its number
// agrees with the request's (one is enough). Texts compare byte for byte.
bool IniRecordAnswers(const IniRecordFields& record, std::string_view section,
                      std::string_view key, int32_t number);
