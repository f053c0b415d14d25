#!/usr/bin/env bash
# Builds the program, the simulator and rq735-bench, and runs the benchmark under a virtual X
# server so that both start-up figures are measured. Needs what scripts/install-deps.sh installs
# (the test command runs it). The figures go to standard output, one line each ("name value
# unit"); rq735-bench's options pass through, e.g.
#   scripts/bench.sh --runs 7 --cycles 2000
# Takes about 15 minutes with the defaults (1000 request-reply cycles at about 0.75 s each).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# A Release build of its own, so that the test build in build/ keeps its settings.
build="${RQ735_BENCH_BUILD_DIR:-$root/build-bench}"

RQ735_BUILD_DIR="$build" RQ735_TARGETS="rq735-bench rq735-sim rq735ctl" RQ735_BUILD_TYPE=Release \
  "$root/scripts/build.sh" -DRQ735_BUILD_BENCH=ON -DRQ735_BUILD_TESTS=OFF >&2
export LC_ALL=C.UTF-8
# Qt wants a private runtime folder; give it one instead of a warning per process.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR="$(mktemp -d)"
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$build/bench/rq735-bench" "$@"
