#include "db/SQLHlp.h"

#include <string.h>  // explicit_bzero

#include <array>
#include <initializer_list>
#include <string_view>

#include "db/SqlRuntime.h"

namespace {

// The statement text buffer: first the connect text, then the schema statement.
std::array<char, 101> stmtText{};

constexpr std::string_view kSchemaStatement = "ALTER SESSION SET CURRENT_SCHEMA=";

// Writes the parts one after another into stmtText; false when they do not fit.
bool BuildText(std::initializer_list<std::string_view> parts) {
  size_t length = 0;
  for (std::string_view part : parts) length += part.size();
  if (length >= stmtText.size()) return false;
  size_t pos = 0;
  for (std::string_view part : parts) {
    part.copy(stmtText.data() + pos, part.size());
    pos += part.size();
  }
  stmtText[pos] = '\0';
  return true;
}

SqlHostVar TextIn() {
  return {stmtText.data(), static_cast<int32_t>(stmtText.size()), SqlDir::kIn, kSqlTypeString,
          nullptr};
}

}  // namespace

int32_t SQL_Connect(const char* user, const char* password, const char* service,
                    const char* schema) {
  // An over-long connect text is refused whole: a cut one would log in with
  // a wrong password or to a wrong service.
  if (!BuildText({user, "/", password, "@", service})) {
    explicit_bzero(stmtText.data(), stmtText.size());
    return kSqlErrConnectTextTooLong;
  }
  std::array<SqlHostVar, 1> connectVars{TextIn()};
  SqlRun({SqlKind::kConnect, {}, connectVars});
  explicit_bzero(stmtText.data(), stmtText.size());  // it held the password
  if (sqlca.sqlcode != 0) return sqlca.sqlcode;

  if (!BuildText({kSchemaStatement, schema})) return kSqlErrConnectTextTooLong;
  std::array<SqlHostVar, 1> prepareVars{TextIn()};
  SqlRun({SqlKind::kPrepare, {}, prepareVars});
  SqlRun({SqlKind::kExecute, {}, {}});
  return sqlca.sqlcode;
}

int32_t SQL_Commit() {
  SqlRun({SqlKind::kCommit, {}, {}});
  return sqlca.sqlcode == 0 ? 1 : 0;
}
