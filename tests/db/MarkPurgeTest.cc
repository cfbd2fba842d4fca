// The transfer mark and the purge of old transferred bookings.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>

#include "SqliteTestDb.h"
#include "db/KortivaneSQL.h"
#include "db/SQLHlp.h"
#include "db/SqlRuntime.h"
#include "db/sqlite/SqliteDialect.h"
#include "db/sqlite/SqliteFunctions.h"

namespace {

BewRecord Key(const char* idn, const char* sto, const char* dtm, const char* uhr, const char* lfn) {
  BewRecord r;
  std::snprintf(r.BewIDN.data(), r.BewIDN.size(), "%s", idn);
  std::snprintf(r.BewSto.data(), r.BewSto.size(), "%s", sto);
  std::snprintf(r.BewDtm.data(), r.BewDtm.size(), "%s", dtm);
  std::snprintf(r.BewUhr.data(), r.BewUhr.size(), "%s", uhr);
  std::snprintf(r.BewLfn.data(), r.BewLfn.size(), "%s", lfn);
  return r;
}

class MarkTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    Row a = PendingBooking("plain", "A", "2024-03-05 07:09:02", "7");
    raw_.Insert(a);
    Row padded = PendingBooking("padded", "B  ", "2024-03-05 07:09:02", "7 ");
    padded["BewSto"] = "X   ";
    raw_.Insert(padded);
    raw_.Insert(PendingBooking("blank-id", " ", "2024-03-05 07:09:02", "7"));
    raw_.Insert(PendingBooking("no-time", "C", "2024-03-05 07:09:02", "7"));
    raw_.Exec("UPDATE Zkr321Bew SET BewUhr=NULL WHERE BewTID='no-time'");
    ASSERT_EQ(ConnectTo(db_.path()), 0);
  }
  std::string Marked() {
    return raw_.Scalar("SELECT group_concat(BewTID) FROM Zkr321Bew WHERE BewUkz=4");
  }

  TempDb db_;
  RawDb raw_{db_.path()};
};

TEST_F(MarkTransfer, FindsItsRowByTheTrimmedKey) {
  struct Case {
    BewRecord key;
    int32_t status;
    std::string marked;  // after this case, committed at the end
  } cases[] = {
      {Key("A", "T10", "20240305000000", "20240305070902", "7"), 0, "plain"},
      {Key("B", "X", "20240305000000", "20240305070902", "7"), 0, "padded"},
      {Key("", "T10", "20240305000000", "20240305070902", "7"), 0, "blank-id"},
      {Key("A", "T10", "20240305000000", "20240305070903", "7"), kSqlNotFound, ""},
      {Key("A", "T10", "20240305000000", "20240305070902", "8"), kSqlNotFound, ""},
      {Key("C", "T10", "20240305000000", "", "7"), kSqlNotFound, ""},  // NULL matches nothing
  };
  for (const Case& c : cases) {
    BewRecord caller = c.key;
    EXPECT_EQ(SQL_MarkTranfer(caller), c.status) << c.key.BewIDN.data();
    EXPECT_EQ(std::memcmp(&caller, &c.key, sizeof caller), 0) << "the caller's record is kept";
    EXPECT_EQ(sqlca.sqlerrd[2], c.marked.empty() ? 0 : 1);
  }
  ASSERT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(Marked(), "plain,padded,blank-id");
  std::string when = raw_.Scalar("SELECT BewUdt FROM Zkr321Bew WHERE BewTID='plain'");
  EXPECT_TRUE(std::regex_match(when, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6})")))
      << when;
}

TEST_F(MarkTransfer, MalformedDateIsAnErrorNotASilentMiss) {
  EXPECT_LT(SQL_MarkTranfer(Key("A", "T10", "2024-03-05", "20240305070902", "7")), 0);
  EXPECT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(Marked(), "");
}

// The mark must find its rows through the five-column index, so a run costs
// one index search per booking, not one table scan.
TEST_F(MarkTransfer, UsesTheFiveColumnIndex) {
  RegisterSqliteFunctions(raw_.get());
  std::string_view update;
  for (const auto& entry : SqliteDialectTable()) {
    if (entry.sqlite.starts_with("UPDATE")) update = entry.sqlite;
  }
  ASSERT_FALSE(update.empty());
  auto plan = raw_.Query("EXPLAIN QUERY PLAN " + std::string(update));
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_EQ(*plan[0][3],
            "SEARCH Zkr321Bew USING INDEX Zkr321Bew_Key "
            "(BewIDN=? AND BewSto=? AND BewDtm=? AND BewUhr=? AND BewLfn=?)");
}

