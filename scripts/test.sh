#!/usr/bin/env bash
# Every test: builds everything, starts a PostgreSQL server of its own, runs
# the test suite under AddressSanitizer and UndefinedBehaviorSanitizer, each
# fuzzer for a bounded time, and last the whole test suite under CTest.
#   FUZZ_SECONDS=N  seconds per fuzz target (default 60; 0 skips fuzzing)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

# A PostgreSQL server of its own for the tests, stopped also when they fail.
pg_dir="$(mktemp -d /tmp/morvask-pg.XXXXXX)"
trap 'bash scripts/pg-test-server.sh stop "$pg_dir"' EXIT
bash scripts/pg-test-server.sh start "$pg_dir"
set -a; . "$pg_dir/pg.env"; set +a

bash scripts/sanitize.sh
fuzz_seconds=${FUZZ_SECONDS:-60}
if [ "$fuzz_seconds" -gt 0 ]; then bash scripts/fuzz.sh "$fuzz_seconds"; fi

ctest --test-dir build --output-on-failure -j"$(nproc)"
