#include "db/pg/PgDialect.h"

#include <array>

namespace {

// Notes that hold for every statement below:
//  - Oracle stores an empty text as NULL. Here a column may hold '', so the
//    cursor skips an empty BewIDN, and an empty bind value is made NULL, which
//    matches nothing, as in Oracle.
//  - The 14-digit key texts become timestamps by PostgreSQL's ISO input
//    ("yyyymmdd hhmmss"), not to_timestamp(), which goes through the session
//    time zone and moves a time in the hour skipped at the change to summer
//    time, so the booking would never be found again.
//  - Keys sort by their bytes (COLLATE "C"), as in SQLite, whatever collation
//    the database was created with.
constexpr std::array<PgStatement, kPgStatementCount> kStatements{{
    {SqlKind::kSelectInto,
     "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') into :b0  from dual",
     "SELECT to_char(localtimestamp(0), 'DD.MM.YYYY HH24:MI:SS')",
     "morvask_sysdate", 0, 1, 0},
    {SqlKind::kOpen,
     "select BewTID ,BewLID ,BewIDN ,BewSto ,to_char(BewDtm,'yyyymmddhh24miss') "
     ",to_char(BewUhr,'yyyymmddhh24miss') ,BewLfn ,BewArt ,BewTas ,BewEra ,BewKze ,BewBer "
     ",BewErq ,BewKst ,BewQua ,BewSrc ,BewRes  from KELDOMAR.Zkr321Bew where ((BewUkz<>4 or "
     "BewUkz is null ) and BewIDN<>' ') order by BewIdn,BewDtm,BewUhr,BewLfn",
     "SELECT bewtid, bewlid, bewidn, bewsto, to_char(bewdtm, 'YYYYMMDDHH24MISS'),"
     " to_char(bewuhr, 'YYYYMMDDHH24MISS'), bewlfn, bewart, bewtas, bewera, bewkze, bewber,"
     " bewerq, bewkst, bewqua, bewsrc, bewres"
     " FROM keldomar.zkr321bew"
     " WHERE (bewukz <> 4 OR bewukz IS NULL) AND bewidn <> ' ' AND bewidn <> ''"
     " ORDER BY bewidn COLLATE \"C\", bewdtm, bewuhr, NULLIF(bewlfn, '') COLLATE \"C\"",
     "morvask_bookings", 0, 17, 1},
    {SqlKind::kUpdate,
     "update KELDOMAR.Zkr321Bew  set BewUkz=4,BewUdt=SYSTIMESTAMP where ((((BewIDN=:b0 and "
     "BewSto=:b1) and BewDtm=to_date(:b2,'yyyymmddhh24miss')) and "
     "BewUhr=to_date(:b3,'yyyymmddhh24miss')) and BewLfn=:b4)",
     // The fetch delivers BewSto and BewLfn without trailing blanks; like
     // blank-padded CHAR columns they must still find their row. BewIDN is
     // compared as stored, so that the index finds the rows by it.
     "UPDATE keldomar.zkr321bew SET bewukz = 4, bewudt = statement_timestamp()"
     " WHERE bewidn = NULLIF($1::text, '') AND rtrim(bewsto, ' ') = NULLIF($2::text, '')"
     " AND bewdtm = overlay(NULLIF($3::text, '') placing ' ' from 9 for 0)::timestamp(0)"
     " AND bewuhr = overlay(NULLIF($4::text, '') placing ' ' from 9 for 0)::timestamp(0)"
     " AND rtrim(bewlfn, ' ') = NULLIF($5::text, '')",
     "morvask_mark", 5, 0, 2},
    {SqlKind::kDelete,
     "delete  from KELDOMAR.ZKR321BEW  where (BewDat<ADD_MONTHS(SYSDATE,(-3)) and BewUkz=4)",
     // Three calendar months back; a day the target month lacks becomes its
     // last day (May 31 gives February 28 or 29).
     "DELETE FROM keldomar.zkr321bew"
     " WHERE bewdat < localtimestamp(0) - interval '3 months' AND bewukz = 4",
     "morvask_purge", 0, 0, 3},
}};

constexpr std::string_view kSchemaSwitchPrefix = "ALTER SESSION SET CURRENT_SCHEMA=";

bool IsCursorKind(SqlKind kind) {
  return kind == SqlKind::kOpen || kind == SqlKind::kFetch || kind == SqlKind::kClose;
}

}  // namespace

const PgStatement* FindPgStatement(SqlKind kind, std::string_view oracle) {
  SqlKind wanted = IsCursorKind(kind) ? SqlKind::kOpen : kind;
  for (const PgStatement& statement : kStatements) {
    if (statement.kind == wanted && statement.oracle == oracle) return &statement;
  }
  return nullptr;
}

bool ParseSchemaSwitch(std::string_view text, std::string& schema) {
  if (!text.starts_with(kSchemaSwitchPrefix)) return false;
  std::string_view name = text.substr(kSchemaSwitchPrefix.size());
  bool starts_with_letter = !name.empty() && ((name.front() >= 'A' && name.front() <= 'Z') ||
                                              (name.front() >= 'a' && name.front() <= 'z'));
  if (!starts_with_letter || name.size() > 63) {
    return false;
  }
  schema.clear();
  for (char c : name) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    bool other = (c >= '0' && c <= '9') || c == '_' || c == '$';
    if (!letter && !other) return false;
    schema.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return true;
}
