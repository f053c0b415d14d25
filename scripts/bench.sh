#!/usr/bin/env bash
# Builds the program, the simulator and rq735-bench, and runs the benchmark under a virtual X
# server so that both start-up figures are measured. Needs what scripts/install-deps.sh installs
# (the test command runs it), and mbpoll, which it installs. The figures go to standard output, one line each ("name value
# unit"); rq735-bench's options pass through, e.g.
#   scripts/bench.sh --runs 7 --cycles 2000
# Takes about 15 minutes with the defaults (1000 request-reply cycles at about 0.75 s each).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# A Release build of its own, so that the test build in build/ keeps its settings.
build="${RQ735_BENCH_BUILD_DIR:-$root/build-bench}"

# mbpoll, a MODBUS master of Debian's, whose read rq735ctl's is set against.
if ! command -v mbpoll >/dev/null; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends mbpoll >&2
fi

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
