// Whole runs of Morvask_SQLITE over N pending bookings, against the bare
// floor of the same work measured in the same run: one step of the cursor,
// one export line appended and one protocol entry written with bare
// open/write/close, and one bound update by key per booking, then the commit.
// Prints bookings per second, the run's peak resident memory and the ratio.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "db/sqlite/SqliteDialect.h"
#include "db/sqlite/SqliteFunctions.h"
#include "db/sqlite/SqliteHandles.h"
#include "bench/BareFileCalls.h"
#include "tools/bewgen/BookingFiles.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// One installation: run folder, target folder, protocol folder, and a master
// database of N bookings that every one of them hands over.
struct Installation {
  fs::path root, run, target, log, master;

  explicit Installation(int64_t bookings) {
    std::string pattern = (fs::temp_directory_path() / "morvask-e2e-bench-XXXXXX").string();
    root = mkdtemp(pattern.data());
    run = root / "inst/run";
    target = root / "inst/export";
    log = root / "Velunaris_php/log";
    master = root / "master.db";
    for (const auto& dir : {run, target, log}) fs::create_directories(dir);
    BookingGen gen(42, std::chrono::sys_days{std::chrono::year{2026} / 12 / 1});
    std::string error = CreateBookingDatabase(master, MORVASK_SQLITE_DDL);
    if (error.empty()) error = InsertBookings(master, gen, bookings);
    sqlite3* db = nullptr;
    sqlite3_open(master.c_str(), &db);
    // Every row pending, handed over ("50P" always is) and too young to purge,
    // so the run and the floor do the same work per row.
    if (!Exec(db, "UPDATE Zkr321Bew SET BewUkz=NULL, BewSrc='50P', BewDat=datetime('now'),"
                  " BewIDN=CASE WHEN BewIDN IS NULL OR BewIDN=' ' OR BewIDN='' THEN '9'||rowid"
                  " ELSE BewIDN END;"
                  "PRAGMA wal_checkpoint(TRUNCATE);")) {
      error = sqlite3_errmsg(db);
    }
    sqlite3_close(db);
    const std::string ini = (run / "Velunaris.ini").string();
    for (const char* kv : {"LOGIN zeit", "PASS bench", "NET8 bew.db"}) {
      std::string command = std::string(MORVASK_BIN_DIR "/velunaris-ini set '") + ini + "' " + kv + " >/dev/null";
      if (std::system(command.c_str()) != 0) error = "velunaris-ini failed";
    }
    if (!error.empty()) std::fprintf(stderr, "bench setup: %s\n", error.c_str());
  }
  ~Installation() { fs::remove_all(root); }

  std::string Db() const { return (run / "bew.db").string(); }

  void Fresh() const {
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(Db() + suffix);
    fs::copy_file(master, Db());
    fs::remove(target / "BEWDATA.dat");
    fs::remove(log / "Kortivane#Log.txt");
    fs::remove(log / "Kortivane#Log_bak.txt");
  }
};

struct RunResult {
  double seconds = 0;
  long peak_kib = 0;
  int exit_code = -1;
};

RunResult RunMorvask(const Installation& inst) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(inst.run.c_str()) != 0) _exit(127);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execl(MORVASK_BIN_DIR "/Morvask_SQLITE", "Morvask_SQLITE", "Velunaris.ini", "../export",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  RunResult r;
  r.seconds = Seconds(start);
  r.peak_kib = usage.ru_maxrss;
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::string_view Dialect(std::string_view starts) {
  for (const auto& entry : SqliteDialectTable()) {
    if (entry.sqlite.starts_with(starts)) return entry.sqlite;
  }
  return {};
}

// The floor: the same database and file work with nothing in between.
double RunFloor(const Installation& inst) {
  const std::string export_path = (inst.target / "BEWDATA.dat").string();
  const std::string log_path = (inst.log / "Kortivane#Log.txt").string();
  const auto start = Clock::now();
  sqlite3* raw = nullptr;
  sqlite3_open_v2(inst.Db().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  DbHandle writer(raw);
  RegisterSqliteFunctions(writer.get());
  Exec(writer.get(), "BEGIN IMMEDIATE");
  sqlite3_open_v2(inst.Db().c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  DbHandle reader(raw);
  RegisterSqliteFunctions(reader.get());
  Exec(reader.get(), "BEGIN");
  sqlite3_stmt* stmt = nullptr;
  const auto cursor_sql = Dialect("SELECT BewTID");
  sqlite3_prepare_v2(reader.get(), cursor_sql.data(), static_cast<int>(cursor_sql.size()), &stmt,
                     nullptr);
  StmtHandle cursor(stmt);
  const auto update_sql = Dialect("UPDATE");
  sqlite3_prepare_v2(writer.get(), update_sql.data(), static_cast<int>(update_sql.size()), &stmt,
                     nullptr);
  StmtHandle update(stmt);

  std::array<char, 512> line{};
  while (sqlite3_step(cursor.get()) == SQLITE_ROW) {
    size_t n = 0;
    for (int c = 0; c < 17; ++c) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(cursor.get(), c));
      const size_t len = text ? std::strlen(text) : 0;
      if (n + len + 1 < line.size()) {
        std::memcpy(line.data() + n, text ? text : "", len);
        n += len;
        line[n++] = c == 16 ? '\n' : ',';
      }
    }
    AppendBare(export_path.c_str(), line.data(), n, false);
    AppendBare(log_path.c_str(), line.data(), n / 2 + 1, true);
    for (int k = 0; k < 5; ++k) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(cursor.get(), k + 2));
      sqlite3_bind_text(update.get(), k + 1, text ? text : "", -1, SQLITE_TRANSIENT);
    }
    sqlite3_step(update.get());
    sqlite3_reset(update.get());
  }
  cursor.reset();
  Exec(reader.get(), "COMMIT");
  // The run flushes its export lines to disk before it commits.
  const int fd = open(export_path.c_str(), O_RDONLY);
  fsync(fd);
  close(fd);
  Exec(writer.get(), "COMMIT");
  return Seconds(start);
}

void WholeRun(benchmark::State& state) {
  const int64_t bookings = state.range(0);
  Installation inst(bookings);
  // Best of a few alternating rounds where a round is short: the machine is shared.
  const int rounds = bookings <= 100000 ? 3 : 1;
  RunResult run;
  run.seconds = 1e30;
  double floor = 1e30;
  for (auto _ : state) {
    for (int i = 0; i < rounds; ++i) {
      inst.Fresh();
      floor = std::min(floor, RunFloor(inst));
      inst.Fresh();
      const RunResult r = RunMorvask(inst);
      if (r.exit_code != 1) state.SkipWithError("the run did not end with 1");
      if (r.seconds < run.seconds) run = r;
    }
    state.SetIterationTime(run.seconds);
  }
  state.counters["bookings_per_s"] = static_cast<double>(bookings) / run.seconds;
  state.counters["floor_s"] = floor;
  state.counters["ratio_to_floor"] = run.seconds / floor;
  state.counters["peak_rss_KiB"] = static_cast<double>(run.peak_kib);
  std::printf("N=%lld: run %.2f s, floor %.2f s, ratio %.3f (target <= 1.25), %.0f bookings/s, "
              "peak RSS %ld KiB\n",
              static_cast<long long>(bookings), run.seconds, floor, run.seconds / floor,
              static_cast<double>(bookings) / run.seconds, run.peak_kib);
}

BENCHMARK(WholeRun)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
