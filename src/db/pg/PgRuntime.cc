// SqlRun on PostgreSQL through libpq.
//
// One connection, one explicit transaction from the login to kCommit (the
// server would otherwise commit each statement by itself). Statements are
// prepared once per connection. The booking cursor is a server-side cursor
// declared in the run's transaction: PostgreSQL cursors see the data as of
// their DECLARE, so the marks made between fetches never change what it
// delivers. It is read in batches and handed out one row per kFetch.
//
// A failed statement would abort the server's whole transaction, so that one
// refused mark made every later statement fail and the commit roll back the
// run. The mark and the purge therefore run inside a savepoint each and a
// failure undoes only that statement, as a statement-level rollback would.
#include <libpq-fe.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string>

#include "db/SqlRuntime.h"
#include "db/pg/PgConnectText.h"
#include "db/pg/PgConnection.h"
#include "db/pg/PgDialect.h"
#include "db/pg/PgRuntime.h"
#include "db/pg/PgStatus.h"

Sqlca sqlca;

namespace {

constexpr int kMaxInputs = 8;
constexpr const char* kDeclareCursor = "DECLARE morvask_bew NO SCROLL CURSOR FOR ";
constexpr const char* kFetchBatch = "FETCH 1000 FROM morvask_bew";
constexpr const char* kCloseCursor = "CLOSE morvask_bew";
constexpr const char* kSavepoint = "SAVEPOINT morvask_statement";
constexpr const char* kRelease = "RELEASE SAVEPOINT morvask_statement";
constexpr const char* kUndo =
    "ROLLBACK TO SAVEPOINT morvask_statement; RELEASE SAVEPOINT morvask_statement";
static_assert(kPgFetchBatch == 1000, "kFetchBatch names the batch size");

struct Session {
  PgConn conn;
  std::array<bool, kPgStatementCount> prepared{};
  bool schema_prepared = false;
  std::string schema;  // of the schema switch prepared last
  bool cursor_open = false;
  bool cursor_drained = false;  // the server holds no further row
  PgResult batch;
  int batch_row = 0;
};

Session session;

// The text of an in host variable: up to its terminator, never past its buffer.
std::string_view InText(const SqlHostVar& var) {
  return {var.addr, strnlen(var.addr, static_cast<size_t>(var.size))};
}

bool VarsFit(std::span<SqlHostVar> vars, SqlDir dir, int count) {
  if (vars.size() != static_cast<size_t>(count)) return false;
  return std::all_of(vars.begin(), vars.end(), [dir](const SqlHostVar& var) {
    return var.addr != nullptr && var.size >= 1 && var.dir == dir && var.type == kSqlTypeString;
  });
}

// Copies one row into the out host variables, each cut to its buffer.
void CopyRow(const PGresult* result, int row, std::span<SqlHostVar> vars) {
  for (size_t i = 0; i < vars.size(); ++i) {
    SqlHostVar& var = vars[i];
    int column = static_cast<int>(i);
    bool null = PQgetisnull(result, row, column) != 0;
    size_t length = null ? 0 : static_cast<size_t>(PQgetlength(result, row, column));
    length = std::min(length, static_cast<size_t>(var.size) - 1);
    if (length > 0) std::memcpy(var.addr, PQgetvalue(result, row, column), length);
    var.addr[length] = '\0';
    if (var.indicator != nullptr) *var.indicator = null ? -1 : 0;
  }
}

// Runs a statement text that needs no parameters; 0 when it ended as want.
int32_t Exec(const char* sql, ExecStatusType want, PgResult* out = nullptr) {
  PgResult result(PQexec(session.conn.get(), sql));
  if (PQresultStatus(result.get()) != want) return PgFailureStatus(session.conn.get(), result.get());
  if (out != nullptr) *out = std::move(result);
  return 0;
}

int32_t EnsureTransaction() {
  if (PQtransactionStatus(session.conn.get()) != PQTRANS_IDLE) return 0;
  return Exec("BEGIN", PGRES_COMMAND_OK);
}

int32_t EnsurePrepared(const PgStatement& statement) {
  if (session.prepared[statement.index]) return 0;
  std::string text(statement.pg);
  PgResult result(PQprepare(session.conn.get(), statement.name, text.c_str(), statement.inputs,
                            nullptr));
  if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
    return PgFailureStatus(session.conn.get(), result.get());
  }
  session.prepared[statement.index] = true;
  return 0;
}

