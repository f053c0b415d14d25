#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: once as built normally, then
# once more built with AddressSanitizer and UndefinedBehaviorSanitizer (skip that second run with
# RQ735_SKIP_SANITIZERS=1), and last a short run of every fuzz target (skip it with RQ735_SKIP_FUZZ=1).
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
  RQ735_BUILD_DIR="$build-sanitize" RQ735_BUILD_TYPE=Debug "$root/scripts/build.sh" -DRQ735_SANITIZE=ON \
    -DRQ735_BUILD_BENCH=OFF
  # The 1000 request-reply cycles (7 minutes of waiting on the line) run in the first pass only.
  (cd "$build-sanitize" && ctest --output-on-failure -j"$jobs" --timeout 600 -E '^ManyCycles\.')
fi

if [ "${RQ735_SKIP_FUZZ:-0}" != 1 ]; then
  echo "== Fuzz targets, ${RQ735_FUZZ_SECONDS:-20} s each"
  RQ735_FUZZ_BUILD_DIR="${RQ735_FUZZ_BUILD_DIR:-$build-fuzz}" "$root/scripts/fuzz.sh" "${RQ735_FUZZ_SECONDS:-20}"
fi
