#include "settings/IniRecord.h"

#include <optional>

namespace {

// White space as the C locale knows it; no locale is consulted.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Leading blanks, one optional sign, then digits up to the first non-digit; a
// field without digits reads as 0. Empty when the number does not fit 32 bits.
std::optional<int32_t> ParseNumber(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && IsBlank(field[i])) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
    negative = field[i] == '-';
    ++i;
  }
  int64_t magnitude = 0;  // at most 11 digits: no overflow
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (field[i] - '0');
  }
  const int64_t number = negative ? -magnitude : magnitude;
  if (number < INT32_MIN || number > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(number);
}

}  // namespace

IniRecordFields SplitIniRecord(std::string_view firstLine, std::string_view secondLine) {
  IniRecordFields record;

  // The section stands between the first and the second semicolon only.
  const std::size_t open = firstLine.find(';');
  if (open != std::string_view::npos) {
    const std::size_t close = firstLine.find(';', open + 1);
    if (close != std::string_view::npos) record.section = firstLine.substr(open + 1, close - open - 1);
  }

  const std::size_t first = secondLine.find(';');
  if (first == std::string_view::npos) {
    record.value = secondLine;
  } else {
    std::size_t second = secondLine.find(';', first + 1);
    if (second == std::string_view::npos) second = first;  // one semicolon: it is both separators
    if (second > first) record.key = secondLine.substr(first + 1, second - first - 1);
    record.value = secondLine.substr(second + 1);

    const std::string_view numberField = secondLine.substr(0, first);
    const std::optional<int32_t> number =
        numberField.size() <= kIniNumberChars ? ParseNumber(numberField) : std::nullopt;
    record.hasNumber = true;
    record.number = number.value_or(0);
    if (!number) record.withinLimits = false;
  }

  if (record.section.size() > kIniFieldChars || record.key.size() > kIniFieldChars ||
      record.value.size() > kIniFieldChars) {
    record.withinLimits = false;
  }
  return record;
}

bool IniRecordAnswers(const IniRecordFields& record, std::string_view section,
                      std::string_view key, int32_t number) {
  if (!record.withinLimits) return false;
  return record.section == section || record.key == key ||
         (record.hasNumber && record.number == number);
}