// The in host variables as libpq's parameter values; texts owns the bytes.
using InValues = std::array<const char*, kMaxInputs>;
InValues BindValues(std::span<SqlHostVar> in, std::array<std::string, kMaxInputs>& texts) {
  InValues values{};
  for (size_t i = 0; i < in.size(); ++i) {
    texts[i] = InText(in[i]);
    values[i] = texts[i].c_str();
  }
  return values;
}

int32_t ExecPrepared(const PgStatement& statement, std::span<SqlHostVar> in, ExecStatusType want,
                     PgResult& out) {
  if (int32_t status = EnsurePrepared(statement); status != 0) return status;
  std::array<std::string, kMaxInputs> texts;
  InValues values = BindValues(in, texts);
  PgResult result(PQexecPrepared(session.conn.get(), statement.name, statement.inputs,
                                 values.data(), nullptr, nullptr, 0));
  if (PQresultStatus(result.get()) != want) return PgFailureStatus(session.conn.get(), result.get());
  out = std::move(result);
  return 0;
}

// The last result of the next query in the pipeline; empty when the
// connection broke before it came.
PgResult NextPipelineResult(PGconn* conn) {
  PgResult last;
  while (PGresult* raw = PQgetResult(conn)) last.reset(raw);
  return last;
}

// Reads what is left up to the pipeline's sync. Two empty answers in a row
// mean nothing more will come (a broken connection), so this never waits
// for an answer that cannot arrive.
void DrainToSync(PGconn* conn) {
  for (int empty = 0; empty < 2;) {
    PgResult result(PQgetResult(conn));
    if (!result) {
      ++empty;
      continue;
    }
    empty = 0;
    if (PQresultStatus(result.get()) == PGRES_PIPELINE_SYNC) return;
  }
}

bool Succeeded(const PgResult& result) {
  return PQresultStatus(result.get()) == PGRES_COMMAND_OK;
}

