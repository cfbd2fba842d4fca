// The database file locked by another process's write transaction.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "Trial.h"

namespace {

const std::vector<std::string> kArgs = {"Velunaris.ini", "../export", "/D"};

// Invariant: a run that cannot get the write lock within its wait ends as a
// failed login (96, SQLite's BUSY status printed), exports nothing and marks
// nothing; once the lock is gone the next run exports every booking once.
TEST(LockTrial, LockHeldLongerThanTheRunWaits) {
  Installation inst(MakeSqliteTestDatabase);
  inst.WriteSettings();
  const std::vector<Booking> batch = Batch("L", 30);
  inst.Insert(batch);
  // The test's own connection is the other process: it holds the write lock
  // until the run has given up.
  ASSERT_TRUE(inst.db->Exec("BEGIN IMMEDIATE; UPDATE Zkr321Bew SET BewRes = BewRes;"));

  const ProcessResult locked = inst.Run(kArgs);
  ASSERT_TRUE(inst.db->Exec("ROLLBACK;"));

  EXPECT_EQ(locked.exit_code, 96);
  EXPECT_EQ(locked.out, "Datenbankverbindung fehlgeschlagen, Fehler: -10005\n");
  EXPECT_FALSE(FileExists(inst.export_file));
  EXPECT_EQ(inst.Pending().size(), batch.size());

  EXPECT_EQ(inst.Run(kArgs).exit_code, 1);
  EXPECT_TRUE(inst.Pending().empty());
  const std::map<std::string, int> lines = CountLines(inst.ExportFile());
  EXPECT_EQ(lines.size(), HandedOverIds(batch).size());
}

// Invariant: a lock released well within the run's wait only delays the run.
TEST(LockTrial, LockReleasedWithinTheWaitOnlyDelaysTheRun) {
  Installation inst(MakeSqliteTestDatabase);
  inst.WriteSettings();
  const std::vector<Booking> batch = Batch("M", 30);
  inst.Insert(batch);
  ASSERT_TRUE(inst.db->Exec("BEGIN IMMEDIATE; UPDATE Zkr321Bew SET BewRes = BewRes;"));
  std::thread release([&inst] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    inst.db->Exec("ROLLBACK;");
  });

  const ProcessResult r = inst.Run(kArgs);
  release.join();

  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_TRUE(inst.Pending().empty());
  const std::map<std::string, int> lines = CountLines(inst.ExportFile());
  EXPECT_EQ(lines.size(), HandedOverIds(batch).size());
}

}  // namespace
