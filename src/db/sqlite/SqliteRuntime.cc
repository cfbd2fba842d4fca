// The SQL runtime layer on SQLite.
//
// NET8 is the path of the database file. The connection that runs the
// program's statements (the writer) opens the existing file, never creates
// one, and holds one BEGIN IMMEDIATE transaction from the connect to the
// commit. The booking cursor steps on a second, read-only connection: in WAL
// mode its statement reads the snapshot taken when it was opened, so the
// writer's marks between fetches neither add, drop nor change a row it
// delivers, and the rows stream without being gathered in memory.
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "db/SqlRuntime.h"
#include "db/sqlite/SqliteDialect.h"
#include "db/sqlite/SqliteFunctions.h"
#include "db/sqlite/SqliteHandles.h"
#include "db/sqlite/SqliteStatus.h"

Sqlca sqlca;

namespace {

struct Session {
  DbHandle writer;
  DbHandle reader;
  std::array<StmtHandle, kSqliteDialectSize> prepared;  // by dialect index, prepared on first use
  sqlite3_int64 changes_at_begin = 0;
  bool schema_prepared = false;
  int cursor = -1;  // dialect index of the open cursor
  bool row_pending = false;  // the open stepped to the first row already
  bool rows_done = false;
};

Session session;

void Disconnect() {
  for (auto& stmt : session.prepared) stmt.reset();  // statements before their connections
  session.reader.reset();
  session.writer.reset();
  session = Session{};
}

int32_t Failure(sqlite3* db, int rc) {
  return SqliteStatus(db != nullptr ? sqlite3_extended_errcode(db) : rc);
}

int32_t Exec(sqlite3* db, const char* sql) {
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? 0 : Failure(db, rc);
}

int32_t OpenDatabase(const std::string& path, int flags, DbHandle& out) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  out.reset(raw);
  if (rc != SQLITE_OK) return Failure(raw, rc);
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, kSqliteBusyTimeoutMs);
  return 0;
}

// The cursor needs WAL mode; the mode is a property of the file and stays.
int32_t EnsureWal(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, "PRAGMA journal_mode=WAL", -1, &raw, nullptr);
  StmtHandle stmt(raw);
  if (rc != SQLITE_OK) return Failure(db, rc);
  rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) return Failure(db, rc);
  const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
  return mode != nullptr && std::strcmp(mode, "wal") == 0 ? 0 : kSqliteErrNoWal;
}

bool IsString(const SqlHostVar& var, SqlDir dir) {
  return var.addr != nullptr && var.size > 0 && var.type == kSqlTypeString && var.dir == dir;
}

bool IsTerminatedInput(const SqlHostVar& var) {
  return IsString(var, SqlDir::kIn) && std::memchr(var.addr, '\0', var.size) != nullptr;
}

// Splits "user/password@service": the user ends at the first "/", the
// service begins after the last "@". Only the service is kept.
int32_t Connect(std::span<SqlHostVar> vars) {
  Disconnect();  // drops an earlier connection and its uncommitted work
  if (vars.size() != 1 || !IsTerminatedInput(vars[0])) return kSqlErrBadHostVars;
  std::string_view text(vars[0].addr);
  size_t slash = text.find('/');
  size_t at = text.rfind('@');
  if (slash == std::string_view::npos || at == std::string_view::npos || at < slash) {
    return kSqlErrBadConnectText;
  }
  std::string path(text.substr(at + 1));
  if (path.empty()) return SqliteStatus(SQLITE_CANTOPEN);  // SQLite would make a temporary one

  int32_t status = OpenDatabase(path, SQLITE_OPEN_READWRITE, session.writer);
  if (status == 0 && RegisterSqliteFunctions(session.writer.get()) != SQLITE_OK) {
    status = Failure(session.writer.get(), SQLITE_ERROR);
  }
  if (status == 0) status = EnsureWal(session.writer.get());
  if (status == 0) status = Exec(session.writer.get(), "BEGIN IMMEDIATE");
  if (status == 0) status = OpenDatabase(path, SQLITE_OPEN_READONLY, session.reader);
  if (status != 0) {
    Disconnect();
    return status;
  }
  session.changes_at_begin = sqlite3_total_changes64(session.writer.get());
  return 0;
}