// Runs a prepared data-changing statement inside a savepoint of its own.
// SAVEPOINT, the statement and RELEASE travel in one pipeline, so the guard
// adds no round trip; only a failure pays a second one to roll back to the
// savepoint, which leaves the run's earlier work and its open cursor (declared
// before the savepoint) as they were.
int32_t ExecGuarded(const PgStatement& statement, const InValues& values, PgResult& out) {
  PGconn* conn = session.conn.get();
  if (PQenterPipelineMode(conn) != 1) return PgFailureStatus(conn, nullptr);
  bool sent =
      PQsendQueryParams(conn, kSavepoint, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1 &&
      PQsendQueryPrepared(conn, statement.name, statement.inputs, values.data(), nullptr, nullptr,
                          0) == 1 &&
      PQsendQueryParams(conn, kRelease, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
  if (PQpipelineSync(conn) != 1) sent = false;
  std::array<PgResult, 3> results;  // savepoint, statement, release
  if (sent) {
    for (PgResult& result : results) result = NextPipelineResult(conn);
  }
  DrainToSync(conn);
  PQexitPipelineMode(conn);
  if (!sent) return PgFailureStatus(conn, nullptr);
  // Without its savepoint the statement never ran: nothing to undo.
  if (!Succeeded(results[0])) return PgFailureStatus(conn, results[0].get());
  if (Succeeded(results[1]) && Succeeded(results[2])) {
    out = std::move(results[1]);
    return 0;
  }
  const PgResult& failed = Succeeded(results[1]) ? results[2] : results[1];
  int32_t status = PgFailureStatus(conn, failed.get());
  // Should the undo fail too, the transaction stays aborted and the commit
  // reports it: nothing half-done is ever committed.
  if (PQstatus(conn) != CONNECTION_BAD) Exec(kUndo, PGRES_COMMAND_OK);
  return status;
}

int32_t RowsChanged(const PGresult* result) {
  std::string_view tuples = PQcmdTuples(const_cast<PGresult*>(result));
  int32_t rows = 0;
  std::from_chars(tuples.data(), tuples.data() + tuples.size(), rows);
  return rows;
}

int32_t Connect(const SqlStmt& stmt) {
  session = Session{};  // a connect while connected drops the old one and its work
  if (!VarsFit(stmt.vars, SqlDir::kIn, 1)) return kSqlErrBadHostVars;
  PgConnectParts parts;
  int32_t status = SplitConnectText(InText(stmt.vars[0]), parts);
  if (status == 0) status = PgLogin(parts, session.conn);
  WipePassword(parts);
  if (status == 0) status = EnsureTransaction();
  if (status != 0) session = Session{};
  return status;
}

int32_t PrepareSchemaSwitch(const SqlStmt& stmt) {
  // The dynamic text travels as the one in host variable.
  std::string_view text = stmt.text;
  if (!stmt.vars.empty()) {
    if (!VarsFit(stmt.vars, SqlDir::kIn, 1)) return kSqlErrBadHostVars;
    text = InText(stmt.vars[0]);
  }
  session.schema_prepared = ParseSchemaSwitch(text, session.schema);
  return session.schema_prepared ? 0 : kSqlErrUnknownStatement;
}

// The search path becomes the schema; it succeeds only when the schema holds
// the booking table, as Oracle's switch would make every later statement
// fail otherwise.
int32_t ExecuteSchemaSwitch() {
  if (!session.schema_prepared) return kSqlErrNothingPrepared;
  if (int32_t status = EnsureTransaction(); status != 0) return status;
  std::string table = session.schema + "." + std::string(kPgBookingTable);
  std::array<const char*, 2> values{session.schema.c_str(), table.c_str()};
  PgResult result(PQexecParams(session.conn.get(),
                               "SELECT set_config('search_path', $1, false),"
                               " to_regnamespace($1) IS NOT NULL, to_regclass($2) IS NOT NULL",
                               2, nullptr, values.data(), nullptr, nullptr, 0));
  if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1) {
    return PgFailureStatus(session.conn.get(), result.get());
  }
  if (*PQgetvalue(result.get(), 0, 1) != 't') return SqlStateStatus("3F000");  // no such schema
  if (*PQgetvalue(result.get(), 0, 2) != 't') return SqlStateStatus("42P01");  // no such table
  return 0;
}

int32_t SelectInto(const PgStatement& statement, const SqlStmt& stmt) {
  if (!VarsFit(stmt.vars, SqlDir::kOut, statement.outputs)) return kSqlErrBadHostVars;
  if (int32_t status = EnsureTransaction(); status != 0) return status;
  PgResult result;
  if (int32_t status = ExecPrepared(statement, {}, PGRES_TUPLES_OK, result); status != 0) {
    return status;
  }
  if (PQntuples(result.get()) == 0) return kSqlNotFound;
  CopyRow(result.get(), 0, stmt.vars);
  return 0;
}

int32_t CloseCursor() {
  if (!session.cursor_open) return kSqlErrCursorNotOpen;
  session.cursor_open = false;
  session.batch.reset();
  return Exec(kCloseCursor, PGRES_COMMAND_OK);
}

int32_t OpenCursor(const PgStatement& statement, const SqlStmt& stmt) {
  if (!stmt.vars.empty()) return kSqlErrBadHostVars;
  if (int32_t status = EnsureTransaction(); status != 0) return status;
  if (session.cursor_open) {
    if (int32_t status = CloseCursor(); status != 0) return status;
  }
  std::string declare = kDeclareCursor + std::string(statement.pg);
  if (int32_t status = Exec(declare.c_str(), PGRES_COMMAND_OK); status != 0) return status;
  session.cursor_open = true;
  session.cursor_drained = false;
  session.batch.reset();
  session.batch_row = 0;
  return 0;
}

int32_t FetchCursor(const PgStatement& statement, const SqlStmt& stmt) {
  if (!VarsFit(stmt.vars, SqlDir::kOut, statement.outputs)) return kSqlErrBadHostVars;
  if (!session.cursor_open) return kSqlErrCursorNotOpen;
  if (!session.batch || session.batch_row >= PQntuples(session.batch.get())) {
    session.batch.reset();
    if (session.cursor_drained) return kSqlNotFound;
    if (int32_t status = Exec(kFetchBatch, PGRES_TUPLES_OK, &session.batch); status != 0) {
      return status;
    }
    session.batch_row = 0;
    int rows = PQntuples(session.batch.get());
    // A short batch is the last one: no round trip to learn that.
    session.cursor_drained = rows < kPgFetchBatch;
    if (rows == 0) return kSqlNotFound;
    if (PQnfields(session.batch.get()) != statement.outputs) return kPgErrUnexpectedResult;
  }
  CopyRow(session.batch.get(), session.batch_row++, stmt.vars);
  return 0;
}

int32_t Change(const PgStatement& statement, const SqlStmt& stmt) {
  if (!VarsFit(stmt.vars, SqlDir::kIn, statement.inputs)) return kSqlErrBadHostVars;
  if (int32_t status = EnsureTransaction(); status != 0) return status;
  if (int32_t status = EnsurePrepared(statement); status != 0) return status;
  std::array<std::string, kMaxInputs> texts;
  InValues values = BindValues(stmt.vars, texts);
  PgResult result;
  if (int32_t status = ExecGuarded(statement, values, result); status != 0) return status;
  sqlca.sqlerrd[2] = RowsChanged(result.get());
  return 0;
}

int32_t Commit(const SqlStmt& stmt) {
  if (!stmt.vars.empty()) return kSqlErrBadHostVars;
  if (int32_t status = EnsureTransaction(); status != 0) return status;
  session.cursor_open = false;  // a commit closes the cursor
  session.batch.reset();
  PgResult result;
  if (int32_t status = Exec("COMMIT", PGRES_COMMAND_OK, &result); status != 0) return status;
  // COMMIT in a transaction that an error has aborted succeeds as a command
  // but rolls back: that must not read as success.
  if (std::strcmp(PQcmdStatus(result.get()), "COMMIT") != 0) return SqlStateStatus("25P02");
  return 0;
}

int32_t Run(const SqlStmt& stmt) {
  if (stmt.kind == SqlKind::kConnect) return Connect(stmt);
  if (!session.conn) return kSqlErrNotConnected;
  switch (stmt.kind) {
    case SqlKind::kPrepare:
      return PrepareSchemaSwitch(stmt);
    case SqlKind::kExecute:
      return ExecuteSchemaSwitch();
    case SqlKind::kCommit:
      return Commit(stmt);
    default:
      break;
  }
  const PgStatement* statement = FindPgStatement(stmt.kind, stmt.text);
  if (statement == nullptr) return kSqlErrUnknownStatement;
  switch (stmt.kind) {
    case SqlKind::kSelectInto:
      return SelectInto(*statement, stmt);
    case SqlKind::kOpen:
      return OpenCursor(*statement, stmt);
    case SqlKind::kFetch:
      return FetchCursor(*statement, stmt);
    case SqlKind::kClose:
      return CloseCursor();
    case SqlKind::kUpdate:
    case SqlKind::kDelete:
      return Change(*statement, stmt);
    default:
      return kSqlErrUnknownStatement;
  }
}

}  // namespace

void SqlRun(const SqlStmt& stmt) {
  sqlca.sqlcode = 0;
  sqlca.sqlerrd[2] = 0;
  sqlca.sqlcode = Run(stmt);
}

void PgDisconnect() { session = Session{}; }
