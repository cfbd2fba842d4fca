// A stand-in for the Oracle client library, for tests only. It exports the
// OCI entry points the backend loads, writes one log line per call to the
// file named by MORVASK_FAKE_OCI_LOG, and serves what the script file named
// by MORVASK_FAKE_OCI_SCRIPT says. Script lines, fields separated by tabs:
//
//   row      <v1> <v2> ...     a row of the cursor (a query run with zero
//                              iterations); \N is NULL
//   single   <v1> ...          the row of a query run with one iteration
//                              (select-into); without it: no row
//   error    <where> <ora>     fail with ORA-<ora>; where is logon, commit,
//                              fetch:<n> (the n-th fetch of a cursor),
//                              execute:<text prefix> (every execute of the
//                              statements so starting) or
//                              execute#<n>:<text prefix> (only the n-th)
//   rowcount <text prefix> <n> rows an update or delete changes (default 1)
//
// Where the real client is strict, so is the stand-in: a NULL or too long
// column without an indicator is an error, a statement with unbound
// placeholders fails, a fetch needs an executed query, and a query with an
// INTO clause (embedded SQL, which a server does not take) fails with
// ORA-00905.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "db/ora/OciDecl.h"

using namespace oci;

namespace {

using Row = std::vector<std::optional<std::string>>;

struct Script {
  std::vector<Row> rows;
  std::optional<Row> single;
  std::vector<std::pair<std::string, int32_t>> errors;
  std::vector<std::pair<std::string, ub4>> rowcounts;
};

struct Bind {
  char* addr;
  sb4 size;
  ub2 type;
  bool has_indicator;
};
struct Define {
  char* addr;
  sb4 size;
  ub2 type;
  sb2* indicator;
};

struct Handle {
  ub4 type = 0;
  int id = 0;
  int32_t ora = 0;  // error handles: the last error
  // statement handles
  std::string text;
  bool prepared = false;
  bool executed = false;
  size_t next_row = 0;
  int fetches = 0;
  ub4 row_count = 0;
  std::map<ub4, Bind> binds;
  std::map<ub4, Define> defines;
};

struct State {
  Script script;
  std::map<const void*, std::unique_ptr<Handle>> handles;
  int next_id = 1;
  std::map<std::string, int> executions;  // per statement text, whatever its handle
};

State& S() {
  static State state;
  return state;
}

void Log(const std::string& line) {
  const char* path = std::getenv("MORVASK_FAKE_OCI_LOG");
  if (path == nullptr) return;
  std::ofstream out(path, std::ios::app | std::ios::binary);
  out << line << '\n';
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

Row ParseRow(const std::vector<std::string>& fields) {
  Row row;
  for (size_t i = 1; i < fields.size(); ++i) {
    if (fields[i] == "\\N")
      row.push_back(std::nullopt);
    else
      row.push_back(fields[i]);
  }
  return row;
}

void LoadScript() {
  S().script = Script{};
  const char* path = std::getenv("MORVASK_FAKE_OCI_SCRIPT");
  if (path == nullptr) return;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = SplitTabs(line);
    if (f[0] == "row") S().script.rows.push_back(ParseRow(f));
    if (f[0] == "single") S().script.single = ParseRow(f);
    if (f[0] == "error" && f.size() == 3) S().script.errors.emplace_back(f[1], std::stoi(f[2]));
    if (f[0] == "rowcount" && f.size() == 3)
      S().script.rowcounts.emplace_back(f[1], static_cast<ub4>(std::stoul(f[2])));
  }
}

int32_t ScriptedError(const std::string& where) {
  for (const auto& [place, ora] : S().script.errors)
    if (place == where) return ora;
  return 0;
}

// execution: how many times this text has been executed, this time included.
int32_t ScriptedExecuteError(const std::string& text, int execution) {
  for (const auto& [place, ora] : S().script.errors) {
    if (place.rfind("execute:", 0) == 0 && text.rfind(place.substr(8), 0) == 0) return ora;
    if (place.rfind("execute#", 0) == 0) {
      const size_t colon = place.find(':');
      if (colon == std::string::npos) continue;
      const std::string prefix = place.substr(colon + 1);
      if (std::stoi(place.substr(8, colon - 8)) == execution && text.rfind(prefix, 0) == 0)
        return ora;
    }
  }
  return 0;
}

Handle* H(const void* handle) {
  auto found = S().handles.find(handle);
  return found == S().handles.end() ? nullptr : found->second.get();
}

sword Fail(OCIError* error, int32_t ora) {
  if (Handle* e = H(error)) e->ora = ora;
  Log("  -> ORA-" + std::to_string(ora));
  return OCI_ERROR;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsQuery(const std::string& text) {
  size_t i = text.find_first_not_of(" \t\r\n(");
  if (i == std::string::npos) return false;
  std::string head = text.substr(i, 6);
  for (char& c : head) c = static_cast<char>(c | 0x20);
  return head == "select";
}

// Placeholders :b0, :b1, ... that the statement text names.
size_t PlaceholderCount(const std::string& text) {
  std::set<std::string> names;
  for (size_t i = text.find(':'); i != std::string::npos; i = text.find(':', i + 1)) {
    size_t end = i + 1;
    while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end]))) ++end;
    if (end > i + 1) names.insert(text.substr(i + 1, end - i - 1));
  }
  return names.size();
}

