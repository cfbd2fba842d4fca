// SqlRun over the Oracle Call Interface. The statement texts run as they
// stand, except a select-into, whose query is taken from a fixed table;
// every host variable is an external STRING of its caller's size.
// Statements execute in the default mode, so nothing is committed until
// kCommit calls the commit.
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/SqlRuntime.h"
#include "db/ora/OraSession.h"
#include "db/ora/OraStatus.h"

using namespace oci;

Sqlca sqlca;

namespace {

// Rows the client fetches per round trip while kFetch hands out one.
constexpr ub4 kPrefetchRows = 500;

// At process end the connection is left to the server, which rolls back the
// work of a connection that ends without a commit. Calling into the client
// from a static destructor is not safe: its own exit handlers may have run.
struct SessionSlot {
  std::optional<OraSession> session;
  ~SessionSlot() {
    if (session) session->Abandon();
  }
};
SessionSlot g_slot;

bool IsString(const SqlHostVar& var, SqlDir dir) {
  if (var.addr == nullptr || var.size < 1 || var.type != kSqlTypeString || var.dir != dir)
    return false;
  // An input text must end within its buffer: the client reads up to the NUL.
  return dir == SqlDir::kOut || std::memchr(var.addr, '\0', static_cast<size_t>(var.size));
}

bool AllStrings(std::span<SqlHostVar> vars, SqlDir dir) {
  for (const SqlHostVar& var : vars)
    if (!IsString(var, dir)) return false;
  return true;
}

std::string_view InText(const SqlHostVar& var) {
  return std::string_view(var.addr, std::strlen(var.addr));
}

const OraText* AsOraText(std::string_view text) {
  return reinterpret_cast<const OraText*>(text.data());
}

// Makes every output a text within its buffer; a NULL column reads empty.
void FinishOutputs(std::span<SqlHostVar> vars, const std::vector<sb2>& indicators) {
  for (size_t i = 0; i < vars.size(); ++i) {
    const bool is_null = indicators[i] == -1;
    if (is_null) vars[i].addr[0] = '\0';
    vars[i].addr[vars[i].size - 1] = '\0';
    if (vars[i].indicator != nullptr) *vars[i].indicator = is_null ? -1 : 0;
  }
}

int32_t DefineOutputs(OraSession& s, OCIStmt* stmt, std::span<SqlHostVar> vars,
                      std::vector<sb2>& indicators) {
  indicators.assign(vars.size(), 0);
  for (size_t i = 0; i < vars.size(); ++i) {
    OCIDefine* define = nullptr;
    const sword rc = Oci().DefineByPos(stmt, &define, s.error.get(), static_cast<ub4>(i + 1),
                                       vars[i].addr, vars[i].size, SQLT_STR, &indicators[i],
                                       nullptr, nullptr, OCI_DEFAULT);
    if (int32_t status = OraStatus(rc, s.error.get()); status != 0) return status;
  }
  return 0;
}

int32_t BindInputs(OraSession& s, OCIStmt* stmt, std::span<SqlHostVar> vars) {
  for (size_t i = 0; i < vars.size(); ++i) {
    OCIBind* bind = nullptr;
    const sword rc = Oci().BindByPos(stmt, &bind, s.error.get(), static_cast<ub4>(i + 1),
                                     vars[i].addr, vars[i].size, SQLT_STR, nullptr, nullptr,
                                     nullptr, 0, nullptr, OCI_DEFAULT);
    if (int32_t status = OraStatus(rc, s.error.get()); status != 0) return status;
  }
  return 0;
}

int32_t Prepare(OraSession& s, std::string_view text, StmtHandle& out) {
  void* stmt = nullptr;
  sword rc = Oci().HandleAlloc(s.env.get(), &stmt, OCI_HTYPE_STMT, 0, nullptr);
  if (rc != OCI_SUCCESS || stmt == nullptr) return kOraErrEnvironment;
  StmtHandle handle(static_cast<OCIStmt*>(stmt));
  rc = Oci().StmtPrepare(handle.get(), s.error.get(), AsOraText(text),
                         static_cast<ub4>(text.size()), OCI_NTV_SYNTAX, OCI_DEFAULT);
  if (int32_t status = OraStatus(rc, s.error.get()); status != 0) return status;
  out = std::move(handle);
  return 0;
}

// The statements with fixed texts run many times in a run (one mark per
// booking): each text is prepared once and its handle kept.
OCIStmt* FixedStatement(OraSession& s, std::string_view text, int32_t& status) {
  status = 0;
  if (auto found = s.fixed.find(text); found != s.fixed.end()) return found->second.get();
  StmtHandle handle;
  status = Prepare(s, text, handle);
  if (status != 0) return nullptr;
  OCIStmt* stmt = handle.get();
  s.fixed.emplace(std::string(text), std::move(handle));
  return stmt;
}

int32_t Execute(OraSession& s, OCIStmt* stmt, ub4 iterations) {
  const sword rc = Oci().StmtExecute(s.logon.get(), stmt, s.error.get(), iterations, 0,
                                     nullptr, nullptr, OCI_DEFAULT);
  return OraStatus(rc, s.error.get());
}

int32_t Connect(const SqlStmt& stmt) {
  if (stmt.vars.size() != 1 || !IsString(stmt.vars[0], SqlDir::kIn)) return kSqlErrBadHostVars;
  // user/password@service: the user ends at the first "/", the service
  // starts after the last "@", the password is what lies between.
  const std::string_view text = InText(stmt.vars[0]);
  const size_t slash = text.find('/');
  const size_t at = text.rfind('@');
  if (slash == std::string_view::npos || at == std::string_view::npos || at < slash)
    return kSqlErrBadConnectText;
  return OpenOraSession(g_slot.session, text.substr(0, slash),
                        text.substr(slash + 1, at - slash - 1), text.substr(at + 1));
}

int32_t PrepareDynamic(OraSession& s, const SqlStmt& stmt) {
  if (stmt.vars.size() != 1 || !IsString(stmt.vars[0], SqlDir::kIn)) return kSqlErrBadHostVars;
  s.dynamic.reset();
  return Prepare(s, InText(stmt.vars[0]), s.dynamic);
}

int32_t ExecuteDynamic(OraSession& s, const SqlStmt& stmt) {
  if (!stmt.vars.empty()) return kSqlErrBadHostVars;
  if (!s.dynamic) return kSqlErrNothingPrepared;
  return Execute(s, s.dynamic.get(), 1);
}

// A select-into text names its outputs in an INTO clause, which is embedded
// SQL, not SQL: a server refuses it. Each known text maps to the query the
// server runs, the same text without its INTO clause; its select list
// delivers the outputs in order, defined as columns 1, 2, ...
struct SelectIntoQuery {
  std::string_view embedded;
  std::string_view query;
};
constexpr std::array<SelectIntoQuery, 1> kSelectIntoQueries = {{
    {"select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss') into :b0  from dual",
     "select TO_CHAR(SYSDATE,'dd.mm.yyyy hh24:mi:ss')  from dual"},
}};

std::string_view QueryOfSelectInto(std::string_view embedded) {
  for (const SelectIntoQuery& known : kSelectIntoQueries)
    if (known.embedded == embedded) return known.query;
  return {};
}

int32_t SelectInto(OraSession& s, const SqlStmt& stmt) {
  if (stmt.vars.empty() || !AllStrings(stmt.vars, SqlDir::kOut)) return kSqlErrBadHostVars;
  // Nothing is guessed: a text not in the table is never sent.
  const std::string_view query = QueryOfSelectInto(stmt.text);
  if (query.empty()) return kSqlErrUnknownStatement;
  int32_t status = 0;
  OCIStmt* handle = FixedStatement(s, query, status);
  if (handle == nullptr) return status;
  std::vector<sb2> indicators;
  if ((status = DefineOutputs(s, handle, stmt.vars, indicators)) != 0) return status;
  // One iteration of a query executes it and fetches its first row.
  status = Execute(s, handle, 1);
  if (status == 0) FinishOutputs(stmt.vars, indicators);
  return status;
}

int32_t OpenCursor(OraSession& s, const SqlStmt& stmt) {
  if (!stmt.vars.empty() || stmt.text.empty()) return kSqlErrBadHostVars;
  s.cursor = OraCursor{};
  StmtHandle handle;
  if (int32_t status = Prepare(s, stmt.text, handle); status != 0) return status;
  ub4 prefetch = kPrefetchRows;
  sword rc = Oci().AttrSet(handle.get(), OCI_HTYPE_STMT, &prefetch, sizeof prefetch,
                           OCI_ATTR_PREFETCH_ROWS, s.error.get());
  if (int32_t status = OraStatus(rc, s.error.get()); status != 0) return status;
  // Zero iterations: the query runs, its rows wait for the fetches.
  if (int32_t status = Execute(s, handle.get(), 0); status != 0) return status;
  s.cursor.text = std::string(stmt.text);
  s.cursor.stmt = std::move(handle);
  return 0;
}

bool IsOpenCursor(const OraSession& s, std::string_view text) {
  return s.cursor.stmt && s.cursor.text == text;
}

int32_t FetchRow(OraSession& s, const SqlStmt& stmt) {
  if (!IsOpenCursor(s, stmt.text)) return kSqlErrCursorNotOpen;
  if (stmt.vars.empty() || !AllStrings(stmt.vars, SqlDir::kOut)) return kSqlErrBadHostVars;
  OraCursor& cursor = s.cursor;

  std::vector<std::pair<char*, int32_t>> buffers;
  for (const SqlHostVar& var : stmt.vars) buffers.emplace_back(var.addr, var.size);
  if (buffers != cursor.defined) {
    cursor.defined.clear();
    if (int32_t status = DefineOutputs(s, cursor.stmt.get(), stmt.vars, cursor.indicators);
        status != 0)
      return status;
    cursor.defined = std::move(buffers);
  }
  const sword rc = Oci().StmtFetch2(cursor.stmt.get(), s.error.get(), 1, OCI_FETCH_NEXT, 0,
                                    OCI_DEFAULT);
  const int32_t status = OraStatus(rc, s.error.get());
  if (status == 0) FinishOutputs(stmt.vars, cursor.indicators);
  return status;
}

int32_t CloseCursor(OraSession& s, const SqlStmt& stmt) {
  if (!stmt.vars.empty()) return kSqlErrBadHostVars;
  if (!IsOpenCursor(s, stmt.text)) return kSqlErrCursorNotOpen;
  s.cursor = OraCursor{};
  return 0;
}

// Update and delete. A statement that changed no row succeeds with no rows
// counted, as on every backend; what that means is the caller's to judge.
int32_t ChangeRows(OraSession& s, const SqlStmt& stmt) {
  if (stmt.text.empty() || !AllStrings(stmt.vars, SqlDir::kIn)) return kSqlErrBadHostVars;
  int32_t status = 0;
  OCIStmt* handle = FixedStatement(s, stmt.text, status);
  if (handle == nullptr) return status;
  if ((status = BindInputs(s, handle, stmt.vars)) != 0) return status;
  status = Execute(s, handle, 1);
  if (status != 0 && status != kSqlNotFound) return status;

  ub4 rows = 0;
  ub4 size = sizeof rows;
  const sword rc = Oci().AttrGet(handle, OCI_HTYPE_STMT, &rows, &size, OCI_ATTR_ROW_COUNT,
                                 s.error.get());
  if (int32_t attr_status = OraStatus(rc, s.error.get()); attr_status != 0) return attr_status;
  sqlca.sqlerrd[2] = static_cast<int32_t>(rows);
  return 0;
}

int32_t Commit(OraSession& s, const SqlStmt& stmt) {
  if (!stmt.vars.empty()) return kSqlErrBadHostVars;
  const sword rc = Oci().TransCommit(s.logon.get(), s.error.get(), OCI_DEFAULT);
  return OraStatus(rc, s.error.get());
}

int32_t Run(const SqlStmt& stmt) {
  if (stmt.kind == SqlKind::kConnect) return Connect(stmt);
  if (!g_slot.session) return kSqlErrNotConnected;
  OraSession& s = *g_slot.session;
  switch (stmt.kind) {
    case SqlKind::kConnect: break;
    case SqlKind::kPrepare: return PrepareDynamic(s, stmt);
    case SqlKind::kExecute: return ExecuteDynamic(s, stmt);
    case SqlKind::kSelectInto: return SelectInto(s, stmt);
    case SqlKind::kOpen: return OpenCursor(s, stmt);
    case SqlKind::kFetch: return FetchRow(s, stmt);
    case SqlKind::kClose: return CloseCursor(s, stmt);
    case SqlKind::kUpdate:
    case SqlKind::kDelete: return ChangeRows(s, stmt);
    case SqlKind::kCommit: return Commit(s, stmt);
  }
  return kSqlErrBadHostVars;
}

}  // namespace

void SqlRun(const SqlStmt& stmt) {
  sqlca.sqlerrd = {};
  sqlca.sqlcode = Run(stmt);
}
