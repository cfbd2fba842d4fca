#include "db/pg/PgConnectText.h"

#include <cstring>

#include "db/SqlRuntime.h"

namespace {

bool IsPort(std::string_view text) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 65535;
}

// "host", "host:port", "[v6addr]" or "[v6addr]:port".
bool SplitHostPort(std::string_view text, PgConnectParts& parts) {
  std::string_view host = text;
  std::string_view port;
  if (!text.empty() && text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    host = text.substr(1, close - 1);
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (!IsPort(port)) return false;
    }
  } else if (size_t colon = text.find(':'); colon != std::string_view::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (!IsPort(port)) return false;
  }
  if (host.empty()) return false;
  parts.host = host;
  parts.port = port;
  return true;
}

}  // namespace

int32_t SplitConnectText(std::string_view text, PgConnectParts& parts) {
  size_t slash = text.find('/');
  size_t at = text.rfind('@');
  if (slash == std::string_view::npos || at == std::string_view::npos || at < slash) {
    return kSqlErrBadConnectText;
  }
  parts.user = text.substr(0, slash);
  parts.password = text.substr(slash + 1, at - slash - 1);

  std::string_view service = text.substr(at + 1);
  size_t db_slash = service.find('/');
  if (db_slash == std::string_view::npos) {
    parts.host.clear();
    parts.port.clear();
    parts.dbname = service;
  } else {
    if (!SplitHostPort(service.substr(0, db_slash), parts)) return kSqlErrBadConnectText;
    parts.dbname = service.substr(db_slash + 1);
  }
  // No defaults: an empty user or service name must not quietly log in as
  // the system user or reach whatever database the environment points at.
  if (parts.user.empty() || parts.dbname.empty() ||
      parts.dbname.find('/') != std::string::npos) {
    return kSqlErrBadConnectText;
  }
  return 0;
}

void WipePassword(PgConnectParts& parts) {
  explicit_bzero(parts.password.data(), parts.password.size());
  parts.password.clear();
}
