#!/usr/bin/env bash
# Builds the program if needed, runs it on a virtual X display and saves pictures of its window:
# docs/screenshot.png (the first page) and docs/screenshot-<page>.png for the other two form pages,
# then opens a simulated module and saves both pages of the monitor window
# (docs/screenshot-monitor-traffic.png, docs/screenshot-monitor-trend.png) and the instrument
# window after a Read (docs/instrument.png). RQ735_SHOT_DIR saves them elsewhere.
# Installs the X tools it uses (Xvfb, xauth, ImageMagick's import, xdotool) when they are missing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
docs="${RQ735_SHOT_DIR:-$root/docs}"

on_display=0
[ "${1:-}" = "--on-display" ] && on_display=1

need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xauth >/dev/null || need+=(xauth)
[ -x /usr/bin/import ] || need+=(imagemagick)
command -v xdotool >/dev/null || need+=(xdotool)
if [ $on_display = 0 ] && [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

if [ $on_display = 0 ]; then
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G "Unix Makefiles" >/dev/null
  fi
  cmake --build "$build" --target rq735 rq735-sim -j2 >/dev/null
  mkdir -p "$docs"
fi

# The part that runs on the virtual display.
shoot() {
  local program=$1 sim_program=$2 docs=$3

  sim_out=$(mktemp)  # global: the EXIT trap removes it
  "$sim_program" --quiet --no-publish >"$sim_out" &
  sim_pid=$!
  LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb "$program" &
  app_pid=$!
  trap 'kill "$app_pid" "$sim_pid" 2>/dev/null || true; rm -f "$sim_out"' EXIT

  local id
  id=$(timeout 20 xdotool search --sync --onlyvisible --name '^RQ735$' | head -n 1)
  if [ -z "$id" ]; then
    echo "screenshot: the window did not appear" >&2
    return 1
  fi
  sleep 1  # let the first paint finish

  # Tab captions of PageControl1, as x offsets inside the window (the tab bar sits at y = 72).
  local -a names=(screenshot screenshot-transparent screenshot-modbus)
  local -a tabs=(80 210 380)
  for i in "${!names[@]}"; do
    xdotool mousemove --window "$id" "${tabs[$i]}" 72 click 1
    sleep 0.5
    /usr/bin/import -silent -window "$id" "png:$docs/${names[$i]}.png"
    echo "saved $docs/${names[$i]}.png"
  done

  # Open the simulated module on the first page (the window's geometry is fixed): its port goes
  # into "Serial Port:", then "Open" and "Communication Query".
  local port
  for _ in $(seq 50); do
    port=$(sed -n 's/^rq735-sim: //p' "$sim_out")
    [ -n "$port" ] && break
    sleep 0.1
  done
  xdotool mousemove --window "$id" "${tabs[0]}" 72 click 1
  xdotool mousemove --window "$id" 560 124 click 1 key --clearmodifiers ctrl+a
  xdotool type --delay 20 "$port"
  xdotool mousemove --window "$id" 510 212 click 1
  sleep 0.5
  xdotool mousemove --window "$id" 630 212 click 1
  sleep 1
  # The instrument's identity ("HART Device Parameter Query"), which command 3 is addressed with.
  xdotool mousemove --window "$id" "${tabs[1]}" 72 click 1
  sleep 0.5
  xdotool mousemove --window "$id" 259 315 click 1
  sleep 1
  xdotool key --window "$id" --clearmodifiers ctrl+m

  local monitor
  monitor=$(timeout 20 xdotool search --sync --onlyvisible --name '^RQ735 Monitor$' | head -n 1)
  if [ -z "$monitor" ]; then
    echo "screenshot: the monitor window did not appear" >&2
    return 1
  fi
  # The trend page, polling every second for a while, then the traffic that polling made.
  xdotool mousemove --window "$monitor" 100 22 click 1
  sleep 0.5
  xdotool mousemove --window "$monitor" 40 52 click 1
  sleep 12
  /usr/bin/import -silent -window "$monitor" "png:$docs/screenshot-monitor-trend.png"
  echo "saved $docs/screenshot-monitor-trend.png"
  xdotool mousemove --window "$monitor" 40 22 click 1
  sleep 0.5
  /usr/bin/import -silent -window "$monitor" "png:$docs/screenshot-monitor-traffic.png"
  echo "saved $docs/screenshot-monitor-traffic.png"

  # The instrument window ("Instrument..." on the "Transparent Mode" page) after "Read".
  xdotool mousemove --window "$id" "${tabs[1]}" 72 click 1
  sleep 0.5
  xdotool mousemove --window "$id" 983 315 click 1
  local instrument
  instrument=$(timeout 20 xdotool search --sync --onlyvisible --name '^RQ735 Instrument$' | head -n 1)
  if [ -z "$instrument" ]; then
    echo "screenshot: the instrument window did not appear" >&2
    return 1
  fi
  # Above the monitor, which has no window manager to give way.
  xdotool windowraise "$instrument"
  sleep 0.5
  xdotool mousemove --window "$instrument" 45 25 click 1
  sleep 4
  /usr/bin/import -silent -window "$instrument" "png:$docs/instrument.png"
  echo "saved $docs/instrument.png"

  kill "$app_pid" "$sim_pid"
  wait "$app_pid" "$sim_pid" 2>/dev/null || true
}

if [ $on_display = 1 ]; then
  shoot "$build/rq735" "$build/rq735-sim" "$docs"
else
  xvfb-run --auto-servernum --server-args="-screen 0 1600x1000x24" "$0" --on-display
fi
