#!/usr/bin/env bash
# Installs what is missing and builds everything into build/ (or $RQ735_BUILD_DIR).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${RQ735_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE="${RQ735_BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target ${RQ735_TARGETS:-all}
