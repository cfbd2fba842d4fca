// How the SQLite backend reports its outcome in sqlca.sqlcode.
//
// Every SQLite failure becomes -(10000 + extended result code), so the code
// can be looked up in SQLite's own list: a missing database file (CANTOPEN,
// 14) is -10014, a database locked by another writer past the busy timeout
// (BUSY, 5) is -10005, a file that is no database (NOTADB, 26) is -10026.
// Conditions that SQLite itself does not see have codes of their own below.
#pragma once

#include <cstdint>

inline constexpr int32_t kSqliteStatusBase = 10000;

inline constexpr int32_t SqliteStatus(int extended_result_code) {
  return -(kSqliteStatusBase + extended_result_code);
}

// The schema switch found no table Zkr321Bew in the database file.
inline constexpr int32_t kSqliteErrNoTable = -2101;
// The cursor was opened after this transaction had changed rows: its
// snapshot could not include them, so it refuses instead of delivering
// rows that are already marked.
inline constexpr int32_t kSqliteErrCursorAfterChange = -2102;
// The database file could not be put into WAL mode, which the read-consistent
// cursor needs (for example a file on a network share).
inline constexpr int32_t kSqliteErrNoWal = -2103;

// How long a statement waits for another process's write lock before it
// fails with SqliteStatus(SQLITE_BUSY). Long enough for a terminal's short
// insert, short enough that a stuck writer does not hang the scheduled run.
inline constexpr int kSqliteBusyTimeoutMs = 5000;
