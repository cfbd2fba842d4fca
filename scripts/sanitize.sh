#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer
# in build-asan (CMake preset "asan") and runs it under CTest. Any sanitizer
# report fails the script, also one from a child process (the end-to-end
# tests run the real executables) whose exit code a test does not look at:
# every test's output is kept in build-asan/ctest.log and searched for reports.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
started=$SECONDS

cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"

# exitcode: a report must never look like the program's own exit 1 (success).
export ASAN_OPTIONS="exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="exitcode=86:halt_on_error=1:print_stacktrace=1"

log=build-asan/ctest.log
status=0
ctest --test-dir build-asan -V -j"$jobs" >"$log" 2>&1 || status=$?
sed -n '/tests passed\|tests failed/,$p' "$log"

if grep -nE 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|SUMMARY: UndefinedBehaviorSanitizer' "$log"; then
  echo "sanitize.sh: sanitizer reports above; the whole output is in $log" >&2
  status=1
fi
if [ "$status" -ne 0 ]; then
  echo "sanitize.sh: failed; failing tests' output is in $log" >&2
fi
echo "sanitize.sh: $((SECONDS - started)) s, status $status"
exit "$status"
