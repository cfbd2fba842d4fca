// bewgen: fills a booking table with generated bookings for the demo, the
// tests and the benchmarks.
//
//   bewgen [--rows N] [--seed S] [--today YYYY-MM-DD] [--format sqlite|copy|csv]
//          [--ddl FILE] OUTPUT
//
// sqlite (the default) creates OUTPUT with the DDL when it does not exist and
// inserts into its table Zkr321Bew; copy and csv write text to OUTPUT ("-" is
// standard output).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "tools/bewgen/BookingFiles.h"
#include "tools/bewgen/BookingGen.h"

namespace {

int Usage() {
  std::fputs(
      "usage: bewgen [--rows N] [--seed S] [--today YYYY-MM-DD] [--format sqlite|copy|csv]\n"
      "              [--ddl FILE] OUTPUT\n",
      stderr);
  return 2;
}

bool ParseDay(std::string_view text, std::chrono::sys_days& day) {
  int y = 0;
  unsigned m = 0, d = 0;
  if (std::sscanf(std::string(text).c_str(), "%4d-%2u-%2u", &y, &m, &d) != 3) return false;
  std::chrono::year_month_day ymd{std::chrono::year{y} / m / d};
  if (!ymd.ok()) return false;
  day = ymd;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t rows = 1000;
  uint64_t seed = 1;
  std::chrono::sys_days today = LocalToday();
  std::string format = "sqlite";
  std::string ddl = MORVASK_SQLITE_DDL;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--rows" && has_value) rows = std::strtoll(argv[++i], nullptr, 10);
    else if (arg == "--seed" && has_value) seed = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--today" && has_value) {
      if (!ParseDay(argv[++i], today)) return Usage();
    } else if (arg == "--format" && has_value) format = argv[++i];
    else if (arg == "--ddl" && has_value) ddl = argv[++i];
    else if (!arg.starts_with("--") && output.empty()) output = arg;
    else return Usage();
  }
  if (output.empty() || rows < 0) return Usage();

  BookingGen gen(seed, today);
  if (format == "copy" || format == "csv") {
    std::FILE* out = output == "-" ? stdout : std::fopen(output.c_str(), "wb");
    if (out == nullptr) {
      std::perror(output.c_str());
      return 1;
    }
    WriteBookingText(out, gen, rows, format == "copy" ? BookingTextFormat::kCopy : BookingTextFormat::kCsv);
    bool ok = std::ferror(out) == 0;
    if (out != stdout) ok = std::fclose(out) == 0 && ok;
    return ok ? 0 : 1;
  }
  if (format != "sqlite") return Usage();

  std::string error;
  if (!std::filesystem::exists(output)) error = CreateBookingDatabase(output, ddl);
  if (error.empty()) error = InsertBookings(output, gen, rows);
  if (!error.empty()) {
    std::fprintf(stderr, "bewgen: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
