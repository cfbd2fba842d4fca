// Status codes of the PostgreSQL backend.
//
// A statement the server refused gets the negated base-36 value of its
// five-character SQLSTATE (digits 0-9, then A-Z as 10-35): 28P01 (wrong
// password) is -3764881, 3D000 (unknown database) is -5645376. Every such
// code is -139968 (03000) or lower, clear of the layer's own codes (-2001
// and up) and of the codes below, which cover what has no SQLSTATE.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr int32_t kPgErrConnectFailed = -2101;    // no server answered: unknown host, refused
inline constexpr int32_t kPgErrConnectionLost = -2102;   // the connection broke during the run
inline constexpr int32_t kPgErrNoResult = -2103;         // libpq gave no result (out of memory)
inline constexpr int32_t kPgErrUnexpectedResult = -2104; // an answer of a kind the statement cannot give
inline constexpr int32_t kPgErrConnectTimeout = -2105;   // the login took longer than its time limit

// The negative code of a SQLSTATE, or 0 when the text is not five of 0-9, A-Z.
int32_t SqlStateStatus(std::string_view sqlstate);

// The SQLSTATE that ends a libpq message written with PQERRORS_SQLSTATE
// ("...FATAL:  28P01\n"), or an empty view when the message has none.
std::string_view SqlStateInMessage(std::string_view message);
