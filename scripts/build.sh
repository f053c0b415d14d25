#!/usr/bin/env bash
# Builds everything into build/ (or $RQ735_BUILD_DIR). Installs nothing: scripts/install-deps.sh
# does that, and the demo and the test command run it first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${RQ735_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${RQ735_BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target ${RQ735_TARGETS:-all}