int32_t Prepare(std::span<SqlHostVar> vars) {
  session.schema_prepared = false;
  if (vars.size() != 1 || !IsTerminatedInput(vars[0])) return kSqlErrBadHostVars;
  if (!std::string_view(vars[0].addr).starts_with(kSchemaSwitchPrefix)) {
    return kSqlErrUnknownStatement;
  }
  session.schema_prepared = true;
  return 0;
}

// The schema switch: SQLite has no schemas, so it only proves the table is there.
int32_t ExecuteSchemaSwitch() {
  if (!session.schema_prepared) return kSqlErrNothingPrepared;
  sqlite3* db = session.writer.get();
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(
      db, "SELECT 1 FROM sqlite_schema WHERE type='table' AND name='Zkr321Bew' COLLATE NOCASE",
      -1, &raw, nullptr);
  StmtHandle stmt(raw);
  if (rc != SQLITE_OK) return Failure(db, rc);
  rc = sqlite3_step(stmt.get());
  if (rc == SQLITE_ROW) return 0;
  return rc == SQLITE_DONE ? kSqliteErrNoTable : Failure(db, rc);
}

sqlite3* ConnectionOf(const SqliteDialectEntry& entry) {
  return entry.conn == SqliteConn::kWriter ? session.writer.get() : session.reader.get();
}

// The prepared statement for a known text and connection, or a status.
int32_t Statement(std::string_view text, SqliteConn conn, int& index, sqlite3_stmt*& stmt) {
  index = FindSqliteDialect(text);
  if (index < 0) return kSqlErrUnknownStatement;
  const SqliteDialectEntry& entry = SqliteDialectTable()[index];
  if (entry.conn != conn) return kSqlErrUnknownStatement;
  StmtHandle& slot = session.prepared[index];
  if (!slot) {
    sqlite3* db = ConnectionOf(entry);
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v3(db, entry.sqlite.data(), static_cast<int>(entry.sqlite.size()),
                                SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    slot.reset(raw);
    if (rc != SQLITE_OK) return Failure(db, rc);
  }
  stmt = slot.get();
  return 0;
}

// Binds the input variables in order to ?1, ?2, ... and checks that the
// output variables match the columns.
int32_t BindVars(sqlite3_stmt* stmt, std::span<SqlHostVar> vars) {
  int in = 0, out = 0;
  for (const SqlHostVar& var : vars) {
    if (var.dir == SqlDir::kOut) {
      if (!IsString(var, SqlDir::kOut)) return kSqlErrBadHostVars;
      ++out;
      continue;
    }
    if (!IsTerminatedInput(var)) return kSqlErrBadHostVars;
    if (++in > sqlite3_bind_parameter_count(stmt)) return kSqlErrBadHostVars;
    // The caller's buffer outlives the step; clear_bindings drops it after.
    sqlite3_bind_text(stmt, in, var.addr, static_cast<int>(std::strlen(var.addr)), SQLITE_STATIC);
  }
  if (in != sqlite3_bind_parameter_count(stmt)) return kSqlErrBadHostVars;
  if (out != 0 && out != sqlite3_column_count(stmt)) return kSqlErrBadHostVars;
  return 0;
}

// Copies the current row into the output variables, each cut to its buffer.
void CopyRow(sqlite3_stmt* stmt, std::span<SqlHostVar> vars) {
  int column = 0;
  for (SqlHostVar& var : vars) {
    if (var.dir != SqlDir::kOut) continue;
    const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    size_t length = value != nullptr ? static_cast<size_t>(sqlite3_column_bytes(stmt, column)) : 0;
    length = std::min(length, static_cast<size_t>(var.size) - 1);
    if (length > 0) std::memcpy(var.addr, value, length);
    var.addr[length] = '\0';
    if (var.indicator != nullptr) *var.indicator = value != nullptr ? 0 : -1;
    ++column;
  }
}

struct ResetOnExit {
  sqlite3_stmt* stmt;
  ~ResetOnExit() {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
  }
};

int32_t SelectInto(const SqlStmt& s) {
  int index = -1;
  sqlite3_stmt* stmt = nullptr;
  if (int32_t status = Statement(s.text, SqliteConn::kWriter, index, stmt)) return status;
  ResetOnExit reset{stmt};
  if (int32_t status = BindVars(stmt, s.vars)) return status;
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) return kSqlNotFound;
  if (rc != SQLITE_ROW) return Failure(session.writer.get(), rc);
  CopyRow(stmt, s.vars);
  return 0;
}

