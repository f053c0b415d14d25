#!/usr/bin/env bash
# Builds a Release of the program and the simulator in build-deb/ (or $RQ735_DEB_BUILD_DIR) and
# packs them, with the menu entry and the icons, into a .deb there. Prints the package's path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${RQ735_DEB_BUILD_DIR:-$root/build-deb}"
"$root/scripts/install-deps.sh"
# dpkg-shlibdeps works out the package's library dependencies.
if ! command -v dpkg-shlibdeps >/dev/null; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends dpkg-dev
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRQ735_BUILD_TESTS=OFF -DRQ735_BUILD_BENCH=OFF >&2
cmake --build "$build" -j"$(nproc)" --target rq735 rq735-sim rq735_docs >&2
(cd "$build" && cpack -G DEB >&2)
ls -t "$build"/rq735_*.deb | head -n 1
