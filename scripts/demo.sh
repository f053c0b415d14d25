#!/usr/bin/env bash
# Installs what is missing, builds the program, starts a simulated module on a pseudo-terminal
# and opens the window.
# Pick the simulator's entry (".../rq735-sim-*/module-<pid>") in "Serial Port:", press "Open",
# then "Communication Query".
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${RQ735_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
RQ735_TARGETS="rq735 rq735-sim" "$root/scripts/build.sh"

"$build/rq735-sim" -v &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT
# The program lists the simulator only once it has published its port.
for _ in $(seq 50); do
  [ -e "${XDG_RUNTIME_DIR:-/nonexistent}/rq735-sim/module-$sim" ] || [ -e "/tmp/rq735-sim-$(id -u)/module-$sim" ] && break
  sleep 0.1
done

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting under Xvfb is possible with 'xvfb-run -a $0'." >&2
fi
"$build/rq735"
