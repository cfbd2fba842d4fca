// One transaction from the connect to the commit: nothing the run changes is
// seen by anyone else, or survives the process, before SQL_Commit.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "SqliteTestDb.h"
#include "db/KortivaneSQL.h"
#include "db/SQLHlp.h"
#include "db/SqlRuntime.h"

namespace {

class Transaction : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 5; ++i) {
      Row row = PendingBooking("t" + std::to_string(i), "ID" + std::to_string(i),
                               "2024-03-05 07:09:02");
      if (i == 0) {
        row["BewUkz"] = "4";
        row["BewDat"] = "2020-01-01 00:00:00";
      }
      raw_.Insert(row);
    }
    // Only t0 is old enough for the purge.
    raw_.Exec("UPDATE Zkr321Bew SET BewDat=datetime('now','localtime') WHERE BewTID<>'t0'");
  }
  // Marks every pending booking and purges, without committing.
  void RunWithoutCommit() {
    ASSERT_EQ(ConnectTo(db_.path()), 0);
    ASSERT_EQ(SQL_OpenBew(), 0);
    for (const BewRecord& r : FetchAll()) ASSERT_EQ(SQL_MarkTranfer(r), 0);
    ASSERT_EQ(SQL_CloseBew(), 0);
    ASSERT_EQ(SQL_DeleteOld(), 0);
  }
  std::string Dump() {
    return raw_.Scalar(
        "SELECT group_concat(BewTID || ':' || ifnull(BewUkz,'-') || ':' || ifnull(BewUdt,'-'), ' ')"
        " FROM (SELECT * FROM Zkr321Bew ORDER BY BewTID)");
  }

  TempDb db_;
  RawDb raw_{db_.path()};
};

TEST_F(Transaction, NothingIsVisibleBeforeTheCommit) {
  const std::string before = Dump();
  RunWithoutCommit();
  EXPECT_EQ(Dump(), before);
  EXPECT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(raw_.Scalar("SELECT count(*) FROM Zkr321Bew WHERE BewUkz=4"), "4");
  EXPECT_EQ(raw_.Scalar("SELECT count(*) FROM Zkr321Bew"), "4");
  EXPECT_EQ(SQL_Commit(), 0) << "the commit ends the session";
}

TEST_F(Transaction, ProcessEndingWithoutCommitLeavesTheFileUnchanged) {
  const std::string before = Dump();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RunWithoutCommit();
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "the child's run failed";
  EXPECT_EQ(Dump(), before);
  EXPECT_EQ(RawDb(db_.path()).Scalar("PRAGMA integrity_check"), "ok");
}

// A second connect drops the first connection with its uncommitted work.
TEST_F(Transaction, ReconnectDropsUncommittedWork) {
  const std::string before = Dump();
  RunWithoutCommit();
  ASSERT_EQ(ConnectTo(db_.path()), 0);
  ASSERT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(Dump(), before);
}

}  // namespace
