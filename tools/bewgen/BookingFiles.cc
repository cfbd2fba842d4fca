#include "tools/bewgen/BookingFiles.h"

#include <sqlite3.h>

#include <fstream>
#include <memory>
#include <sstream>

#include "db/sqlite/SqliteHandles.h"

namespace {

std::string Open(const std::string& path, int flags, DbHandle& db) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  db.reset(raw);
  if (rc != SQLITE_OK) return path + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
  sqlite3_busy_timeout(raw, 5000);
  return "";
}

std::string Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return "";
  std::string error = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return error;
}

void WriteCopyValue(std::FILE* out, const std::optional<std::string>& value) {
  if (!value) {
    std::fputs("\\N", out);
    return;
  }
  for (char c : *value) {
    switch (c) {
      case '\\': std::fputs("\\\\", out); break;
      case '\t': std::fputs("\\t", out); break;
      case '\n': std::fputs("\\n", out); break;
      case '\r': std::fputs("\\r", out); break;
      default: std::fputc(c, out);
    }
  }
}

void WriteCsvValue(std::FILE* out, const std::optional<std::string>& value) {
  if (!value) return;
  std::fputc('"', out);
  for (char c : *value) {
    if (c == '"') std::fputc('"', out);
    std::fputc(c, out);
  }
  std::fputc('"', out);
}

}  // namespace

std::string CreateBookingDatabase(const std::string& path, const std::string& ddl_path) {
  std::ifstream ddl_file(ddl_path);
  if (!ddl_file) return ddl_path + ": cannot read the DDL";
  std::stringstream ddl;
  ddl << ddl_file.rdbuf();
  DbHandle db;
  std::string error = Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, db);
  return error.empty() ? Exec(db.get(), ddl.str()) : error;
}

std::string InsertBookings(const std::string& path, BookingGen& gen, int64_t rows) {
  DbHandle db;
  if (std::string error = Open(path, SQLITE_OPEN_READWRITE, db); !error.empty()) return error;
  std::string sql = "INSERT INTO Zkr321Bew (";
  for (size_t i = 0; i < kBookingColumns.size(); ++i) {
    sql += (i ? "," : "") + std::string(kBookingColumns[i]);
  }
  sql += ") VALUES (";
  for (size_t i = 0; i < kBookingColumns.size(); ++i) sql += i ? ",?" : "?";
  sql += ")";

  if (std::string error = Exec(db.get(), "BEGIN"); !error.empty()) return error;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    return sqlite3_errmsg(db.get());
  }
  StmtHandle insert(raw);
  for (int64_t n = 0; n < rows; ++n) {
    BookingRow row = gen.Next();
    for (size_t i = 0; i < row.values.size(); ++i) {
      const auto& value = row.values[i];
      int column = static_cast<int>(i) + 1;
      if (value) {
        sqlite3_bind_text(insert.get(), column, value->data(), static_cast<int>(value->size()),
                          SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(insert.get(), column);
      }
    }
    if (sqlite3_step(insert.get()) != SQLITE_DONE) return sqlite3_errmsg(db.get());
    sqlite3_reset(insert.get());
  }
  return Exec(db.get(), "COMMIT");
}

void WriteBookingText(std::FILE* out, BookingGen& gen, int64_t rows, BookingTextFormat format) {
  const char separator = format == BookingTextFormat::kCopy ? '\t' : ',';
  if (format == BookingTextFormat::kCsv) {
    for (size_t i = 0; i < kBookingColumns.size(); ++i) {
      if (i) std::fputc(separator, out);
      std::fwrite(kBookingColumns[i].data(), 1, kBookingColumns[i].size(), out);
    }
    std::fputc('\n', out);
  }
  for (int64_t n = 0; n < rows; ++n) {
    BookingRow row = gen.Next();
    for (size_t i = 0; i < row.values.size(); ++i) {
      if (i) std::fputc(separator, out);
      if (format == BookingTextFormat::kCopy) WriteCopyValue(out, row.values[i]);
      else WriteCsvValue(out, row.values[i]);
    }
    std::fputc('\n', out);
  }
}
