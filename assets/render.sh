#!/usr/bin/env bash
# Renders the SVG sources in this folder into the JPEG pictures the window shows. The build uses the
# committed JPEGs; run this only after editing an SVG. Installs the Debian tools it uses when missing.
set -euo pipefail
cd "$(dirname "$0")"

need=()
command -v rsvg-convert >/dev/null || need+=(librsvg2-bin)
command -v cjpeg >/dev/null || need+=(libjpeg-turbo-progs)
command -v pngtopnm >/dev/null || need+=(netpbm)
command -v fc-match >/dev/null || need+=(fontconfig)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" fonts-dejavu-core
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# name  width  height  quality
while read -r name width height quality; do
  rsvg-convert --width "$width" --height "$height" --background-color white \
    --format png --output "$tmp/$name.png" "$name.svg"
  # cjpeg reads PPM, not PNG
  pngtopnm -mix -background white "$tmp/$name.png" >"$tmp/$name.ppm"
  cjpeg -quality "$quality" -optimize -outfile "$name.jpg" "$tmp/$name.ppm"
  echo "$name.jpg: ${width}x${height}"
done <<'LIST'
logo 210 82 92
wiring_two_wire 1040 390 88
wiring_four_wire 1040 390 88
LIST
