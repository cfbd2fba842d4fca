// What the PostgreSQL backend offers beyond SqlRun.
#pragma once

#include <cstdint>

// Rows the booking cursor reads from the server per round trip; SqlRun
// still hands them out one per fetch.
inline constexpr int32_t kPgFetchBatch = 1000;

// Ends the connection without a commit: the server rolls the run's work
// back. A run never needs it (the process end does the same); tests and
// benchmarks that log in more than once per process do.
void PgDisconnect();