// Writes one column the way the client does for external type STRING.
// Returns 0, or the ORA number of the failure; sets truncated.
int32_t PutColumn(const Define& d, const std::optional<std::string>& value, bool& truncated) {
  if (!value) {
    if (d.indicator == nullptr) return 1405;  // fetched column value is NULL
    *d.indicator = -1;
    return 0;
  }
  const size_t room = static_cast<size_t>(d.size) - 1;
  if (value->size() > room) {
    if (d.indicator == nullptr) return 1406;  // fetched column value was truncated
    *d.indicator = static_cast<sb2>(value->size());
    truncated = true;
  } else if (d.indicator != nullptr) {
    *d.indicator = 0;
  }
  const size_t n = value->size() < room ? value->size() : room;
  std::memcpy(d.addr, value->data(), n);
  d.addr[n] = '\0';
  return 0;
}

sword PutRow(Handle& stmt, OCIError* error, const Row& row) {
  bool truncated = false;
  for (const auto& [pos, define] : stmt.defines) {
    if (pos > row.size()) return Fail(error, 1007);  // variable not in select list
    if (int32_t ora = PutColumn(define, row[pos - 1], truncated); ora != 0)
      return Fail(error, ora);
  }
  if (truncated) {
    if (Handle* e = H(error)) e->ora = 24345;  // a truncation or null fetch error occurred
    return OCI_SUCCESS_WITH_INFO;
  }
  return OCI_SUCCESS;
}

std::string Quote(std::string_view text) { return "[" + std::string(text) + "]"; }

}  // namespace

