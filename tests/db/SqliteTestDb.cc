#include "SqliteTestDb.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "db/SQLHlp.h"
#include "db/KortivaneSQL.h"
#include "db/SqlRuntime.h"
#include "tools/bewgen/BookingFiles.h"

Row PendingBooking(const std::string& tid, const std::string& idn, const std::string& uhr,
                   const std::string& lfn) {
  return Row{{"BewTID", tid},        {"BewLID", "L10"},     {"BewIDN", idn},
             {"BewSto", "T10"},      {"BewDtm", uhr.substr(0, 10) + " 00:00:00"},
             {"BewUhr", uhr},        {"BewLfn", lfn},       {"BewArt", "K"},
             {"BewTas", "3"},        {"BewEra", "204"},     {"BewKze", "K"},
             {"BewBer", "1"},        {"BewErq", "7"},       {"BewKst", "Kst 4711"},
             {"BewQua", "00"},       {"BewSrc", "DTA"},     {"BewRes", "R"},
             {"BewDat", uhr}};
}

RawDb::RawDb(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  db_.reset(raw);
  EXPECT_EQ(rc, SQLITE_OK) << path;
  sqlite3_busy_timeout(raw, 5000);
}

int RawDb::Exec(const std::string& sql) {
  return sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr);
}

void RawDb::Insert(const Row& row) {
  std::string columns, marks;
  for (const auto& [name, value] : row) {
    columns += (columns.empty() ? "" : ",") + name;
    marks += marks.empty() ? "?" : ",?";
  }
  std::string sql = "INSERT INTO Zkr321Bew (" + columns + ") VALUES (" + marks + ")";
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db_.get());
  int i = 0;
  for (const auto& [name, value] : row) {
    ++i;
    if (value) sqlite3_bind_text(stmt, i, value->c_str(), -1, SQLITE_TRANSIENT);
  }
  EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE) << sqlite3_errmsg(db_.get());
  sqlite3_finalize(stmt);
}

std::vector<std::vector<Value>> RawDb::Query(const std::string& sql) {
  std::vector<std::vector<Value>> rows;
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db_.get());
  while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<Value> row;
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
      row.push_back(text ? Value(text) : std::nullopt);
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  return rows;
}

std::string RawDb::Scalar(const std::string& sql) {
  auto rows = Query(sql);
  return rows.empty() || rows[0].empty() || !rows[0][0] ? "" : *rows[0][0];
}

TempDb::TempDb() {
  std::string pattern = (std::filesystem::temp_directory_path() / "morvask-db-XXXXXX").string();
  dir_ = mkdtemp(pattern.data());
  std::string error = CreateBookingDatabase(path(), MORVASK_SQLITE_DDL);
  EXPECT_EQ(error, "");
}

TempDb::~TempDb() {
  Disconnect();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

int32_t ConnectTo(const std::string& path) { return SQL_Connect("u", "p", path.c_str(), "KELDOMAR"); }

void Disconnect() {
  // A connect drops the earlier connection before it looks at its text.
  std::array<char, 2> text{"x"};
  std::array<SqlHostVar, 1> vars{
      SqlHostVar{text.data(), 2, SqlDir::kIn, kSqlTypeString, nullptr}};
  SqlRun({SqlKind::kConnect, {}, vars});
}

std::vector<BewRecord> FetchAll(int32_t* end) {
  std::vector<BewRecord> rows;
  BewRecord record;
  int32_t status;
  while ((status = SQL_FetchBew(record)) == 0) rows.push_back(record);
  if (end != nullptr) *end = status;
  return rows;
}
