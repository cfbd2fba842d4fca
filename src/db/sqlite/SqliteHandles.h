// Owners of SQLite connections and prepared statements.
#pragma once

#include <sqlite3.h>

#include <memory>

struct SqliteDbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct SqliteStmtFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

using DbHandle = std::unique_ptr<sqlite3, SqliteDbCloser>;
using StmtHandle = std::unique_ptr<sqlite3_stmt, SqliteStmtFinalizer>;
