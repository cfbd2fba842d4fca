#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz (CMake preset "fuzz")
# and runs each for a bounded time.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
# Default 60 seconds per target, every target. Each run starts from the seed
# corpus in fuzz/corpus/<target> and from what earlier runs on this machine
# found (build-fuzz/corpus/<target>); new inputs go there, never into the
# repository. A crash or a violated property stops the script; the input is
# kept as build-fuzz/artifacts/<target>-crash-* and can be replayed with
#   build-fuzz/bin/<target> build-fuzz/artifacts/<target>-crash-...
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(fuzz_settings_lookup fuzz_decrypt fuzz_export_line fuzz_command_line)
fi
jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
started=$SECONDS

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"

for target in "${targets[@]}"; do
  corpus="build-fuzz/corpus/$target"
  mkdir -p "$corpus" build-fuzz/artifacts
  echo "== $target: $seconds s"
  log="build-fuzz/$target.log"
  rc=0
  # -timeout: an input that takes longer than 10 s counts as a hang.
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  "build-fuzz/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" \
    "$corpus" "fuzz/corpus/$target" >"$log" 2>&1 || rc=$?
  grep -E '^(INFO: seed corpus|Done|stat::number_of_executed_units|stat::new_units_added)' "$log" || true
  if [ "$rc" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "fuzz.sh: $target failed (exit $rc); input kept in build-fuzz/artifacts/" >&2
    exit 1
  fi
done
echo "fuzz.sh: $((SECONDS - started)) s"
