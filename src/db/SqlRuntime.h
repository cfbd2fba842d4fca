// The SQL runtime layer: the one entry through which every statement of the
// program runs, and the communications area that reports its outcome.
//
// The statement modules (SQLHlp, KortivaneSQL) describe each statement by its
// kind, its fixed text and its host variables, call SqlRun, and then read
// sqlca.sqlcode. Exactly one backend (SQLite, PostgreSQL or Oracle) implements
// SqlRun in each executable; the choice is made at link time.
//
// Contract every backend keeps:
//  - sqlcode 0 is success, kSqlNotFound (1403) means no row (a fetch past the
//    last row, a select-into without a row), every error is negative. 1403 is
//    never used for an error.
//  - sqlerrd[2] holds the rows an update or delete changed (0 otherwise).
//  - Fixed texts are the program's Oracle texts byte for byte. A backend that
//    speaks another dialect maps each known text to its own statement through
//    a fixed table; an unknown text fails with kSqlErrUnknownStatement.
//  - All statements after a connect form one transaction; only kCommit makes
//    anything durable. A connect while connected drops the old connection and
//    its uncommitted work first.
//  - The cursor is read-consistent as of its open: updates made between
//    fetches never add, drop or change a row it delivers.
//  - Output host variables receive NUL-terminated text cut to size - 1 bytes;
//    a NULL column gives the empty text. Nothing is written past a buffer.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

struct Sqlca {
  int32_t sqlcode = 0;
  std::array<int32_t, 6> sqlerrd{};  // [2]: rows processed by the last statement
};

// The single communications area of the process, owned by the backend.
extern Sqlca sqlca;

inline constexpr int32_t kSqlNotFound = 1403;

// Status codes of the layer itself, shared by every backend.
inline constexpr int32_t kSqlErrUnknownStatement = -2001;  // text not in the dialect table
inline constexpr int32_t kSqlErrNotConnected = -2002;      // statement without a connection
inline constexpr int32_t kSqlErrCursorNotOpen = -2003;     // fetch or close without open
inline constexpr int32_t kSqlErrBadHostVars = -2004;       // host variables do not fit the statement
inline constexpr int32_t kSqlErrNothingPrepared = -2005;   // execute without a prepare
inline constexpr int32_t kSqlErrBadConnectText = -2006;    // connect text without "/" or "@"

// Oracle external type STRING: a NUL-terminated text in a fixed-size buffer.
// It is the only host variable type of the program.
inline constexpr int16_t kSqlTypeString = 5;

enum class SqlKind {
  kConnect,     // in: the connect text "user/password@service"
  kPrepare,     // in: the text of a dynamic statement; prepares it
  kExecute,     // no host variables; runs the statement prepared last
  kSelectInto,  // text fixed; out: the columns of the single row
  kOpen,        // text: the cursor's query; no host variables
  kFetch,       // text: the cursor's query; out: one host variable per column
  kClose,       // text: the cursor's query
  kUpdate,      // text fixed; in: the bind values :b0, :b1, ... in order
  kDelete,      // text fixed; in: the bind values, if any
  kCommit,      // no text, no host variables
};

enum class SqlDir { kIn, kOut };

struct SqlHostVar {
  char* addr;           // the buffer; only read when dir is kIn
  int32_t size;         // buffer size in bytes, terminator included
  SqlDir dir;
  int16_t type;         // kSqlTypeString
  int16_t* indicator;   // set to -1 for NULL, 0 otherwise; may be nullptr
};

struct SqlStmt {
  SqlKind kind;
  std::string_view text;  // the fixed statement text; empty where the kind has none
  std::span<SqlHostVar> vars;
};

// Runs one statement and leaves its outcome in sqlca. Never throws.
void SqlRun(const SqlStmt& stmt);
