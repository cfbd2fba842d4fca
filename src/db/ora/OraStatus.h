// Status codes of the Oracle backend's own, for failures that happen before
// the client library can report an ORA number. Every other error of this
// backend is the negated ORA number; see docs/oracle.md.
#pragma once

#include <cstdint>

// The client library could not be loaded (not installed, not on the loader's
// search path, or MORVASK_OCI_LIB names a file that is not there).
inline constexpr int32_t kOraErrClientNotLoaded = -2101;
// A library was loaded but lacks an OCI entry point: not an Oracle client.
inline constexpr int32_t kOraErrClientIncomplete = -2102;
// The client could not create its environment (no ORA number exists yet).
inline constexpr int32_t kOraErrEnvironment = -2103;
// A client call failed without leaving an ORA number in its error handle.
inline constexpr int32_t kOraErrNoOraNumber = -2104;