extern "C" {

sword OCIEnvNlsCreate(OCIEnv** envp, ub4 mode, void*, void* (*)(void*, size_t),
                      void* (*)(void*, void*, size_t), void (*)(void*, void*), size_t, void**,
                      ub2 charset, ub2 ncharset) {
  LoadScript();
  auto env = std::make_unique<Handle>();
  env->type = OCI_HTYPE_ENV;
  *envp = reinterpret_cast<OCIEnv*>(env.get());
  S().handles.emplace(env.get(), std::move(env));
  Log("EnvNlsCreate\tmode=" + std::to_string(mode) + "\tcharset=" + std::to_string(charset) +
      "\tncharset=" + std::to_string(ncharset));
  return OCI_SUCCESS;
}

sword OCIHandleAlloc(const void* parent, void** hndlpp, ub4 type, size_t, void**) {
  if (H(parent) == nullptr) return OCI_INVALID_HANDLE;
  auto handle = std::make_unique<Handle>();
  handle->type = type;
  if (type == OCI_HTYPE_STMT) handle->id = S().next_id++;
  *hndlpp = handle.get();
  Log("HandleAlloc\ttype=" + std::to_string(type) +
      (type == OCI_HTYPE_STMT ? "\tstmt=" + std::to_string(handle->id) : ""));
  S().handles.emplace(handle.get(), std::move(handle));
  return OCI_SUCCESS;
}

sword OCIHandleFree(void* hndlp, ub4 type) {
  Handle* h = H(hndlp);
  if (h == nullptr || h->type != type) {
    Log("HandleFree\ttype=" + std::to_string(type) + "\tINVALID");
    return OCI_INVALID_HANDLE;
  }
  Log("HandleFree\ttype=" + std::to_string(type) +
      (type == OCI_HTYPE_STMT ? "\tstmt=" + std::to_string(h->id) : ""));
  S().handles.erase(hndlp);
  return OCI_SUCCESS;
}

sword OCILogon(OCIEnv* envhp, OCIError* errhp, OCISvcCtx** svchp, const OraText* username,
               ub4 uname_len, const OraText* password, ub4 passwd_len, const OraText* dbname,
               ub4 dbname_len) {
  auto text = [](const OraText* p, ub4 n) {
    return std::string(reinterpret_cast<const char*>(p), n);
  };
  Log("Logon\tuser=" + Quote(text(username, uname_len)) + "\tpassword=" +
      Quote(text(password, passwd_len)) + "\tdb=" + Quote(text(dbname, dbname_len)));
  if (H(envhp) == nullptr || H(errhp) == nullptr) return OCI_INVALID_HANDLE;
  if (int32_t ora = ScriptedError("logon")) return Fail(errhp, ora);
  auto svc = std::make_unique<Handle>();
  svc->type = OCI_HTYPE_SVCCTX;
  *svchp = reinterpret_cast<OCISvcCtx*>(svc.get());
  S().handles.emplace(svc.get(), std::move(svc));
  return OCI_SUCCESS;
}

sword OCILogoff(OCISvcCtx* svchp, OCIError*) {
  Log("Logoff");
  if (H(svchp) == nullptr) return OCI_INVALID_HANDLE;
  S().handles.erase(svchp);
  return OCI_SUCCESS;
}

sword OCIStmtPrepare(OCIStmt* stmtp, OCIError*, const OraText* stmt, ub4 stmt_len, ub4 language,
                     ub4 mode) {
  Handle* h = H(stmtp);
  if (h == nullptr) return OCI_INVALID_HANDLE;
  h->text.assign(reinterpret_cast<const char*>(stmt), stmt_len);
  h->prepared = true;
  h->executed = false;
  h->binds.clear();
  h->defines.clear();
  Log("Prepare\tstmt=" + std::to_string(h->id) + "\tlanguage=" + std::to_string(language) +
      "\tmode=" + std::to_string(mode) + "\ttext=" + h->text);
  return OCI_SUCCESS;
}

sword OCIAttrSet(void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size, ub4 attrtype,
                 OCIError*) {
  Handle* h = H(trgthndlp);
  if (h == nullptr || h->type != trghndltyp) return OCI_INVALID_HANDLE;
  ub4 value = 0;
  if (size == sizeof value) std::memcpy(&value, attributep, sizeof value);
  Log("AttrSet\tstmt=" + std::to_string(h->id) + "\tattr=" + std::to_string(attrtype) +
      "\tvalue=" + std::to_string(value));
  return OCI_SUCCESS;
}

sword OCIAttrGet(const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep,
                 ub4 attrtype, OCIError* errhp) {
  Handle* h = H(trgthndlp);
  if (h == nullptr || h->type != trghndltyp) return OCI_INVALID_HANDLE;
  Log("AttrGet\tstmt=" + std::to_string(h->id) + "\tattr=" + std::to_string(attrtype));
  if (attrtype != OCI_ATTR_ROW_COUNT) return Fail(errhp, 24315);  // illegal attribute type
  std::memcpy(attributep, &h->row_count, sizeof h->row_count);
  if (sizep != nullptr) *sizep = sizeof h->row_count;
  return OCI_SUCCESS;
}

sword OCIBindByPos(OCIStmt* stmtp, OCIBind** bindpp, OCIError*, ub4 position, void* valuep,
                   sb4 value_sz, ub2 dty, void* indp, ub2*, ub2*, ub4, ub4*, ub4 mode) {
  Handle* h = H(stmtp);
  if (h == nullptr) return OCI_INVALID_HANDLE;
  h->binds[position] = Bind{static_cast<char*>(valuep), value_sz, dty, indp != nullptr};
  *bindpp = reinterpret_cast<OCIBind*>(&h->binds[position]);
  Log("Bind\tstmt=" + std::to_string(h->id) + "\tpos=" + std::to_string(position) +
      "\tsize=" + std::to_string(value_sz) + "\ttype=" + std::to_string(dty) +
      "\tind=" + (indp != nullptr ? "yes" : "none") + "\tmode=" + std::to_string(mode));
  return OCI_SUCCESS;
}

sword OCIDefineByPos(OCIStmt* stmtp, OCIDefine** defnpp, OCIError*, ub4 position, void* valuep,
                     sb4 value_sz, ub2 dty, void* indp, ub2*, ub2*, ub4 mode) {
  Handle* h = H(stmtp);
  if (h == nullptr) return OCI_INVALID_HANDLE;
  h->defines[position] =
      Define{static_cast<char*>(valuep), value_sz, dty, static_cast<sb2*>(indp)};
  *defnpp = reinterpret_cast<OCIDefine*>(&h->defines[position]);
  Log("Define\tstmt=" + std::to_string(h->id) + "\tpos=" + std::to_string(position) +
      "\tsize=" + std::to_string(value_sz) + "\ttype=" + std::to_string(dty) +
      "\tind=" + (indp != nullptr ? "yes" : "none") + "\tmode=" + std::to_string(mode));
  return OCI_SUCCESS;
}

sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 rowoff,
                     const OCISnapshot*, OCISnapshot*, ub4 mode) {
  Handle* h = H(stmtp);
  if (h == nullptr || H(svchp) == nullptr || !h->prepared) return OCI_INVALID_HANDLE;
  Log("Execute\tstmt=" + std::to_string(h->id) + "\titers=" + std::to_string(iters) +
      "\trowoff=" + std::to_string(rowoff) + "\tmode=" + std::to_string(mode));
  for (const auto& [pos, bind] : h->binds) {
    // The client reads an input STRING up to its NUL, never past its size.
    const void* nul = std::memchr(bind.addr, '\0', static_cast<size_t>(bind.size));
    const size_t n = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - bind.addr)
                                    : static_cast<size_t>(bind.size);
    Log("BindValue\tstmt=" + std::to_string(h->id) + "\tpos=" + std::to_string(pos) +
        "\tvalue=" + Quote(std::string_view(bind.addr, n)));
  }
  if (int32_t ora = ScriptedExecuteError(h->text, ++S().executions[h->text]))
    return Fail(errhp, ora);

  if (IsQuery(h->text)) {
    // A server parses the text at its first execute; INTO is no SQL.
    if (Lower(h->text).find(" into :") != std::string::npos) return Fail(errhp, 905);
    h->next_row = 0;
    h->fetches = 0;
    h->executed = true;
    if (iters == 0) return OCI_SUCCESS;
    if (!S().script.single) return OCI_NO_DATA;
    return PutRow(*h, errhp, *S().script.single);
  }
  if (iters == 0) return Fail(errhp, 24333);  // zero iteration count
  if (h->binds.size() < PlaceholderCount(h->text)) return Fail(errhp, 1008);  // not all bound
  h->row_count = 0;
  const std::string lower = Lower(h->text);
  if (lower.rfind("update", 0) == 0 || lower.rfind("delete", 0) == 0) {
    h->row_count = 1;
    for (const auto& [prefix, count] : S().script.rowcounts)
      if (h->text.rfind(prefix, 0) == 0) h->row_count = count;
  }
  return OCI_SUCCESS;
}

