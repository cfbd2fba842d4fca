// The settings lookup. Input: the requested section, a NUL, the requested
// key, a NUL, the requested number (4 bytes, least significant first), then
// the bytes of the settings file. Properties: every field of iniEntry is a
// text that ends inside its buffer; iniEntry is either cleared (every byte
// zero) or holds a record of the file that answers the request (the bytes of
// its section and key occur in the file, its value is the decryption of at
// most 200 hexadecimal characters, NUL to the buffer's end); a lookup that
// finds no file clears it.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "settings/IniFile.h"

namespace {

const std::string& SettingsPath() {
  static const std::string path = MakeScratchFolder("morvask-fuzz-ini") + "/Velunaris.ini";
  return path;
}

// The text of a field; aborts when it does not end inside its buffer.
template <size_t N>
std::string_view FieldText(const std::array<char, N>& field) {
  const size_t length = ::strnlen(field.data(), N);
  FUZZ_CHECK(length < N);
  return {field.data(), length};
}

// A field's bytes up to its last non-NUL byte. A section or key of the file
// may hold NUL bytes itself; they are kept, so the text above can end early.
template <size_t N>
std::string_view FieldBytes(const std::array<char, N>& field) {
  size_t end = N;
  while (end > 0 && field[end - 1] == '\0') --end;
  return {field.data(), end};
}

bool IsCleared() {
  return iniEntry.number == 0 && FieldBytes(iniEntry.section).empty() &&
         FieldBytes(iniEntry.key).empty() && FieldBytes(iniEntry.value).empty();
}

// Takes the bytes up to the next NUL (or the end) and moves past the NUL.
std::string TakeText(std::string_view& input) {
  const size_t end = std::min(input.find('\0'), input.size());
  std::string text(input.substr(0, end));
  input.remove_prefix(std::min(end + 1, input.size()));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string section = TakeText(input);
  const std::string key = TakeText(input);
  uint32_t raw_number = 0;
  for (int i = 0; i < 4 && !input.empty(); ++i) {
    raw_number |= static_cast<uint32_t>(static_cast<unsigned char>(input[0])) << (8 * i);
    input.remove_prefix(1);
  }
  const auto number = static_cast<int32_t>(raw_number);
  const std::string file(input);
  WriteWholeFile(SettingsPath(), file);

  GetIniValue(section.c_str(), key.c_str(), number, SettingsPath().c_str());

  const std::string_view got_section = FieldText(iniEntry.section);
  const std::string_view got_key = FieldText(iniEntry.key);
  const std::string_view got_value = FieldText(iniEntry.value);
  if (!IsCleared()) {
    FUZZ_CHECK(got_section == section || got_key == key || iniEntry.number == number);
    FUZZ_CHECK(file.find(FieldBytes(iniEntry.section)) != std::string::npos);
    FUZZ_CHECK(file.find(FieldBytes(iniEntry.key)) != std::string::npos);
    // The value is the decryption of at most 200 characters, NUL after it.
    FUZZ_CHECK(got_value.size() <= 200 / 16 * 8);
    FUZZ_CHECK(FieldBytes(iniEntry.value) == got_value);
  }

  // The same request again finds the same record.
  const std::string first_section(got_section), first_key(got_key), first_value(got_value);
  const int32_t first_number = iniEntry.number;
  GetIniValue(section.c_str(), key.c_str(), number, SettingsPath().c_str());
  FUZZ_CHECK(FieldText(iniEntry.section) == first_section);
  FUZZ_CHECK(FieldText(iniEntry.key) == first_key);
  FUZZ_CHECK(FieldText(iniEntry.value) == first_value);
  FUZZ_CHECK(iniEntry.number == first_number);

  GetIniValue(section.c_str(), key.c_str(), number, (SettingsPath() + ".missing").c_str());
  FUZZ_CHECK(IsCleared());
  return 0;
}
