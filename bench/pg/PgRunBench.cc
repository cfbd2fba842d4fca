// Whole runs of Morvask_PG over N pending bookings on the PostgreSQL server,
// next to whole runs of Morvask_SQLITE over the same generated bookings, and
// the bare floor of the PostgreSQL run measured in the same process: one
// connection, the booking cursor read 1000 rows per FETCH, per booking one
// export line and one protocol entry appended with bare open/write/close and
// one prepared update by key, then the flush of the export file and the
// commit. Prints bookings per second of each and Morvask_PG / floor.
//
// Server data from the environment as scripts/pg-test-server.sh writes it
// (MORVASK_PG_*); N from MORVASK_BENCH_ROWS (default 100000).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "db/pg/PgDialect.h"
#include "bench/BareFileCalls.h"
#include "tools/bewgen/BookingFiles.h"
#include "tools/bewgen/PgBookings.h"
#include "BenchServer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a program and waits for it; standard output to /dev/null. The exit
// code, or -1 when it did not end by itself.
int RunProgram(const std::string& program, const std::vector<std::string>& args,
               const std::string& cwd) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// An installation's folders: the run folder with the settings file, the
// target folder and the protocol folder at ../../Velunaris_php/log.
struct Folders {
  fs::path root, run, target, log;

  Folders(const std::string& login, const std::string& password, const std::string& net8) {
    std::string pattern = (fs::temp_directory_path() / "morvask-pg-run-bench-XXXXXX").string();
    root = mkdtemp(pattern.data());
    run = root / "inst/run";
    target = root / "inst/export";
    log = root / "Velunaris_php/log";
    for (const auto& dir : {run, target, log}) fs::create_directories(dir);
    const std::string ini = (run / "Velunaris.ini").string();
    for (const auto& [key, value] :
         {std::pair{"LOGIN", login}, std::pair{"PASS", password}, std::pair{"NET8", net8}}) {
      RunProgram(MORVASK_BIN_DIR "/velunaris-ini", {"set", ini, key, value}, "");
    }
  }
  ~Folders() { fs::remove_all(root); }

  std::string ExportFile() const { return (target / "BEWDATA.dat").string(); }
  std::string LogFile() const { return (log / "Kortivane#Log.txt").string(); }

  void Clear() const {
    fs::remove(ExportFile());
    fs::remove(LogFile());
    fs::remove(log / "Kortivane#Log_bak.txt");
  }

  // Runs the executable; its wall time, or a negative time when it did not end with 1.
  double Run(const char* executable) const {
    const auto start = Clock::now();
    const int code = RunProgram(executable, {"Velunaris.ini", "../export"}, run.string());
    const double seconds = Seconds(start);
    return code == 1 ? seconds : -1;
  }
};

// Every booking pending, handed over ("50P" always is), too young to purge
// and with a BewIDN the cursor delivers, so every run and the floor do the
// same work per booking.
constexpr const char* kPgNormalise =
    "UPDATE keldomar.zkr321bew SET bewukz = NULL, bewudt = NULL, bewsrc = '50P',"
    " bewdat = localtimestamp(0),"
    " bewidn = CASE WHEN bewidn IS NULL OR bewidn IN ('', ' ') THEN '9' || substr(md5(ctid::text),"
    " 1, 12) ELSE bewidn END";
constexpr const char* kSqliteNormalise =
    "UPDATE Zkr321Bew SET BewUkz=NULL, BewSrc='50P', BewDat=datetime('now'),"
    " BewIDN=CASE WHEN BewIDN IS NULL OR BewIDN=' ' OR BewIDN='' THEN '9'||rowid ELSE BewIDN END;"
    "PRAGMA wal_checkpoint(TRUNCATE);";

