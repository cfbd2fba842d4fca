// The booking cursor: which rows it delivers, in which order, and how.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "SqliteTestDb.h"
#include "db/KortivaneSQL.h"
#include "db/SQLHlp.h"
#include "db/SqlRuntime.h"
#include "db/sqlite/SqliteStatus.h"

namespace {

class BookingCursor : public ::testing::Test {
 protected:
  void Add(Row row, const std::map<std::string, Value>& changes = {}) {
    for (const auto& [name, value] : changes) row[name] = value;
    raw_.Insert(row);
  }
  std::vector<std::string> DeliveredTids() {
    EXPECT_EQ(ConnectTo(db_.path()), 0);
    EXPECT_EQ(SQL_OpenBew(), 0);
    int32_t end = 0;
    std::vector<std::string> tids;
    for (const BewRecord& r : FetchAll(&end)) tids.emplace_back(r.BewTID.data());
    EXPECT_EQ(end, kSqlNotFound);
    EXPECT_EQ(SQL_CloseBew(), 0);
    return tids;
  }

  TempDb db_;
  RawDb raw_{db_.path()};
};

TEST_F(BookingCursor, SelectsUntransferredRowsWithAnId) {
  const std::string t = "2024-03-05 07:09:02";
  Add(PendingBooking("ukz-null", "A", t));
  Add(PendingBooking("ukz-0", "B", t), {{"BewUkz", "0"}});
  Add(PendingBooking("ukz-3", "C", t), {{"BewUkz", "3"}});
  Add(PendingBooking("ukz-4", "D", t), {{"BewUkz", "4"}});
  Add(PendingBooking("idn-blank", " ", t));
  Add(PendingBooking("idn-blanks", "   ", t));  // equal to one blank, as CHAR compares
  Add(PendingBooking("idn-empty", "", t));      // an empty text is NULL
  Add(PendingBooking("idn-null", "", t), {{"BewIDN", std::nullopt}});
  Add(PendingBooking("idn-lead", " E", t));     // a leading blank is part of the ID

  EXPECT_EQ(DeliveredTids(), (std::vector<std::string>{"idn-lead", "ukz-null", "ukz-0", "ukz-3"}));
}

TEST_F(BookingCursor, OrderIsIdThenDateThenTimeThenRunningNumber) {
  // Inserted out of order; NULL dates come after every date, as on Oracle.
  Add(PendingBooking("b-null-uhr", "B", "2024-03-05 08:00:00"), {{"BewUhr", std::nullopt}});
  Add(PendingBooking("b-late", "B", "2024-03-05 09:00:00"));
  Add(PendingBooking("b-lfn-10", "B", "2024-03-05 08:00:00", "10"));
  Add(PendingBooking("b-lfn-2", "B", "2024-03-05 08:00:00", "2"));
  Add(PendingBooking("b-day-before", "B", "2024-03-04 23:00:00"));
  Add(PendingBooking("a", "A", "2024-12-31 23:59:59"));
  Add(PendingBooking("b-null-dtm", "B", "2024-01-01 00:00:00"), {{"BewDtm", std::nullopt}});

  EXPECT_EQ(DeliveredTids(), (std::vector<std::string>{"a", "b-day-before", "b-lfn-10", "b-lfn-2",
                                                       "b-late", "b-null-uhr", "b-null-dtm"}));
}

TEST_F(BookingCursor, FieldsAreTrimmedCutAndNullIsEmpty) {
  Row full = PendingBooking("T1 \t ", "ID1  ", "2024-03-05 07:09:02");
  full["BewSto"] = "X   ";
  full["BewLfn"] = "12345";            // longer than its buffer: cut to 3
  full["BewKst"] = std::nullopt;
  full["BewRes"] = "  Rest\n";         // leading blanks and a line feed stay
  full["BewTas"] = "\t\t";
  Add(full);
  Row nulls{{"BewTID", "T2"}, {"BewIDN", "ID2"}};
  Add(nulls);

  ASSERT_EQ(ConnectTo(db_.path()), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  BewRecord r;
  ASSERT_EQ(SQL_FetchBew(r), 0);
  EXPECT_STREQ(r.BewTID.data(), "T1");
  EXPECT_STREQ(r.BewIDN.data(), "ID1");
  EXPECT_STREQ(r.BewSto.data(), "X");
  EXPECT_STREQ(r.BewDtm.data(), "20240305000000");
  EXPECT_STREQ(r.BewUhr.data(), "20240305070902");
  EXPECT_STREQ(r.BewLfn.data(), "123");
  EXPECT_STREQ(r.BewKst.data(), "");
  EXPECT_STREQ(r.BewRes.data(), "  Rest\n");
  EXPECT_STREQ(r.BewTas.data(), "");
  EXPECT_STREQ(r.BewSrc.data(), "DTA");
  EXPECT_STREQ(r.BewEra.data(), "204");

  // Nothing of the row before survives in the NULL columns of the next.
  ASSERT_EQ(SQL_FetchBew(r), 0);
  EXPECT_STREQ(r.BewTID.data(), "T2");
  EXPECT_STREQ(r.BewIDN.data(), "ID2");
  for (const char* field : {r.BewLID.data(), r.BewSto.data(), r.BewDtm.data(), r.BewUhr.data(),
                            r.BewLfn.data(), r.BewSrc.data(), r.BewRes.data(), r.BewEra.data()}) {
    EXPECT_STREQ(field, "");
  }
  EXPECT_EQ(SQL_FetchBew(r), kSqlNotFound);
  EXPECT_EQ(SQL_FetchBew(r), kSqlNotFound);
}

TEST_F(BookingCursor, ValuesThatFillTheirBuffersArriveWhole) {
  Row row = PendingBooking(std::string(255, 't'), std::string(50, 'i'), "2024-03-05 07:09:02");
  row["BewKst"] = std::string(30, 'k');
  Add(row);
  ASSERT_EQ(ConnectTo(db_.path()), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  BewRecord r;
  ASSERT_EQ(SQL_FetchBew(r), 0);
  EXPECT_EQ(std::string(r.BewTID.data()), std::string(255, 't'));
  EXPECT_EQ(std::string(r.BewIDN.data()), std::string(50, 'i'));
  EXPECT_EQ(std::string(r.BewKst.data()), std::string(30, 'k'));
}

TEST_F(BookingCursor, EmptyTableEndsAtOnce) {
  ASSERT_EQ(ConnectTo(db_.path()), 0);
  BewRecord r;
  EXPECT_EQ(SQL_FetchBew(r), kSqlErrCursorNotOpen);
  EXPECT_EQ(SQL_CloseBew(), kSqlErrCursorNotOpen);
  ASSERT_EQ(SQL_OpenBew(), 0);
  EXPECT_EQ(SQL_FetchBew(r), kSqlNotFound);
  EXPECT_EQ(SQL_CloseBew(), 0);
  EXPECT_EQ(SQL_FetchBew(r), kSqlErrCursorNotOpen);
}

// The marks made between fetches neither drop a row still to come (its
// BewUkz is already 4) nor change what it delivers; two rows with the same
// key are both delivered and both marked by one call.
TEST_F(BookingCursor, MarksBetweenFetchesDoNotChangeTheRowsDelivered) {
  for (int i = 0; i < 50; ++i) {
    Add(PendingBooking("t" + std::to_string(100 + i), "ID" + std::to_string(100 + i),
                       "2024-03-05 07:09:02"));
  }
  Add(PendingBooking("twin-1", "ID125", "2024-03-05 07:09:02"));  // the key of t125

  ASSERT_EQ(ConnectTo(db_.path()), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  std::vector<std::string> tids;
  BewRecord r;
  int32_t status;
  while ((status = SQL_FetchBew(r)) == 0) {
    tids.emplace_back(r.BewTID.data());
    EXPECT_EQ(SQL_MarkTranfer(r), 0) << r.BewTID.data();
    if (tids.back() == "t125") {
      EXPECT_EQ(sqlca.sqlerrd[2], 2);  // the twin too
    }
    if (tids.size() == 1) {
      // Mark every other row ahead of the cursor as well.
      for (const auto& key : raw_.Query("SELECT BewIDN FROM Zkr321Bew WHERE rowid % 2 = 0")) {
        BewRecord ahead = r;
        std::snprintf(ahead.BewIDN.data(), ahead.BewIDN.size(), "%s", key[0]->c_str());
        SQL_MarkTranfer(ahead);
      }
    }
  }
  EXPECT_EQ(status, kSqlNotFound);
  EXPECT_EQ(tids.size(), 51u);
  EXPECT_EQ(std::count(tids.begin(), tids.end(), "twin-1"), 1);
  EXPECT_EQ(std::count(tids.begin(), tids.end(), "t125"), 1);

  ASSERT_EQ(SQL_CloseBew(), 0);
  ASSERT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(raw_.Scalar("SELECT count(*) FROM Zkr321Bew WHERE BewUkz=4"), "51");
}

// A cursor opened after this transaction changed rows could not see the
// changes in its snapshot; it refuses rather than deliver marked rows again.
TEST_F(BookingCursor, OpenAfterChangesIsRefused) {
  Add(PendingBooking("t1", "A", "2024-03-05 07:09:02"));
  ASSERT_EQ(ConnectTo(db_.path()), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  BewRecord r;
  ASSERT_EQ(SQL_FetchBew(r), 0);
  ASSERT_EQ(SQL_MarkTranfer(r), 0);
  ASSERT_EQ(SQL_CloseBew(), 0);
  EXPECT_EQ(SQL_OpenBew(), kSqliteErrCursorAfterChange);
}

}  // namespace