TEST(AddMonths, CalendarMonthsEndOnTheLastDay) {
  RawDb db(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY);
  ASSERT_EQ(RegisterSqliteFunctions(db.get()), SQLITE_OK);
  struct Case {
    const char* date;
    int months;
    const char* expected;
  } cases[] = {
      {"2024-03-15 10:11:12", -3, "2023-12-15 10:11:12"},
      {"2024-05-31 23:59:59", -3, "2024-02-29 23:59:59"},  // leap year
      {"2023-05-31 00:00:00", -3, "2023-02-28 00:00:00"},
      {"2024-04-30 08:00:00", -3, "2024-01-31 08:00:00"},  // a last day stays a last day
      {"2024-02-29 08:00:00", -3, "2023-11-30 08:00:00"},
      {"2024-02-28 08:00:00", -3, "2023-11-28 08:00:00"},
      {"2023-02-28 08:00:00", -3, "2022-11-30 08:00:00"},
      {"2024-01-10 08:00:00", 2, "2024-03-10 08:00:00"},
  };
  for (const Case& c : cases) {
    std::string sql = "SELECT morvask_add_months('" + std::string(c.date) + "'," +
                      std::to_string(c.months) + ")";
    EXPECT_EQ(db.Scalar(sql), c.expected) << c.date;
  }
  EXPECT_EQ(db.Query("SELECT morvask_add_months('kein Datum',-3)")[0][0], std::nullopt);
}

class DeleteOld : public ::testing::Test {
 protected:
  // A BewDat relative to now, in the table's date format.
  std::string Ago(const char* modifier) {
    return RawDb(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY)
        .Scalar(std::string("SELECT datetime('now','localtime','") + modifier + "')");
  }
  void Add(const std::string& tid, Value ukz, Value dat) {
    Row row = PendingBooking(tid, tid, "2024-03-05 07:09:02");
    row["BewUkz"] = ukz;
    row["BewDat"] = dat;
    raw_.Insert(row);
  }
  std::string Left() {
    return raw_.Scalar("SELECT group_concat(BewTID) FROM (SELECT BewTID FROM Zkr321Bew ORDER BY 1)");
  }

  TempDb db_;
  RawDb raw_{db_.path()};
};

TEST_F(DeleteOld, RemovesTransferredRowsOlderThanThreeMonths) {
  Add("old-4", "4", Ago("-4 months"));
  Add("old-years", "4", Ago("-3 years"));
  Add("old-pending", std::nullopt, Ago("-4 months"));
  Add("old-3", "3", Ago("-1 year"));
  Add("young-4", "4", Ago("-80 days"));
  Add("null-date", "4", std::nullopt);
  Add("empty-date", "4", "");

  ASSERT_EQ(ConnectTo(db_.path()), 0);
  EXPECT_EQ(SQL_DeleteOld(), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 2);
  EXPECT_EQ(SQL_DeleteOld(), 0);  // nothing left to delete is no failure
  EXPECT_EQ(sqlca.sqlerrd[2], 0);
  ASSERT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(Left(), "empty-date,null-date,old-3,old-pending,young-4");
}

// An old booking still pending is fetched, marked and deleted in one run.
TEST_F(DeleteOld, MarkedInTheSameRunIsDeletedToo) {
  Add("old", std::nullopt, Ago("-5 months"));
  Add("new", std::nullopt, Ago("-1 day"));
  ASSERT_EQ(ConnectTo(db_.path()), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  int32_t end = 0;
  auto rows = FetchAll(&end);
  ASSERT_EQ(rows.size(), 2u);
  for (const BewRecord& r : rows) EXPECT_EQ(SQL_MarkTranfer(r), 0);
  ASSERT_EQ(SQL_CloseBew(), 0);
  EXPECT_EQ(SQL_DeleteOld(), 0);
  ASSERT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(Left(), "new");
}

}  // namespace
