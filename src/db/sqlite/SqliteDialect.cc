#include "db/sqlite/SqliteDialect.h"

#include <array>

// Equivalences the SQLite texts keep:
//  - Dates are stored as "YYYY-MM-DD HH:MM:SS"; to_char(...,'yyyymmddhh24miss')
//    is strftime('%Y%m%d%H%M%S', ...), which gives NULL for NULL.
//  - SYSDATE and SYSTIMESTAMP are the local time ('now','localtime').
//  - Text keys compare with RTRIM, as blank-padded CHAR columns do: a value
//    stored with trailing blanks is found again by its trimmed text, and a
//    blank-only BewIDN equals ' '. The DDL gives the key columns the same
//    collation so that the five-column index serves the mark.
//  - An empty text is NULL: an empty BewIDN is not delivered, an empty bind
//    value matches no row, an empty BewDat is never old.
//  - Oracle sorts NULL after every value.
//  - ADD_MONTHS is morvask_add_months (see SqliteFunctions.h).
namespace {

constexpr std::array kTable{
    SqliteDialectEntry{
        "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') into :b0  from dual",
        "SELECT strftime('%d.%m.%Y %H:%M:%S','now','localtime')",
        SqliteConn::kWriter,
    },
    SqliteDialectEntry{
        "select BewTID ,BewLID ,BewIDN ,BewSto ,to_char(BewDtm,'yyyymmddhh24miss') "
        ",to_char(BewUhr,'yyyymmddhh24miss') ,BewLfn ,BewArt ,BewTas ,BewEra ,BewKze ,BewBer "
        ",BewErq ,BewKst ,BewQua ,BewSrc ,BewRes  from KELDOMAR.Zkr321Bew where ((BewUkz<>4 or "
        "BewUkz is null ) and BewIDN<>' ') order by BewIdn,BewDtm,BewUhr,BewLfn",
        "SELECT BewTID, BewLID, BewIDN, BewSto, strftime('%Y%m%d%H%M%S',BewDtm), "
        "strftime('%Y%m%d%H%M%S',BewUhr), BewLfn, BewArt, BewTas, BewEra, BewKze, BewBer, "
        "BewErq, BewKst, BewQua, BewSrc, BewRes FROM Zkr321Bew "
        "WHERE (BewUkz<>4 OR BewUkz IS NULL) AND BewIDN<>' ' COLLATE RTRIM "
        "ORDER BY BewIDN COLLATE RTRIM, BewDtm NULLS LAST, BewUhr NULLS LAST, "
        "BewLfn COLLATE RTRIM NULLS LAST",
        SqliteConn::kReader,
    },
    SqliteDialectEntry{
        "update KELDOMAR.Zkr321Bew  set BewUkz=4,BewUdt=SYSTIMESTAMP where ((((BewIDN=:b0 and "
        "BewSto=:b1) and BewDtm=to_date(:b2,'yyyymmddhh24miss')) and "
        "BewUhr=to_date(:b3,'yyyymmddhh24miss')) and BewLfn=:b4)",
        "UPDATE Zkr321Bew SET BewUkz=4, BewUdt=strftime('%Y-%m-%d %H:%M:%f000','now','localtime') "
        "WHERE BewIDN=nullif(?1,'') COLLATE RTRIM AND BewSto=nullif(?2,'') COLLATE RTRIM "
        "AND BewDtm=morvask_to_date(?3) AND BewUhr=morvask_to_date(?4) "
        "AND BewLfn=nullif(?5,'') COLLATE RTRIM",
        SqliteConn::kWriter,
    },
    SqliteDialectEntry{
        "delete  from KELDOMAR.ZKR321BEW  where (BewDat<ADD_MONTHS(SYSDATE,(-3)) and BewUkz=4)",
        "DELETE FROM Zkr321Bew WHERE nullif(BewDat,'')<"
        "morvask_add_months(datetime('now','localtime'),-3) AND BewUkz=4",
        SqliteConn::kWriter,
    },
};

static_assert(kTable.size() == kSqliteDialectSize);

}  // namespace

std::span<const SqliteDialectEntry> SqliteDialectTable() { return kTable; }

int FindSqliteDialect(std::string_view oracle_text) {
  for (size_t i = 0; i < kTable.size(); ++i) {
    if (kTable[i].oracle == oracle_text) return static_cast<int>(i);
  }
  return -1;
}
