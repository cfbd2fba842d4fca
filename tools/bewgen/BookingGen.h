// Realistic bookings for the booking table, deterministic by seed: the same
// seed and the same day give the same rows on every machine. Used by bewgen
// and by the tests and benchmarks that need a filled table.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>

// The table's columns in the order of the DDL; values are texts, dates as
// "YYYY-MM-DD HH:MM:SS", BewUdt with microseconds, BewUkz as digits.
inline constexpr std::array<std::string_view, 20> kBookingColumns{
    "BewTID", "BewLID", "BewIDN", "BewSto", "BewDtm", "BewUhr", "BewLfn",
    "BewArt", "BewTas", "BewEra", "BewKze", "BewBer", "BewErq", "BewKst",
    "BewQua", "BewSrc", "BewRes", "BewUkz", "BewUdt", "BewDat"};

struct BookingRow {
  std::array<std::optional<std::string>, kBookingColumns.size()> values;  // nullopt: NULL
};

// The mix of rows: most are pending (BewUkz NULL, 0, 1 or 3); some are
// transferred (4) with a BewDat older than three months, for the purge, or
// recent; a few repeat the key of the row before. Sources are DTA, 40P, 50P,
// 62P, dta, others, empty and NULL; some values carry trailing blanks, some
// columns are NULL, a few BewIDN are blank, empty or NULL.
class BookingGen {
 public:
  BookingGen(uint64_t seed, std::chrono::sys_days today);
  BookingRow Next();

 private:
  uint32_t Below(uint32_t n);  // uniform in [0, n), the same on every platform
  bool Percent(uint32_t p) { return Below(100) < p; }
  std::string Pick(std::initializer_list<std::string_view> choices);

  std::mt19937_64 random_;
  std::chrono::sys_days today_;
  BookingRow previous_;
  bool has_previous_ = false;
  uint64_t serial_ = 0;
};

// Today's local date, the default reference day of the generator.
std::chrono::sys_days LocalToday();