int32_t Change(const SqlStmt& s) {
  int index = -1;
  sqlite3_stmt* stmt = nullptr;
  if (int32_t status = Statement(s.text, SqliteConn::kWriter, index, stmt)) return status;
  ResetOnExit reset{stmt};
  if (int32_t status = BindVars(stmt, s.vars)) return status;
  if (sqlite3_column_count(stmt) != 0) return kSqlErrUnknownStatement;
  int rc = sqlite3_step(stmt);
  if (rc != SQLITE_DONE) return Failure(session.writer.get(), rc);
  sqlca.sqlerrd[2] = sqlite3_changes(session.writer.get());
  return 0;
}

void EndCursor() {
  if (session.cursor >= 0) sqlite3_reset(session.prepared[session.cursor].get());
  session.cursor = -1;
  session.row_pending = false;
  session.rows_done = false;
}

// Steps once at the open, so that the snapshot is the open's, not the first fetch's.
int32_t OpenCursor(const SqlStmt& s) {
  EndCursor();
  int index = -1;
  sqlite3_stmt* stmt = nullptr;
  if (int32_t status = Statement(s.text, SqliteConn::kReader, index, stmt)) return status;
  if (!s.vars.empty()) return kSqlErrBadHostVars;
  if (sqlite3_total_changes64(session.writer.get()) != session.changes_at_begin) {
    return kSqliteErrCursorAfterChange;
  }
  int rc = sqlite3_step(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    sqlite3_reset(stmt);
    return Failure(session.reader.get(), rc);
  }
  session.cursor = index;
  session.row_pending = rc == SQLITE_ROW;
  session.rows_done = rc == SQLITE_DONE;
  return 0;
}

int32_t Fetch(const SqlStmt& s) {
  int index = FindSqliteDialect(s.text);
  if (session.cursor < 0 || index != session.cursor) return kSqlErrCursorNotOpen;
  sqlite3_stmt* stmt = session.prepared[index].get();
  if (int32_t status = BindVars(stmt, s.vars)) return status;
  if (session.rows_done) return kSqlNotFound;
  if (!session.row_pending) {
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) {
      session.rows_done = true;
      return kSqlNotFound;
    }
    if (rc != SQLITE_ROW) {
      session.rows_done = true;  // SQLite cannot go on after a failed step
      return Failure(session.reader.get(), rc);
    }
  }
  session.row_pending = false;
  CopyRow(stmt, s.vars);
  return 0;
}

int32_t CloseCursor(const SqlStmt& s) {
  if (session.cursor < 0 || FindSqliteDialect(s.text) != session.cursor) {
    return kSqlErrCursorNotOpen;
  }
  EndCursor();  // the reset ends the snapshot
  return 0;
}

// Commits the one transaction and ends the session; no statement follows.
// When COMMIT fails, closing the connection rolls the work back.
int32_t Commit() {
  EndCursor();
  int32_t status = Exec(session.writer.get(), "COMMIT");
  Disconnect();
  return status;
}

int32_t Dispatch(const SqlStmt& s) {
  if (s.kind == SqlKind::kConnect) return Connect(s.vars);
  if (!session.writer) return kSqlErrNotConnected;
  switch (s.kind) {
    case SqlKind::kPrepare: return Prepare(s.vars);
    case SqlKind::kExecute: return s.vars.empty() ? ExecuteSchemaSwitch() : kSqlErrBadHostVars;
    case SqlKind::kSelectInto: return SelectInto(s);
    case SqlKind::kOpen: return OpenCursor(s);
    case SqlKind::kFetch: return Fetch(s);
    case SqlKind::kClose: return CloseCursor(s);
    case SqlKind::kUpdate:
    case SqlKind::kDelete: return Change(s);
    case SqlKind::kCommit: return Commit();
    case SqlKind::kConnect: break;
  }
  return kSqlErrUnknownStatement;
}

}  // namespace

void SqlRun(const SqlStmt& stmt) {
  sqlca.sqlerrd = {};
  sqlca.sqlcode = Dispatch(stmt);
}
