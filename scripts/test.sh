#!/usr/bin/env bash
# Builds everything and runs every test under CTest.
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

ctest --test-dir build --output-on-failure -j"$(nproc)"
