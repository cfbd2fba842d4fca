// The connect text "user/password@service" taken apart for libpq.
//
// The user name runs up to the first "/", the service name starts after the
// last "@", the password is everything between (so it may hold "/" and "@").
// The service name has one of three forms:
//   host:port/dbname   TCP to host on port ("[::1]:5433/db" for IPv6)
//   host/dbname        TCP to host on the default port
//   dbname             the local Unix socket
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct PgConnectParts {
  std::string user;
  std::string password;
  std::string host;  // empty: the local socket
  std::string port;  // empty: the default port
  std::string dbname;
};

// 0, or kSqlErrBadConnectText when the text or its service name has none of
// the forms above or the user name is empty; parts is then unspecified.
int32_t SplitConnectText(std::string_view text, PgConnectParts& parts);

// Overwrites the password's bytes before the parts go away.
void WipePassword(PgConnectParts& parts);