bool FillPg(int64_t rows) {
  PgConn owner = Connect(TheServer().owner, TheServer().owner_password);
  if (PQstatus(owner.get()) != CONNECTION_OK) return false;
  if (!Exec(owner.get(), "TRUNCATE keldomar.zkr321bew") || !Exec(owner.get(), "BEGIN")) {
    return false;
  }
  BookingGen gen(42, std::chrono::sys_days{std::chrono::year{2026} / 12 / 1});
  const std::string failed = CopyBookingsToPg(owner.get(), gen, rows);
  if (!failed.empty()) {
    std::fprintf(stderr, "loading the bookings failed: %s\n", failed.c_str());
    return false;
  }
  return Exec(owner.get(), kPgNormalise) && Exec(owner.get(), "COMMIT") &&
         Exec(owner.get(), "VACUUM ANALYZE keldomar.zkr321bew");
}

// Every booking pending again after a run committed its marks.
void ResetPg() {
  PgConn owner = Connect(TheServer().owner, TheServer().owner_password);
  Exec(owner.get(), "UPDATE keldomar.zkr321bew SET bewukz = NULL, bewudt = NULL");
  Exec(owner.get(), "VACUUM ANALYZE keldomar.zkr321bew");
}

std::string FillSqlite(const fs::path& master, int64_t rows) {
  BookingGen gen(42, std::chrono::sys_days{std::chrono::year{2026} / 12 / 1});
  std::string error = CreateBookingDatabase(master, MORVASK_SQLITE_DDL);
  if (error.empty()) error = InsertBookings(master, gen, rows);
  sqlite3* db = nullptr;
  sqlite3_open(master.c_str(), &db);
  if (error.empty() && sqlite3_exec(db, kSqliteNormalise, nullptr, nullptr, nullptr) != SQLITE_OK) {
    error = sqlite3_errmsg(db);
  }
  sqlite3_close(db);
  return error;
}

constexpr std::string_view kCursorText =
    "select BewTID ,BewLID ,BewIDN ,BewSto ,to_char(BewDtm,'yyyymmddhh24miss') "
    ",to_char(BewUhr,'yyyymmddhh24miss') ,BewLfn ,BewArt ,BewTas ,BewEra ,BewKze ,BewBer ,BewErq "
    ",BewKst ,BewQua ,BewSrc ,BewRes  from KELDOMAR.Zkr321Bew where ((BewUkz<>4 or BewUkz is "
    "null ) and BewIDN<>' ') order by BewIdn,BewDtm,BewUhr,BewLfn";
constexpr std::string_view kMarkText =
    "update KELDOMAR.Zkr321Bew  set BewUkz=4,BewUdt=SYSTIMESTAMP where ((((BewIDN=:b0 and "
    "BewSto=:b1) and BewDtm=to_date(:b2,'yyyymmddhh24miss')) and "
    "BewUhr=to_date(:b3,'yyyymmddhh24miss')) and BewLfn=:b4)";

