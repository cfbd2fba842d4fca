#include "db/sqlite/SqliteFunctions.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace {

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Reads count digits at text[pos]; -1 when one is missing.
int ReadNumber(std::string_view text, size_t pos, size_t count) {
  if (pos + count > text.size()) return -1;
  int value = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::string_view TextArg(sqlite3_value* value) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
  if (text == nullptr) return {};
  return {text, static_cast<size_t>(sqlite3_value_bytes(value))};
}

void AddMonths(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string_view date = TextArg(argv[0]);
  int y = ReadNumber(date, 0, 4), m = ReadNumber(date, 5, 2), d = ReadNumber(date, 8, 2);
  if (y < 0 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m) || date[4] != '-' ||
      date[7] != '-') {
    sqlite3_result_null(ctx);  // not a date: compares true with nothing
    return;
  }
  long long months = y * 12LL + (m - 1) + sqlite3_value_int64(argv[1]);
  if (months < 0 || months >= 10000 * 12LL) {
    sqlite3_result_null(ctx);
    return;
  }
  int ny = static_cast<int>(months / 12), nm = static_cast<int>(months % 12) + 1;
  int last = DaysInMonth(ny, nm);
  int nd = (d == DaysInMonth(y, m) || d > last) ? last : d;

  std::array<char, 64> out{};
  std::string_view rest = date.substr(10, std::min<size_t>(date.size() - 10, 40));
  int n = std::snprintf(out.data(), out.size(), "%04d-%02d-%02d%.*s", ny, nm, nd,
                        static_cast<int>(rest.size()), rest.data());
  sqlite3_result_text(ctx, out.data(), n, SQLITE_TRANSIENT);
}

void ToDate(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::string_view text = TextArg(argv[0]);
  if (text.empty()) {  // an empty text is NULL, as on Oracle
    sqlite3_result_null(ctx);
    return;
  }
  if (text.size() != 14 || ReadNumber(text, 0, 8) < 0 || ReadNumber(text, 8, 6) < 0) {
    sqlite3_result_error(ctx, "date text is not yyyymmddhh24miss", -1);
    return;
  }
  std::array<char, 20> out{};
  std::snprintf(out.data(), out.size(), "%.4s-%.2s-%.2s %.2s:%.2s:%.2s", text.data(),
                text.data() + 4, text.data() + 6, text.data() + 8, text.data() + 10,
                text.data() + 12);
  sqlite3_result_text(ctx, out.data(), 19, SQLITE_TRANSIENT);
}

}  // namespace

int RegisterSqliteFunctions(sqlite3* db) {
  constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  int rc = sqlite3_create_function(db, "morvask_add_months", 2, kFlags, nullptr, AddMonths,
                                   nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  return sqlite3_create_function(db, "morvask_to_date", 1, kFlags, nullptr, ToDate, nullptr,
                                 nullptr);
}