sword OCIStmtFetch2(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation,
                    sb4 fetchOffset, ub4 mode) {
  Handle* h = H(stmtp);
  if (h == nullptr) return OCI_INVALID_HANDLE;
  Log("Fetch\tstmt=" + std::to_string(h->id) + "\tnrows=" + std::to_string(nrows) +
      "\torientation=" + std::to_string(orientation) + "\toffset=" + std::to_string(fetchOffset) +
      "\tmode=" + std::to_string(mode));
  if (!h->executed) return Fail(errhp, 24338);  // statement handle not executed
  ++h->fetches;
  if (int32_t ora = ScriptedError("fetch:" + std::to_string(h->fetches))) return Fail(errhp, ora);
  if (h->next_row >= S().script.rows.size()) return OCI_NO_DATA;
  return PutRow(*h, errhp, S().script.rows[h->next_row++]);
}

sword OCIErrorGet(void* hndlp, ub4 recordno, OraText*, sb4* errcodep, OraText* bufp, ub4 bufsiz,
                  ub4 type) {
  Handle* h = H(hndlp);
  if (h == nullptr || h->type != type) return OCI_INVALID_HANDLE;
  if (recordno != 1 || h->ora == 0) return OCI_NO_DATA;
  *errcodep = h->ora;
  if (bufp != nullptr && bufsiz > 0)
    std::snprintf(reinterpret_cast<char*>(bufp), bufsiz, "ORA-%05d: scripted error", h->ora);
  return OCI_SUCCESS;
}

