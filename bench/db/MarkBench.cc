// Fetching and marking N bookings through the statement modules, against a
// bare loop of the same SQLite calls on the same data: one step of the
// cursor and one bound update by key per booking. Both start from a fresh
// copy of one generated database and time the loop from the cursor's open
// to its close in the thread's CPU time, which the other work on a shared
// machine disturbs far less than the wall clock; the ratio of the two is
// printed at the end.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "db/KortivaneSQL.h"
#include "db/SQLHlp.h"
#include "db/sqlite/SqliteDialect.h"
#include "db/sqlite/SqliteFunctions.h"
#include "db/sqlite/SqliteHandles.h"
#include "tools/bewgen/BookingFiles.h"

namespace {

constexpr int64_t kBookings = 100000;

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

namespace fs = std::filesystem;

struct Files {
  fs::path dir;
  std::string master, work;
  Files() {
    std::string pattern = (fs::temp_directory_path() / "morvask-bench-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    master = (dir / "master.db").string();
    work = (dir / "work.db").string();
    BookingGen gen(42, std::chrono::sys_days{std::chrono::year{2024} / 6 / 15});
    std::string error = CreateBookingDatabase(master, MORVASK_SQLITE_DDL);
    if (error.empty()) error = InsertBookings(master, gen, kBookings);
    if (error.empty()) error = MakeAllPending();
    if (!error.empty()) std::fprintf(stderr, "bench setup: %s\n", error.c_str());
  }
  ~Files() { fs::remove_all(dir); }
  // Every generated booking becomes one the cursor delivers.
  std::string MakeAllPending() const {
    sqlite3* db = nullptr;
    sqlite3_open_v2(master.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    int rc = sqlite3_exec(db,
                          "UPDATE Zkr321Bew SET BewUkz=NULL WHERE BewUkz=4;"
                          "UPDATE Zkr321Bew SET BewIDN='9'||rowid WHERE BewIDN IS NULL "
                          "OR BewIDN=' ' COLLATE RTRIM",
                          nullptr, nullptr, nullptr);
    std::string error = rc == SQLITE_OK ? "" : sqlite3_errmsg(db);
    sqlite3_close(db);
    return error;
  }
  void FreshCopy() const {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(work + suffix);
    fs::copy_file(master, work);
  }
};

const Files& TheFiles() {
  static Files files;
  return files;
}

std::string_view Dialect(std::string_view starts) {
  for (const auto& entry : SqliteDialectTable()) {
    if (entry.sqlite.starts_with(starts)) return entry.sqlite;
  }
  return {};
}

void StatementModules(benchmark::State& state) {
  const Files& files = TheFiles();
  int64_t fetched = 0;
  for (auto _ : state) {
    files.FreshCopy();
    if (SQL_Connect("u", "p", files.work.c_str(), "KELDOMAR") != 0) state.SkipWithError("connect");
    double start = ThreadCpuSeconds();
    SQL_OpenBew();
    BewRecord booking;
    fetched = 0;
    while (SQL_FetchBew(booking) == 0) {
      SQL_MarkTranfer(booking);
      ++fetched;
    }
    SQL_CloseBew();
    state.SetIterationTime(ThreadCpuSeconds() - start);
    SQL_Commit();
  }
  state.counters["bookings"] = static_cast<double>(fetched);
}

DbHandle Open(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  return DbHandle(raw);
}

StmtHandle Prepare(sqlite3* db, std::string_view sql) {
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &raw,
                     nullptr);
  return StmtHandle(raw);
}

void BareSqlite(benchmark::State& state) {
  const Files& files = TheFiles();
  int64_t fetched = 0;
  for (auto _ : state) {
    files.FreshCopy();
    auto writer = Open(files.work, SQLITE_OPEN_READWRITE);
    RegisterSqliteFunctions(writer.get());
    sqlite3_exec(writer.get(), "PRAGMA journal_mode=WAL; BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    auto reader = Open(files.work, SQLITE_OPEN_READONLY);
    auto cursor = Prepare(reader.get(), Dialect("SELECT BewTID"));
    auto update = Prepare(writer.get(), Dialect("UPDATE"));
    if (!cursor || !update) state.SkipWithError("prepare");

    double start = ThreadCpuSeconds();
    fetched = 0;
    while (sqlite3_step(cursor.get()) == SQLITE_ROW) {
      const unsigned char* key[5] = {};
      for (int c = 0; c < 17; ++c) {
        const unsigned char* text = sqlite3_column_text(cursor.get(), c);
        benchmark::DoNotOptimize(sqlite3_column_bytes(cursor.get(), c));
        if (c >= 2 && c <= 6) key[c - 2] = text;
      }
      for (int k = 0; k < 5; ++k) {
        const char* text = key[k] ? reinterpret_cast<const char*>(key[k]) : "";
        sqlite3_bind_text(update.get(), k + 1, text, -1, SQLITE_STATIC);
      }
      sqlite3_step(update.get());
      benchmark::DoNotOptimize(sqlite3_changes(writer.get()));
      sqlite3_reset(update.get());
      ++fetched;
    }
    sqlite3_reset(cursor.get());
    state.SetIterationTime(ThreadCpuSeconds() - start);
    sqlite3_exec(writer.get(), "COMMIT", nullptr, nullptr, nullptr);
  }
  state.counters["bookings"] = static_cast<double>(fetched);
}

// Keeps each side's fastest repetition, the one least disturbed by other
// work on the machine, so that main can print the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> seconds;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration) {
        double t = run.real_accumulated_time / static_cast<double>(run.iterations);
        auto [it, added] = seconds.emplace(run.run_name.function_name, t);
        if (!added && t < it->second) it->second = t;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

BENCHMARK(BareSqlite)->UseManualTime()->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);
BENCHMARK(StatementModules)->UseManualTime()->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TheFiles();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.seconds.count("BareSqlite") && reporter.seconds.count("StatementModules")) {
    std::printf("fetch and mark %lld bookings: statement modules / bare SQLite (fastest of 5 each) = %.3f (target <= 1.2)\n",
                static_cast<long long>(kBookings),
                reporter.seconds["StatementModules"] / reporter.seconds["BareSqlite"]);
  }
  benchmark::Shutdown();
  return 0;
}
