#include "db/pg/PgStatus.h"

namespace {

int Base36Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return -1;
}

bool IsSqlState(std::string_view text) {
  if (text.size() != 5) return false;
  for (char c : text) {
    if (Base36Digit(c) < 0) return false;
  }
  return true;
}

}  // namespace

int32_t SqlStateStatus(std::string_view sqlstate) {
  if (!IsSqlState(sqlstate)) return 0;
  int32_t value = 0;
  for (char c : sqlstate) value = value * 36 + Base36Digit(c);  // at most 36^5 - 1
  return -value;
}

std::string_view SqlStateInMessage(std::string_view message) {
  // A login may try several addresses and collect one line for each; the
  // last line that carries a SQLSTATE tells why the login finally failed.
  std::string_view found;
  size_t pos = 0;
  while ((pos = message.find(":  ", pos)) != std::string_view::npos) {
    pos += 3;
    std::string_view candidate = message.substr(pos, 5);
    bool ends = pos + 5 == message.size() || message[pos + 5] == '\n';
    if (ends && IsSqlState(candidate)) found = candidate;
  }
  return found;
}
