// The settings lookup.
//
// Where the file breaks its own format, the lookup decides as follows; none of
// these cases can write outside the fields of iniEntry, and a record that
// breaks the limits is never taken:
// - A second line without any semicolon has an empty key, its whole text is the
//   value, and it has no number field: a request by number never selects it
//   (a request by section or key still can).
// - A second line without a line feed (the last line of a file without a final
//   line end, or the first 399 characters of a longer line) ends its value where
//   the read ended. The rest of a longer line is read as the next line.
// - A number field of more than 11 characters, a number outside the signed
//   32-bit range, or a section, key or value of more than 200 characters make
//   the record unselectable: it is passed over as if it answered no request,
//   rather than being cut into something that might be taken for a real value.
#include "settings/IniFile.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string.h>  // explicit_bzero
#include <string_view>

#include "settings/Cipher.h"
#include "settings/IniRecord.h"

IniEntry iniEntry{};

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

class FileSource {
 public:
  explicit FileSource(std::FILE* file) : file_(file) {}
  int Next() { return getc_unlocked(file_); }
  void Back(int c) { ungetc(c, file_); }

 private:
  std::FILE* file_;
};

template <std::size_t N>
void Store(std::array<char, N>& field, std::string_view text) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::fill(std::copy_n(text.begin(), length, field.begin()), field.end(), '\0');
}

// All bytes, not only the first: the value may have held a password.
void Clear(IniEntry& entry) {
  entry.number = 0;
  entry.section.fill('\0');
  entry.key.fill('\0');
  explicit_bzero(entry.value.data(), entry.value.size());
}

void DecryptEntryValue(IniEntry& entry) {
  std::array<char, kIniFieldChars + 1> plain;  // L + 1 bytes for the longest value
  DecryptValue(entry.value.data(), plain.data(), kCipherKeyText);
  Store(entry.value, std::string_view(plain.data()));
  explicit_bzero(plain.data(), plain.size());
}

}  // namespace

void GetIniValue(const char* section, const char* key, int32_t number, const char* path) {
  Clear(iniEntry);
  if (path == nullptr) return;
  const File file(std::fopen(path, "r"));
  if (!file) return;

  const std::string_view wantedSection = section != nullptr ? section : "";
  const std::string_view wantedKey = key != nullptr ? key : "";
  FileSource source(file.get());
  std::array<char, kIniFirstLineChars> first;
  std::array<char, kIniSecondLineChars> second;
  for (;;) {
    const std::size_t firstLength = ReadIniLine(source, std::span(first));
    if (firstLength == 0) return;
    const std::size_t secondLength = ReadIniLine(source, std::span(second));
    if (secondLength == 0) return;  // a last line without a partner is ignored

    const IniRecordFields record =
        SplitIniRecord(IniLineText(std::span(first).first(firstLength)),
                       IniLineText(std::span(second).first(secondLength)));
    if (!IniRecordAnswers(record, wantedSection, wantedKey, number)) continue;

    iniEntry.number = record.number;
    Store(iniEntry.section, record.section);
    Store(iniEntry.key, record.key);
    Store(iniEntry.value, record.value);
    DecryptEntryValue(iniEntry);
    return;
  }
}
