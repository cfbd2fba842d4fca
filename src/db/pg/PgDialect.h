// The program's Oracle statement texts and what runs for them on PostgreSQL.
//
// Each known text maps to one statement of the same rows, order and values;
// an unknown text is refused. The schema switch is the one dynamic text and
// is recognised by its prefix.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "db/SqlRuntime.h"

struct PgStatement {
  SqlKind kind;            // kOpen also stands for kFetch and kClose
  std::string_view oracle; // the text the statement modules pass, byte for byte
  std::string_view pg;     // the PostgreSQL statement (the cursor's SELECT)
  const char* name;        // name of the prepared statement
  int inputs;              // in host variables ($1, $2, ...)
  int outputs;             // out host variables (columns)
  size_t index;            // position in the table, for per-connection state
};

inline constexpr size_t kPgStatementCount = 4;

// The statement for kind and text, or nullptr when the table has none.
const PgStatement* FindPgStatement(SqlKind kind, std::string_view oracle);

// For "ALTER SESSION SET CURRENT_SCHEMA=<name>" with <name> an unquoted
// identifier: true and the name as PostgreSQL folds it (lower case).
bool ParseSchemaSwitch(std::string_view text, std::string& schema);

// The table the run works on, looked for in the switched schema.
inline constexpr std::string_view kPgBookingTable = "zkr321bew";
