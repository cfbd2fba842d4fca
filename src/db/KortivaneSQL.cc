#include "db/KortivaneSQL.h"

#include <array>
#include <cstring>
#include <string_view>

#include "db/SqlRuntime.h"

namespace {

constexpr std::string_view kSysDateText =
    "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') into :b0  from dual";

constexpr std::string_view kBewCursorText =
    "select BewTID ,BewLID ,BewIDN ,BewSto ,to_char(BewDtm,'yyyymmddhh24miss') "
    ",to_char(BewUhr,'yyyymmddhh24miss') ,BewLfn ,BewArt ,BewTas ,BewEra ,BewKze ,BewBer ,BewErq "
    ",BewKst ,BewQua ,BewSrc ,BewRes  from KELDOMAR.Zkr321Bew where ((BewUkz<>4 or BewUkz is "
    "null ) and BewIDN<>' ') order by BewIdn,BewDtm,BewUhr,BewLfn";

constexpr std::string_view kMarkTransferText =
    "update KELDOMAR.Zkr321Bew  set BewUkz=4,BewUdt=SYSTIMESTAMP where ((((BewIDN=:b0 and "
    "BewSto=:b1) and BewDtm=to_date(:b2,'yyyymmddhh24miss')) and "
    "BewUhr=to_date(:b3,'yyyymmddhh24miss')) and BewLfn=:b4)";

constexpr std::string_view kDeleteOldText =
    "delete  from KELDOMAR.ZKR321BEW  where (BewDat<ADD_MONTHS(SYSDATE,(-3)) and BewUkz=4)";

// The server time, empty until a query succeeds.
std::array<char, 20> serverTime{};

// The module's own record: the fetch fills it, the mark takes its key from it.
BewRecord bew{};

// The one indicator all fetched columns share; nobody reads it.
int16_t bewIndicator = 0;

template <size_t N>
SqlHostVar Out(std::array<char, N>& buffer, int16_t* indicator = nullptr) {
  return {buffer.data(), static_cast<int32_t>(N), SqlDir::kOut, kSqlTypeString, indicator};
}

template <size_t N>
SqlHostVar In(std::array<char, N>& buffer) {
  return {buffer.data(), static_cast<int32_t>(N), SqlDir::kIn, kSqlTypeString, nullptr};
}

// The cursor's columns in select order; BewSrc comes before BewRes here.
std::array<SqlHostVar, 17> fetchVars{
    Out(bew.BewTID, &bewIndicator), Out(bew.BewLID, &bewIndicator),
    Out(bew.BewIDN, &bewIndicator), Out(bew.BewSto, &bewIndicator),
    Out(bew.BewDtm, &bewIndicator), Out(bew.BewUhr, &bewIndicator),
    Out(bew.BewLfn, &bewIndicator), Out(bew.BewArt, &bewIndicator),
    Out(bew.BewTas, &bewIndicator), Out(bew.BewEra, &bewIndicator),
    Out(bew.BewKze, &bewIndicator), Out(bew.BewBer, &bewIndicator),
    Out(bew.BewErq, &bewIndicator), Out(bew.BewKst, &bewIndicator),
    Out(bew.BewQua, &bewIndicator), Out(bew.BewSrc, &bewIndicator),
    Out(bew.BewRes, &bewIndicator),
};

std::array<SqlHostVar, 5> markVars{
    In(bew.BewIDN), In(bew.BewSto), In(bew.BewDtm), In(bew.BewUhr), In(bew.BewLfn),
};

void TrimFetchedFields() {
  for (char* field : {bew.BewTID.data(), bew.BewLID.data(), bew.BewIDN.data(), bew.BewSto.data(),
                      bew.BewLfn.data(), bew.BewArt.data(), bew.BewTas.data(), bew.BewEra.data(),
                      bew.BewKze.data(), bew.BewBer.data(), bew.BewErq.data(), bew.BewKst.data(),
                      bew.BewQua.data(), bew.BewSrc.data(), bew.BewRes.data()}) {
    TrimRight(field);
  }
}

}  // namespace

int32_t SQL_GetSysDate(char* out) {
  std::array<SqlHostVar, 1> vars{Out(serverTime)};
  SqlRun({SqlKind::kSelectInto, kSysDateText, vars});
  std::memcpy(out, serverTime.data(), serverTime.size());
  return sqlca.sqlcode;
}

int32_t SQL_OpenBew() {
  SqlRun({SqlKind::kOpen, kBewCursorText, {}});
  return sqlca.sqlcode;
}

int32_t SQL_FetchBew(BewRecord& booking) {
  bew = BewRecord{};
  SqlRun({SqlKind::kFetch, kBewCursorText, fetchVars});
  TrimFetchedFields();
  booking = bew;
  return sqlca.sqlcode;
}

int32_t SQL_CloseBew() {
  SqlRun({SqlKind::kClose, kBewCursorText, {}});
  return sqlca.sqlcode;
}

// An update that changed no row leaves the booking pending while the run
// believes it handed over; it is reported as "no row" instead of success.
int32_t SQL_MarkTranfer(const BewRecord& booking) {
  bew = booking;
  if (bew.BewIDN[0] == '\0') std::strcpy(bew.BewIDN.data(), " ");
  SqlRun({SqlKind::kUpdate, kMarkTransferText, markVars});
  if (sqlca.sqlcode == 0 && sqlca.sqlerrd[2] == 0) return kSqlNotFound;
  return sqlca.sqlcode;
}

int32_t SQL_DeleteOld() {
  SqlRun({SqlKind::kDelete, kDeleteOldText, {}});
  return sqlca.sqlcode;
}
