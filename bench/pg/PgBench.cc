// A run's database work on PostgreSQL, side by side with its floor.
//
//   modules: SQL_Connect, SQL_OpenBew, then SQL_FetchBew and SQL_MarkTranfer
//            for every booking, SQL_CloseBew
//   floor:   the same statements straight on libpq: one connection, the same
//            cursor read 1000 rows per FETCH, one prepared update per booking
//
// Both end without a commit (the server rolls back), so every pass finds the
// same N pending bookings; the table is vacuumed between passes, outside the
// timing. Passes alternate so that drift on a shared machine hits both sides.
// Prints the ratio modules / floor (median of the passes); target <= 1.25.
//
// Server data from the environment as scripts/pg-test-server.sh writes it
// (MORVASK_PG_*); N from MORVASK_BENCH_ROWS (default 100000).
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "db/KortivaneSQL.h"
#include "db/SQLHlp.h"
#include "db/pg/PgDialect.h"
#include "db/pg/PgRuntime.h"
#include "tools/bewgen/PgBookings.h"
#include "BenchServer.h"

namespace {

void Vacuum() {
  PgConn owner = Connect(TheServer().owner, TheServer().owner_password);
  Exec(owner.get(), "VACUUM ANALYZE keldomar.zkr321bew");
}

const PgStatement& Statement(SqlKind kind, std::string_view oracle) {
  return *FindPgStatement(kind, oracle);
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

void BM_Modules(benchmark::State& state) {
  const Server& s = TheServer();
  int64_t bookings = 0;
  for (auto _ : state) {
    if (SQL_Connect(s.user.c_str(), s.password.c_str(), s.Net8().c_str(), "KELDOMAR") != 0 ||
        SQL_OpenBew() != 0) {
      state.SkipWithError("login or open failed");
      break;
    }
    BewRecord booking;
    bookings = 0;
    while (SQL_FetchBew(booking) == 0) {
      SQL_MarkTranfer(booking);
      ++bookings;
    }
    SQL_CloseBew();
    PgDisconnect();
    state.PauseTiming();
    Vacuum();
    state.ResumeTiming();
  }
  state.counters["bookings"] = static_cast<double>(bookings);
  state.counters["per_s"] = benchmark::Counter(static_cast<double>(bookings),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Floor(benchmark::State& state) {
  const PgStatement& cursor = Statement(SqlKind::kOpen, kCursorText);
  const PgStatement& mark = Statement(SqlKind::kUpdate, kMarkText);
  const std::string declare = "DECLARE c NO SCROLL CURSOR FOR " + std::string(cursor.pg);
  const std::string mark_text(mark.pg);
  int64_t bookings = 0;
  for (auto _ : state) {
    PgConn conn = Connect(TheServer().user, TheServer().password);
    if (PQstatus(conn.get()) != CONNECTION_OK || !Exec(conn.get(), "BEGIN") ||
        !Exec(conn.get(), declare.c_str())) {
      state.SkipWithError("login or open failed");
      break;
    }
    PgResult prepared(PQprepare(conn.get(), "mark", mark_text.c_str(), 5, nullptr));
    bookings = 0;
    for (;;) {
      PgResult batch(PQexec(conn.get(), "FETCH 1000 FROM c"));
      int rows = PQntuples(batch.get());
      for (int r = 0; r < rows; ++r) {
        // The key columns: BewIDN, BewSto, BewDtm, BewUhr, BewLfn.
        std::array<const char*, 5> key{PQgetvalue(batch.get(), r, 2), PQgetvalue(batch.get(), r, 3),
                                       PQgetvalue(batch.get(), r, 4), PQgetvalue(batch.get(), r, 5),
                                       PQgetvalue(batch.get(), r, 6)};
        PgResult done(PQexecPrepared(conn.get(), "mark", 5, key.data(), nullptr, nullptr, 0));
        ++bookings;
      }
      if (rows < 1000) break;
    }
    Exec(conn.get(), "CLOSE c");
    conn.reset();
    state.PauseTiming();
    Vacuum();
    state.ResumeTiming();
  }
  state.counters["bookings"] = static_cast<double>(bookings);
  state.counters["per_s"] = benchmark::Counter(static_cast<double>(bookings),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

// Collects the real time of every pass by side.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      std::string name = run.benchmark_name();
      seconds_[name.substr(0, name.find('/'))].push_back(run.GetAdjustedRealTime());
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Median(const std::string& side) {
    std::vector<double>& v = seconds_[side];
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }

 private:
  std::map<std::string, std::vector<double>> seconds_;
};

bool FillTable(int64_t rows) {
  PgConn owner = Connect(TheServer().owner, TheServer().owner_password);
  if (PQstatus(owner.get()) != CONNECTION_OK) return false;
  if (!Exec(owner.get(), "TRUNCATE keldomar.zkr321bew") || !Exec(owner.get(), "BEGIN")) {
    return false;
  }
  BookingGen gen(42, std::chrono::sys_days{std::chrono::year{2024} / 6 / 15});
  std::string failed = CopyBookingsToPg(owner.get(), gen, rows);
  if (!failed.empty()) {
    std::fprintf(stderr, "loading the bookings failed: %s\n", failed.c_str());
    return false;
  }
  // Every generated booking pending, so that a pass handles all N.
  return Exec(owner.get(), "UPDATE keldomar.zkr321bew SET bewukz = NULL") &&
         Exec(owner.get(), "COMMIT") && Exec(owner.get(), "VACUUM ANALYZE keldomar.zkr321bew");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!ServerConfigured("pg_bench")) return 2;
  const int64_t rows = std::strtoll(Env("MORVASK_BENCH_ROWS", "100000").c_str(), nullptr, 10);
  if (!FillTable(rows)) return 1;
  constexpr int kPasses = 3;
  for (int pass = 0; pass < kPasses; ++pass) {
    std::string suffix = "/pass:" + std::to_string(pass + 1);
    benchmark::RegisterBenchmark(("BM_Modules" + suffix).c_str(), BM_Modules)
        ->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_Floor" + suffix).c_str(), BM_Floor)
        ->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double floor = reporter.Median("BM_Floor");
  double modules = reporter.Median("BM_Modules");
  if (floor > 0) {
    std::printf("rows %lld: modules / libpq floor = %.3f (target <= 1.25)\n",
                static_cast<long long>(rows), modules / floor);
  }
  benchmark::Shutdown();
  return 0;
}
