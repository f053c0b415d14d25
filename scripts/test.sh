#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: once as built normally, then
# once more built with AddressSanitizer and UndefinedBehaviorSanitizer (skip that second run with
# RQ735_SKIP_SANITIZERS=1).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${RQ735_BUILD_DIR:-$root/build}"
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
jobs="${RQ735_TEST_JOBS:-2}"

"$root/scripts/build.sh"
(cd "$build" && ctest --output-on-failure -j"$jobs" --timeout 300)

if [ "${RQ735_SKIP_SANITIZERS:-0}" != 1 ]; then
  echo "== The suite again, under AddressSanitizer and UndefinedBehaviorSanitizer"
  # Qt keeps some allocations until exit; leak checking stays off until it has its suppressions.
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  RQ735_BUILD_DIR="$build-sanitize" RQ735_BUILD_TYPE=Debug "$root/scripts/build.sh" -DRQ735_SANITIZE=ON
  (cd "$build-sanitize" && ctest --output-on-failure -j"$jobs" --timeout 600)
fi
