#include "tools/bewgen/BookingGen.h"

#include <cstdio>
#include <ctime>

namespace {

using namespace std::chrono;

enum Column {
  kTID, kLID, kIDN, kSto, kDtm, kUhr, kLfn, kArt, kTas, kEra,
  kKze, kBer, kErq, kKst, kQua, kSrc, kRes, kUkz, kUdt, kDat,
};

std::string DateTime(sys_days day, int seconds_of_day) {
  year_month_day ymd{day};
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                seconds_of_day / 3600, seconds_of_day / 60 % 60, seconds_of_day % 60);
  return text.data();
}

}  // namespace

BookingGen::BookingGen(uint64_t seed, sys_days today) : random_(seed), today_(today) {}

uint32_t BookingGen::Below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }

std::string BookingGen::Pick(std::initializer_list<std::string_view> choices) {
  return std::string(choices.begin()[Below(static_cast<uint32_t>(choices.size()))]);
}

BookingRow BookingGen::Next() {
  ++serial_;
  BookingRow row;
  auto& v = row.values;

  uint32_t kind = Below(100);
  bool old_transferred = kind < 10;
  bool recent_transferred = kind >= 10 && kind < 15;
  sys_days day = today_ - days{old_transferred ? 100 + Below(600) : recent_transferred ? Below(60) : Below(150)};
  int seconds = static_cast<int>(6 * 3600 + Below(14 * 3600));

  v[kIDN] = std::to_string(10000000 + Below(500));
  if (Percent(2)) v[kIDN] = Pick({" ", "", "   "});
  else if (Percent(1)) v[kIDN].reset();
  v[kSto] = "T" + std::to_string(10 + Below(40));
  if (Percent(5)) *v[kSto] += std::string(1 + Below(4), ' ');
  v[kDtm] = DateTime(day, 0);
  v[kUhr] = DateTime(day, seconds);
  if (Percent(1)) v[kUhr].reset();
  v[kLfn] = std::to_string(1 + Below(999));

  // A repeated key: the same person, terminal, day, time and running number.
  if (has_previous_ && Percent(2)) {
    for (int c : {kIDN, kSto, kDtm, kUhr, kLfn}) v[c] = previous_.values[c];
  }

  v[kTID] = "TRM" + std::to_string(serial_);
  if (Percent(3)) *v[kTID] += "  ";
  v[kLID] = "L" + std::to_string(10 + Below(20));
  v[kArt] = Pick({"K", "G", "D", "P"});
  v[kTas] = std::to_string(1 + Below(12));
  v[kEra] = Pick({"100", "200", "201", "202", "203", "204", "205", "206", "207", "208", "209",
                  "210", "426", "430", "431", "500", "501", "0", "1", "2", "3", "5", ""});
  if (Percent(50)) v[kKze] = Pick({"K", "U", ""});
  if (Percent(60)) v[kBer] = Pick({"1", "2"});
  if (Percent(40)) v[kErq] = std::to_string(Below(1000));
  if (!Percent(10)) v[kKst] = "Kst " + std::to_string(4000 + Below(50)) + (Percent(10) ? "   " : "");
  if (Percent(30)) v[kQua] = Pick({"00", "01", "10"});
  uint32_t source = Below(100);
  if (source < 40) v[kSrc] = "DTA";
  else if (source < 55) v[kSrc] = "40P";
  else if (source < 65) v[kSrc] = "50P";
  else if (source < 75) v[kSrc] = "62P";
  else if (source < 80) v[kSrc] = Pick({"dta", "Dta"});
  else if (source < 90) v[kSrc] = Pick({"TRM", "WEB", "X"});
  else if (source < 95) v[kSrc] = "";
  if (Percent(5)) v[kRes] = "Nachtrag";

  if (old_transferred || recent_transferred) {
    v[kUkz] = "4";
    v[kUdt] = DateTime(day, seconds + 60) + ".000000";
  } else if (!Percent(70)) {
    v[kUkz] = Pick({"0", "1", "3"});
  }
  v[kDat] = v[kUhr] ? *v[kUhr] : DateTime(day, seconds);

  previous_ = row;
  has_previous_ = true;
  return row;
}

sys_days LocalToday() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return sys_days{year{local.tm_year + 1900} / (local.tm_mon + 1) / local.tm_mday};
}
