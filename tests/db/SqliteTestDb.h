// Real SQLite database files for the tests: a fresh file made with the
// shipped DDL in a temporary directory, and a plain second connection to
// look at it from outside the program.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/BewRecord.h"

using Value = std::optional<std::string>;
using Row = std::map<std::string, Value>;  // column name to value; absent is NULL

// A pending booking with every column filled; tests override what they need.
Row PendingBooking(const std::string& tid, const std::string& idn, const std::string& uhr,
                   const std::string& lfn = "1");

class RawDb {
 public:
  explicit RawDb(const std::string& path, int flags = SQLITE_OPEN_READWRITE);
  sqlite3* get() const { return db_.get(); }
  int Exec(const std::string& sql);  // SQLite result code
  void Insert(const Row& row);
  std::vector<std::vector<Value>> Query(const std::string& sql);
  std::string Scalar(const std::string& sql);  // first column of the first row, "" for none

 private:
  struct Closer {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
  };
  std::unique_ptr<sqlite3, Closer> db_;
};

// A temporary directory with a database file "bew.db" made with the DDL.
class TempDb {
 public:
  TempDb();
  ~TempDb();
  const std::filesystem::path& dir() const { return dir_; }
  std::string path() const { return (dir_ / "bew.db").string(); }

 private:
  std::filesystem::path dir_;
};

// Connects through SQL_Connect with user "u", password "p" and path.
int32_t ConnectTo(const std::string& path);
// Ends the backend's connection and its uncommitted work.
void Disconnect();

// Fetches every remaining row of the open cursor; the last status in *end.
std::vector<BewRecord> FetchAll(int32_t* end = nullptr);
