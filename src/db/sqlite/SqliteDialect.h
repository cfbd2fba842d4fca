// The fixed table from each statement text of the program, as the Oracle
// runtime receives it, to the SQLite statement that gives the same rows, in
// the same order, with the same values. Texts are matched byte for byte;
// nothing is rewritten by pattern.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

enum class SqliteConn {
  kWriter,  // the connection that holds the run's transaction
  kReader,  // the cursor's connection: a snapshot of the last commit
};

struct SqliteDialectEntry {
  std::string_view oracle;
  std::string_view sqlite;
  SqliteConn conn;
};

// The dynamic schema switch is recognised by this prefix alone.
inline constexpr std::string_view kSchemaSwitchPrefix = "ALTER SESSION SET CURRENT_SCHEMA=";

inline constexpr size_t kSqliteDialectSize = 4;

std::span<const SqliteDialectEntry> SqliteDialectTable();

// The index of text in the table, or -1.
int FindSqliteDialect(std::string_view oracle_text);
