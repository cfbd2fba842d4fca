// The booking cursor, the transfer mark and the purge through the statement
// modules, against the server.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "PgTestServer.h"
#include "db/KortivaneSQL.h"
#include "db/SQLHlp.h"
#include "db/pg/PgDialect.h"
#include "db/pg/PgStatus.h"
#include "tools/bewgen/PgBookings.h"

namespace {

using PgBookingTest = PgTest;

std::vector<BewRecord> FetchAll() {
  std::vector<BewRecord> rows;
  BewRecord booking;
  while (SQL_FetchBew(booking) == 0) rows.push_back(booking);
  return rows;
}

std::string Ids(const std::vector<BewRecord>& rows) {
  std::string ids;
  for (const BewRecord& r : rows) ids += std::string(r.BewIDN.data()) + "/" + r.BewLfn.data() + " ";
  return ids;
}

TEST_F(PgBookingTest, DeliversPendingBookingsInByteOrderOfTheKey) {
  Insert({{"bewidn", "'b'"}, {"bewlfn", "'1'"}});
  Insert({{"bewidn", "'b'"}, {"bewlfn", "'2'"}, {"bewukz", "4"}});  // transferred
  Insert({{"bewidn", "'b'"}, {"bewlfn", "'3'"}, {"bewukz", "3"}});
  Insert({{"bewidn", "' '"}});
  Insert({{"bewidn", "''"}});  // NULL in Oracle
  Insert({{"bewidn", "NULL"}});
  Insert({{"bewidn", "'B'"}});  // before a and b in byte order, after them in German
  Insert({{"bewidn", "'a'"}, {"bewlfn", "'5'"}, {"bewdtm", "'2024-03-06 00:00:00'"}});
  Insert({{"bewidn", "'a'"}, {"bewlfn", "'4'"}, {"bewuhr", "'2024-03-05 08:00:00'"}});
  Insert({{"bewidn", "'a'"}, {"bewlfn", "'3'"}});
  Insert({{"bewidn", "'a'"}, {"bewlfn", "'10'"}});
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  std::vector<BewRecord> rows = FetchAll();
  EXPECT_EQ(Ids(rows), "B/1 a/10 a/3 a/4 a/5 b/1 b/3 ");
  BewRecord after_end;
  EXPECT_EQ(SQL_FetchBew(after_end), kSqlNotFound);
  EXPECT_EQ(SQL_CloseBew(), 0);
}

TEST_F(PgBookingTest, FetchTrimsFieldsKeepsDateDigitsAndEmptiesNulls) {
  Insert({{"bewtid", "'T 1 \t '"}, {"bewsto", "'A       '"}, {"bewkst", "NULL"},
          {"bewres", "'  R'"}, {"bewuhr", "'0999-12-31 23:59:58'"}});
  Insert({{"bewidn", "'1002'"}, {"bewdtm", "NULL"}, {"bewuhr", "NULL"}});
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  std::vector<BewRecord> rows = FetchAll();
  ASSERT_EQ(rows.size(), 2u);
  const BewRecord& r = rows[0];
  EXPECT_STREQ(r.BewTID.data(), "T 1");
  EXPECT_STREQ(r.BewLID.data(), "L1");
  EXPECT_STREQ(r.BewIDN.data(), "1001");
  EXPECT_STREQ(r.BewSto.data(), "A");
  EXPECT_STREQ(r.BewDtm.data(), "20240305000000");
  EXPECT_STREQ(r.BewUhr.data(), "09991231235958");
  EXPECT_STREQ(r.BewLfn.data(), "1");
  EXPECT_STREQ(r.BewKst.data(), "");
  EXPECT_STREQ(r.BewRes.data(), "  R");
  EXPECT_STREQ(r.BewSrc.data(), "DTA");
  EXPECT_STREQ(r.BewQua.data(), "Q1");
  EXPECT_STREQ(rows[1].BewDtm.data(), "");
  EXPECT_STREQ(rows[1].BewUhr.data(), "");
  EXPECT_STREQ(rows[1].BewKst.data(), "KST");
}

TEST_F(PgBookingTest, UmlautsArriveAsWindows1252AndMarkTheirRow) {
  // The owner writes UTF-8: \xC3\x9C is U+00DC, \xC3\xBC is U+00FC.
  Insert({{"bewidn", "'\xC3\x9C" "1'"}, {"bewkst", "'M\xC3\xBCller'"}});
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  std::vector<BewRecord> rows = FetchAll();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_STREQ(rows[0].BewIDN.data(), "\xDC" "1");
  EXPECT_STREQ(rows[0].BewKst.data(), "M\xFCller");
  EXPECT_EQ(SQL_MarkTranfer(rows[0]), 0);
  EXPECT_EQ(SQL_CloseBew(), 0);
  EXPECT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(OwnerQuery("SELECT bewukz FROM keldomar.zkr321bew")[0][0], "4");
}

TEST_F(PgBookingTest, MarksBetweenFetchesChangeNothingTheCursorDelivers) {
  // Enough rows that the cursor reads several batches from the server.
  Owner("INSERT INTO keldomar.zkr321bew (bewidn, bewsto, bewdtm, bewuhr, bewlfn, bewdat)"
        " SELECT 'K' || lpad(i::text, 5, '0'), 'A', '2024-03-05', '2024-03-05 07:00', '1',"
        " '2024-03-05' FROM generate_series(1, 2500) i");
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  BewRecord first;
  ASSERT_EQ(SQL_FetchBew(first), 0);
  // Mark a row the cursor has not read from the server yet, and let another
  // session commit a new pending booking.
  BewRecord ahead = first;
  std::strcpy(ahead.BewIDN.data(), "K02200");
  EXPECT_EQ(SQL_MarkTranfer(ahead), 0);
  Insert({{"bewidn", "'K01500x'"}});
  std::vector<BewRecord> rows{first};
  BewRecord booking;
  while (SQL_FetchBew(booking) == 0) {
    rows.push_back(booking);
    ASSERT_EQ(SQL_MarkTranfer(booking), 0) << booking.BewIDN.data();
  }
  ASSERT_EQ(rows.size(), 2500u);
  for (size_t i = 0; i < rows.size(); ++i) {
    std::string number = std::to_string(i + 1);
    ASSERT_EQ(rows[i].BewIDN.data(), "K" + std::string(5 - number.size(), '0') + number);
  }
  EXPECT_EQ(SQL_CloseBew(), 0);
}

TEST_F(PgBookingTest, RefusedMarksAndPurgeUndoOnlyThemselvesAndTheCursorReadsOn) {
  Owner("INSERT INTO keldomar.zkr321bew (bewidn, bewsto, bewdtm, bewuhr, bewlfn, bewdat)"
        " SELECT 'K' || lpad(i::text, 5, '0'), 'A', '2024-03-05', '2024-03-05 07:00', '1',"
        " '2024-03-05' FROM generate_series(1, 2500) i");
  Insert({{"bewidn", "'old-1'"}, {"bewukz", "4"}, {"bewdat", "'2000-01-01'"}});
  Insert({{"bewidn", "'old-2'"}, {"bewukz", "4"}, {"bewdat", "'2000-01-01'"}});
  // K01000 ends the cursor's first batch from the server and K01001 starts
  // the second: the next read follows right after a rollback to a savepoint.
  const std::set<std::string> refused{"K00500", "K01000", "K01001"};
  RefuseChanges("'K00500', 'K01000', 'K01001', 'old-2'");
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  size_t delivered = 0;
  BewRecord booking;
  int32_t status;
  while ((status = SQL_FetchBew(booking)) == 0) {
    std::string id = booking.BewIDN.data();
    std::string number = std::to_string(++delivered);
    ASSERT_EQ(id, "K" + std::string(5 - number.size(), '0') + number);
    EXPECT_EQ(SQL_MarkTranfer(booking), refused.contains(id) ? SqlStateStatus("P0001") : 0) << id;
  }
  EXPECT_EQ(status, kSqlNotFound);
  EXPECT_EQ(delivered, 2500u);
  EXPECT_EQ(SQL_CloseBew(), 0);
  // One refused row undoes the whole purge, old-1 included, and nothing else.
  EXPECT_EQ(SQL_DeleteOld(), SqlStateStatus("P0001"));
  EXPECT_EQ(sqlca.sqlerrd[2], 0);
  EXPECT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(OwnerQuery("SELECT bewidn FROM keldomar.zkr321bew WHERE bewukz IS NULL ORDER BY 1"),
            (PgRows{{"K00500"}, {"K01000"}, {"K01001"}}));
  EXPECT_EQ(OwnerQuery("SELECT count(*) FROM keldomar.zkr321bew WHERE bewukz = 4")[0][0], "2499");
}

TEST_F(PgBookingTest, FailedReadAbortsTheTransactionAndTheCommitReportsIt) {
  Insert();
  Insert({{"bewidn", "'1002'"}, {"bewkst", "'\xC4\x80'"}});  // U+0100: no Windows-1252 form
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  BewRecord booking;
  EXPECT_EQ(SQL_FetchBew(booking), SqlStateStatus("22P05"));
  std::strcpy(booking.BewIDN.data(), "1001");
  std::strcpy(booking.BewSto.data(), "A");
  std::strcpy(booking.BewDtm.data(), "20240305000000");
  std::strcpy(booking.BewUhr.data(), "20240305070902");
  std::strcpy(booking.BewLfn.data(), "1");
  EXPECT_EQ(SQL_MarkTranfer(booking), SqlStateStatus("25P02"));
  EXPECT_EQ(SQL_Commit(), 0);
  EXPECT_EQ(OwnerQuery("SELECT count(*) FROM keldomar.zkr321bew WHERE bewukz = 4")[0][0], "0");
}

TEST_F(PgBookingTest, TwoEqualKeysAreBothDeliveredAndMarkedByOneCall) {
  Insert({{"bewtid", "'first'"}});
  Insert({{"bewtid", "'second'"}});
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  std::vector<BewRecord> rows = FetchAll();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(SQL_MarkTranfer(rows[0]), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 2);
  EXPECT_EQ(SQL_CloseBew(), 0);
  EXPECT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(OwnerQuery("SELECT count(*) FROM keldomar.zkr321bew WHERE bewukz = 4")[0][0], "2");
}

TEST_F(PgBookingTest, NothingIsVisibleToOthersBeforeTheCommit) {
  Insert();
  Insert({{"bewidn", "'old'"}, {"bewukz", "4"}, {"bewdat", "'2000-01-01'"}});
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  std::vector<BewRecord> rows = FetchAll();
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(SQL_MarkTranfer(rows[0]), 0);
  ASSERT_EQ(SQL_CloseBew(), 0);
  ASSERT_EQ(SQL_DeleteOld(), 0);
  const char* state = "SELECT bewidn, bewukz FROM keldomar.zkr321bew ORDER BY bewidn";
  EXPECT_EQ(OwnerQuery(state), (PgRows{{"1001", std::nullopt}, {"old", "4"}}));
  EXPECT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(OwnerQuery(state), (PgRows{{"1001", "4"}}));
}

TEST_F(PgBookingTest, PurgeRemovesTransferredBookingsOlderThanThreeMonths) {
  const std::string old = "localtimestamp(0) - interval '3 months' - interval '1 minute'";
  const std::string young = "localtimestamp(0) - interval '3 months' + interval '1 minute'";
  Insert({{"bewidn", "'old-4'"}, {"bewukz", "4"}, {"bewdat", old}});
  Insert({{"bewidn", "'old-3'"}, {"bewukz", "3"}, {"bewdat", old}});
  Insert({{"bewidn", "'young-4'"}, {"bewukz", "4"}, {"bewdat", young}});
  Insert({{"bewidn", "'old-pending'"}, {"bewdat", old}});  // marked in this run, then purged
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  for (const BewRecord& r : FetchAll()) {
    if (std::string_view(r.BewIDN.data()) == "old-pending") {
      EXPECT_EQ(SQL_MarkTranfer(r), 0);
    }
  }
  ASSERT_EQ(SQL_CloseBew(), 0);
  EXPECT_EQ(SQL_DeleteOld(), 0);
  EXPECT_EQ(sqlca.sqlerrd[2], 2);
  EXPECT_EQ(SQL_DeleteOld(), 0);  // nothing left to purge is no failure
  EXPECT_EQ(sqlca.sqlerrd[2], 0);
  EXPECT_EQ(SQL_Commit(), 1);
  EXPECT_EQ(OwnerQuery("SELECT bewidn FROM keldomar.zkr321bew ORDER BY bewidn"),
            (PgRows{{"old-3"}, {"young-4"}}));
}

TEST_F(PgBookingTest, PurgeCutoffIsThreeCalendarMonthsAlsoAtAMonthEnd) {
  const PgStatement* purge = FindPgStatement(
      SqlKind::kDelete,
      "delete  from KELDOMAR.ZKR321BEW  where (BewDat<ADD_MONTHS(SYSDATE,(-3)) and BewUkz=4)");
  ASSERT_NE(purge, nullptr);
  struct Case {
    const char* now;
    const char* cutoff;  // the oldest BewDat that stays
  } cases[] = {
      {"2024-05-31 12:00:00", "2024-02-29 12:00:00"},
      {"2023-05-31 12:00:00", "2023-02-28 12:00:00"},
      {"2024-03-31 00:00:00", "2023-12-31 00:00:00"},
      {"2024-07-31 23:59:59", "2024-04-30 23:59:59"},
      {"2024-06-15 08:00:00", "2024-03-15 08:00:00"},
  };
  for (const Case& c : cases) {
    // The purge as the backend runs it, with the server's clock set to now.
    std::string sql(purge->pg);
    const std::string clock = "localtimestamp(0)";
    size_t at = sql.find(clock);
    ASSERT_NE(at, std::string::npos);
    sql.replace(at, clock.size(), std::string("'") + c.now + "'::timestamp(0)");
    Owner("TRUNCATE keldomar.zkr321bew");
    Insert({{"bewidn", "'stays'"}, {"bewukz", "4"}, {"bewdat", std::string("'") + c.cutoff + "'"}});
    Insert({{"bewidn", "'goes'"}, {"bewukz", "4"},
            {"bewdat", std::string("'") + c.cutoff + "'::timestamp - interval '1 second'"}});
    Owner(sql);
    EXPECT_EQ(OwnerQuery("SELECT bewidn FROM keldomar.zkr321bew"), (PgRows{{"stays"}})) << c.now;
  }
}

TEST_F(PgBookingTest, ServerGoneMidRunIsAnErrorAndNothingIsCommitted) {
  for (int i = 0; i < 3; ++i) Insert({{"bewlfn", "'" + std::to_string(i) + "'"}});
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  BewRecord booking;
  ASSERT_EQ(SQL_FetchBew(booking), 0);
  ASSERT_EQ(SQL_MarkTranfer(booking), 0);
  PgRows killed = OwnerQuery(
      "SELECT pg_terminate_backend(pid, 10000) FROM pg_stat_activity"
      " WHERE usename = '" + server_.user + "' AND application_name = 'Morvask'");
  ASSERT_EQ(killed, (PgRows{{"t"}}));
  // Rows already read may still come; every statement that needs the server fails.
  while (SQL_FetchBew(booking) == 0) {
  }
  EXPECT_EQ(SQL_MarkTranfer(booking), kPgErrConnectionLost);
  EXPECT_EQ(SQL_CloseBew(), kPgErrConnectionLost);
  EXPECT_EQ(SQL_DeleteOld(), kPgErrConnectionLost);
  EXPECT_EQ(SQL_Commit(), 0);
  EXPECT_EQ(OwnerQuery("SELECT count(*) FROM keldomar.zkr321bew WHERE bewukz = 4")[0][0], "0");
  // A new login works again.
  EXPECT_EQ(Login(), 0);
}

TEST_F(PgBookingTest, GeneratedBookingsLoadAndThePendingOnesAreDelivered) {
  Owner("BEGIN");
  BookingGen gen(7, std::chrono::sys_days{std::chrono::year{2024} / 6 / 15});
  ASSERT_EQ(CopyBookingsToPg(owner_.get(), gen, 3000), "");
  Owner("COMMIT");
  ASSERT_EQ(OwnerQuery("SELECT count(*) FROM keldomar.zkr321bew")[0][0], "3000");
  // The generator's mix holds every case the cursor must leave out.
  PgRows expected = OwnerQuery(
      "SELECT count(*) FROM keldomar.zkr321bew WHERE coalesce(bewukz, 0) <> 4"
      " AND coalesce(bewidn, '') NOT IN ('', ' ')");
  ASSERT_EQ(Login(), 0);
  ASSERT_EQ(SQL_OpenBew(), 0);
  std::vector<BewRecord> rows = FetchAll();
  EXPECT_EQ(std::to_string(rows.size()), *expected[0][0]);
}

}  // namespace