sword OCITransCommit(OCISvcCtx* svchp, OCIError* errhp, ub4 flags) {
  Log("Commit\tflags=" + std::to_string(flags));
  if (H(svchp) == nullptr) return OCI_INVALID_HANDLE;
  if (int32_t ora = ScriptedError("commit")) return Fail(errhp, ora);
  return OCI_SUCCESS;
}

sword OCITransRollback(OCISvcCtx* svchp, OCIError*, ub4 flags) {
  Log("Rollback\tflags=" + std::to_string(flags));
  return H(svchp) == nullptr ? OCI_INVALID_HANDLE : OCI_SUCCESS;
}

}  // extern "C"

// The stand-in must take exactly the calls the backend makes.
static_assert(std::is_same_v<decltype(OCIEnvNlsCreate), OCIEnvNlsCreateFn>);
static_assert(std::is_same_v<decltype(OCIHandleAlloc), OCIHandleAllocFn>);
static_assert(std::is_same_v<decltype(OCIHandleFree), OCIHandleFreeFn>);
static_assert(std::is_same_v<decltype(OCILogon), OCILogonFn>);
static_assert(std::is_same_v<decltype(OCILogoff), OCILogoffFn>);
static_assert(std::is_same_v<decltype(OCIStmtPrepare), OCIStmtPrepareFn>);
static_assert(std::is_same_v<decltype(OCIAttrSet), OCIAttrSetFn>);
static_assert(std::is_same_v<decltype(OCIAttrGet), OCIAttrGetFn>);
static_assert(std::is_same_v<decltype(OCIBindByPos), OCIBindByPosFn>);
static_assert(std::is_same_v<decltype(OCIDefineByPos), OCIDefineByPosFn>);
static_assert(std::is_same_v<decltype(OCIStmtExecute), OCIStmtExecuteFn>);
static_assert(std::is_same_v<decltype(OCIStmtFetch2), OCIStmtFetch2Fn>);
static_assert(std::is_same_v<decltype(OCIErrorGet), OCIErrorGetFn>);
static_assert(std::is_same_v<decltype(OCITransCommit), OCITransCommitFn>);
static_assert(std::is_same_v<decltype(OCITransRollback), OCITransRollbackFn>);