// The floor of a PostgreSQL run: the same statements and file calls with
// nothing in between. Seconds, or a negative time on failure.
double RunFloor(const Folders& folders) {
  const std::string declare =
      "DECLARE c NO SCROLL CURSOR FOR " + std::string(FindPgStatement(SqlKind::kOpen, kCursorText)->pg);
  const std::string mark(FindPgStatement(SqlKind::kUpdate, kMarkText)->pg);
  const std::string export_path = folders.ExportFile();
  const std::string log_path = folders.LogFile();
  const auto start = Clock::now();
  PgConn conn = Connect(TheServer().user, TheServer().password);
  if (PQstatus(conn.get()) != CONNECTION_OK || !Exec(conn.get(), "BEGIN") ||
      !Exec(conn.get(), declare.c_str())) {
    return -1;
  }
  PgResult prepared(PQprepare(conn.get(), "mark", mark.c_str(), 5, nullptr));
  std::array<char, 512> line{};
  for (;;) {
    PgResult batch(PQexec(conn.get(), "FETCH 1000 FROM c"));
    const int rows = PQntuples(batch.get());
    for (int r = 0; r < rows; ++r) {
      size_t n = 0;
      for (int c = 0; c < 17; ++c) {
        const char* text = PQgetvalue(batch.get(), r, c);
        const size_t len = std::strlen(text);
        if (n + len + 1 < line.size()) {
          std::memcpy(line.data() + n, text, len);
          n += len;
          line[n++] = c == 16 ? '\n' : ',';
        }
      }
      AppendBare(export_path.c_str(), line.data(), n, false);
      AppendBare(log_path.c_str(), line.data(), n / 2 + 1, true);
      // The key columns: BewIDN, BewSto, BewDtm, BewUhr, BewLfn.
      std::array<const char*, 5> key{PQgetvalue(batch.get(), r, 2), PQgetvalue(batch.get(), r, 3),
                                     PQgetvalue(batch.get(), r, 4), PQgetvalue(batch.get(), r, 5),
                                     PQgetvalue(batch.get(), r, 6)};
      PgResult done(PQexecPrepared(conn.get(), "mark", 5, key.data(), nullptr, nullptr, 0));
    }
    if (rows < 1000) break;
  }
  Exec(conn.get(), "CLOSE c");
  // The run flushes its export lines to disk before it commits.
  const int fd = open(export_path.c_str(), O_RDONLY);
  fsync(fd);
  close(fd);
  if (!Exec(conn.get(), "COMMIT")) return -1;
  return Seconds(start);
}

void WholeRuns(benchmark::State& state) {
  const int64_t bookings = state.range(0);
  const Server& s = TheServer();
  Folders pg(s.user, s.password, s.Net8());
  Folders lite("zeit", "bench", "bew.db");
  const fs::path master = lite.root / "master.db";
  if (!FillPg(bookings)) return state.SkipWithError("filling the PostgreSQL table failed");
  if (std::string error = FillSqlite(master, bookings); !error.empty()) {
    return state.SkipWithError(("filling the SQLite file failed: " + error).c_str());
  }
  // Best of alternating rounds: the machine is shared.
  constexpr int kRounds = 3;
  double pg_run = 1e30, floor = 1e30, lite_run = 1e30;
  for (auto _ : state) {
    for (int i = 0; i < kRounds; ++i) {
      pg.Clear();
      const double f = RunFloor(pg);
      ResetPg();
      pg.Clear();
      const double r = pg.Run(MORVASK_BIN_DIR "/Morvask_PG");
      ResetPg();
      lite.Clear();
      const fs::path db = lite.run / "bew.db";
      for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(db.string() + suffix);
      fs::copy_file(master, db);
      const double l = lite.Run(MORVASK_BIN_DIR "/Morvask_SQLITE");
      if (f < 0 || r < 0 || l < 0) return state.SkipWithError("a run did not end with 1");
      floor = std::min(floor, f);
      pg_run = std::min(pg_run, r);
      lite_run = std::min(lite_run, l);
    }
    state.SetIterationTime(pg_run);
  }
  const double n = static_cast<double>(bookings);
  state.counters["pg_per_s"] = n / pg_run;
  state.counters["sqlite_per_s"] = n / lite_run;
  state.counters["floor_per_s"] = n / floor;
  state.counters["ratio_to_floor"] = pg_run / floor;
  std::printf("N=%lld: Morvask_PG %.2f s (%.0f bookings/s), Morvask_SQLITE %.2f s (%.0f bookings/s),"
              " libpq floor %.2f s (%.0f bookings/s); Morvask_PG / floor = %.3f (target <= 1.25)\n",
              static_cast<long long>(bookings), pg_run, n / pg_run, lite_run, n / lite_run, floor,
              n / floor, pg_run / floor);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!ServerConfigured("pg_run_bench")) return 2;
  const int64_t rows = std::strtoll(Env("MORVASK_BENCH_ROWS", "100000").c_str(), nullptr, 10);
  benchmark::RegisterBenchmark("WholeRuns", WholeRuns)
      ->Arg(rows)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kSecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
