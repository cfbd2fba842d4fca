#include <sqlite3.h>

#include <fstream>
#include <iterator>

#include "Process.h"
#include "TestDatabase.h"

namespace {

class SqliteTestDatabase : public TestDatabase {
 public:
  explicit SqliteTestDatabase(const std::string& run_dir) : path_(run_dir + "/bew.db") {
    sqlite3_open(path_.c_str(), &db_);
    Exec(ReadFile(MORVASK_SOURCE_DIR "/sql/sqlite/zkr321bew.sql"));
  }
  ~SqliteTestDatabase() override { sqlite3_close(db_); }

  std::string Name() const override { return "SQLite"; }
  std::string Executable() const override { return MORVASK_BIN_DIR "/Morvask_SQLITE"; }
  std::string Net8() const override { return "bew.db"; }  // relative to the run folder
  std::string Login() const override { return "zeit"; }
  std::string Password() const override { return "S3cr3t-Pa55"; }

  bool Exec(const std::string& sql) override {
    char* err = nullptr;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
    error_ = err ? err : "";
    sqlite3_free(err);
    return rc == SQLITE_OK;
  }

  std::vector<std::vector<std::string>> Query(const std::string& sql) override {
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      error_ = sqlite3_errmsg(db_);
      return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const auto* text = sqlite3_column_text(stmt, i);
        row.emplace_back(text ? reinterpret_cast<const char*>(text) : kNull);
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rows;
  }

  std::string LastError() const override { return error_; }

  std::string FailMarkSql(const std::string& idn) const override {
    return "CREATE TRIGGER fail_mark BEFORE UPDATE ON Zkr321Bew WHEN old.BewIDN = '" + idn +
           "' BEGIN SELECT RAISE(ABORT, 'mark refused'); END;";
  }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
  std::string error_;
};

}  // namespace

std::unique_ptr<TestDatabase> MakeSqliteTestDatabase(const std::string& run_dir) {
  return std::make_unique<SqliteTestDatabase>(run_dir);
}
