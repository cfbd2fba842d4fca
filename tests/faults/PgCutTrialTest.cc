// The PostgreSQL server connection cut mid-run: the run's server process is
// terminated from another session at a random point of the run. Needs the
// test server of scripts/test.sh (MORVASK_PG_*); skips without it.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>

#include "Trial.h"

namespace {

constexpr int kTrials = 8;
constexpr int kBookings = 2000;
const std::vector<std::string> kArgs = {"Velunaris.ini", "../export"};

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

struct PgCloser {
  void operator()(PGconn* conn) const { PQfinish(conn); }
};
using Conn = std::unique_ptr<PGconn, PgCloser>;

// The booking table on the test server, filled and read as its owner.
class PgTrialDatabase : public TestDatabase {
 public:
  PgTrialDatabase() {
    const char* keys[] = {"host", "port", "dbname", "user", "password", "options", nullptr};
    const std::string host = Env("MORVASK_PG_HOST"), port = Env("MORVASK_PG_PORT"),
                      db = Env("MORVASK_PG_DB"), owner = Env("MORVASK_PG_OWNER"),
                      password = Env("MORVASK_PG_OWNER_PASSWORD");
    const char* values[] = {host.c_str(),     port.c_str(), db.c_str(), owner.c_str(),
                            password.c_str(), "-c search_path=keldomar", nullptr};
    conn_.reset(PQconnectdbParams(keys, values, 0));
    if (PQstatus(conn_.get()) != CONNECTION_OK) error_ = PQerrorMessage(conn_.get());
    Exec("TRUNCATE keldomar.zkr321bew");
  }

  std::string Name() const override { return "PostgreSQL"; }
  std::string Executable() const override { return MORVASK_BIN_DIR "/Morvask_PG"; }
  std::string Net8() const override {
    return Env("MORVASK_PG_HOST") + ":" + Env("MORVASK_PG_PORT") + "/" + Env("MORVASK_PG_DB");
  }
  std::string Login() const override { return Env("MORVASK_PG_USER"); }
  std::string Password() const override { return Env("MORVASK_PG_PASSWORD"); }

  bool Exec(const std::string& sql) override {
    PGresult* result = PQexec(conn_.get(), sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!ok) error_ = PQerrorMessage(conn_.get());
    PQclear(result);
    return ok;
  }

  std::vector<std::vector<std::string>> Query(const std::string& sql) override {
    std::vector<std::vector<std::string>> rows;
    PGresult* result = PQexec(conn_.get(), sql.c_str());
    for (int r = 0; r < PQntuples(result); ++r) {
      std::vector<std::string>& row = rows.emplace_back();
      for (int c = 0; c < PQnfields(result); ++c) {
        row.emplace_back(PQgetisnull(result, r, c) ? kNull : PQgetvalue(result, r, c));
      }
    }
    PQclear(result);
    return rows;
  }

  std::string LastError() const override { return error_; }
  std::string FailMarkSql(const std::string&) const override { return ""; }

 private:
  Conn conn_;
  std::string error_;
};

std::unique_ptr<TestDatabase> MakePgTrialDatabase(const std::string&) {
  return std::make_unique<PgTrialDatabase>();
}

bool HaveServer() {
  return !Env("MORVASK_PG_HOST").empty() && !Env("MORVASK_PG_PORT").empty() &&
         !Env("MORVASK_PG_DB").empty() && !Env("MORVASK_PG_USER").empty() &&
         !Env("MORVASK_PG_OWNER").empty();
}

// Invariant: a run whose connection is cut never reports success without
// having committed every booking it read, never marks a booking without its
// whole line, ends by itself, and the next run exports every booking.
TEST(PgCutTrial, ConnectionCutMidRun) {
  if (!HaveServer()) {
    GTEST_SKIP() << "no PostgreSQL test server: scripts/test.sh starts one; by hand run "
                    "scripts/pg-test-server.sh start DIR and source DIR/pg.env";
  }
  const char* seed_text = std::getenv("MORVASK_FAULT_SEED");
  const unsigned seed = seed_text ? std::strtoul(seed_text, nullptr, 10) : std::random_device{}();
  SCOPED_TRACE("MORVASK_FAULT_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);

  int run_ms = 0;
  {
    Installation inst(MakePgTrialDatabase);
    ASSERT_EQ(inst.db->LastError(), "");
    inst.WriteSettings();
    inst.Insert(Batch("C", kBookings));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(inst.Run(kArgs).exit_code, 1);
    run_ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start).count());
  }
  std::uniform_int_distribution<int> cut_at(0, run_ms);
  std::string exit_codes;

  for (int trial = 0; trial < kTrials; ++trial) {
    const int after_ms = cut_at(random);
    SCOPED_TRACE("trial " + std::to_string(trial) + ", cut after " + std::to_string(after_ms) +
                 " ms of a " + std::to_string(run_ms) + " ms run");
    Installation inst(MakePgTrialDatabase);
    inst.WriteSettings();
    const std::vector<Booking> batch = Batch("B", kBookings);
    inst.Insert(batch);

    std::thread cut([&inst, after_ms] {
      std::this_thread::sleep_for(std::chrono::milliseconds(after_ms));
      inst.db->Exec(
          "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
          "WHERE usename = '" + inst.db->Login() + "' AND pid <> pg_backend_pid()");
    });
    const ProcessResult r = inst.Run(kArgs);
    cut.join();

    EXPECT_EQ(r.signal, 0);
    exit_codes += " " + std::to_string(r.exit_code);
    if (r.exit_code == 1) {
      EXPECT_TRUE(inst.Pending().empty()) << "success reported, work lost";
    }
    const std::map<std::string, int> lines = CountLines(inst.ExportFile());
    const std::vector<std::string> handed = HandedOverIds(batch);
    for (const std::string& idn : Transferred(inst)) {
      if (std::binary_search(handed.begin(), handed.end(), idn)) {
        EXPECT_EQ(lines.count(idn), 1u) << idn << " is marked without its line";
      }
    }

    const ProcessResult next = inst.Run(kArgs);
    EXPECT_EQ(next.exit_code, 1) << next.out;
    EXPECT_TRUE(inst.Pending().empty());
    const std::map<std::string, int> after = CountLines(inst.ExportFile());
    EXPECT_EQ(after.size(), handed.size());
    for (const auto& [idn, n] : after) EXPECT_LE(n, 2) << idn;
    if (HasFailure()) break;
  }
  std::printf("exit codes of the cut runs:%s\n", exit_codes.c_str());
  // A series in which no cut fell inside a run tests nothing.
  EXPECT_NE(exit_codes.find_first_not_of(" 1"), std::string::npos);
}

}  // namespace
