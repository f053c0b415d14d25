#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${RQ735_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
cd "$build"
ctest --output-on-failure -j"${RQ735_TEST_JOBS:-2}" --timeout 300
