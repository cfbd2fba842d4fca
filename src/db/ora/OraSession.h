// The one connection of the process and the statements that live on it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/ora/OciHandle.h"

struct OraCursor {
  std::string text;  // the query it was opened on; empty when closed
  StmtHandle stmt;
  // One indicator per column, so that every NULL column is seen and emptied.
  std::vector<oci::sb2> indicators;
  // The buffers the columns are defined into; redefined when they change.
  std::vector<std::pair<char*, int32_t>> defined;
};

struct OraSession {
  // Declared in the order of creation; members end in reverse, so the
  // statements are freed before the logoff, and the logoff before the
  // environment.
  EnvHandle env;
  ErrorHandle error;
  OciLogon logon;
  StmtHandle dynamic;  // the dynamic statement prepared last
  std::map<std::string, StmtHandle, std::less<>> fixed;  // prepared once per text
  OraCursor cursor;

  // Lets go of every handle without a call into the client.
  void Abandon();
};

// Loads the client if needed and logs on. On success the session is in
// place and 0 is returned; otherwise the status and no session.
int32_t OpenOraSession(std::optional<OraSession>& session, std::string_view user,
                       std::string_view password, std::string_view service);

// The sqlcode of a client call's return code: 0, kSqlNotFound, or the negated
// ORA number from the error handle.
int32_t OraStatus(oci::sword rc, oci::OCIError* error);
