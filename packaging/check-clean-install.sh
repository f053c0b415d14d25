#!/usr/bin/env bash
# Checks the .deb the way a field engineer's fresh machine would meet it: builds the package, makes
# a minimal Debian system with debootstrap (kept in build-clean-root/base and copied afresh for each
# check), installs the package there with apt-get, which must bring every library it needs, and then
#   - checks that every library of rq735 and rq735-sim resolves and the menu entry (validated) and the
#     icons are in place,
#   - starts rq735 on an X server inside that system, opens the port of a simulator there and sends
#     "Communication Query" (the simulator's trace must show the answer), and saves a picture of the
#     window to build-clean-root/clean-install.png,
#   - removes the package and checks that none of its files stay behind.
# Needs root (debootstrap and chroot) and Debian's package servers. Besides building the package, takes
# about 1.5 minutes the first time, when the base system is made, and 1 after that.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="${RQ735_CLEAN_ROOT:-$root/build-clean-root}"
. /etc/os-release
suite="${RQ735_SUITE:-${VERSION_CODENAME:-bookworm}}"
# The mirror this machine installs from, so the check needs no other server.
mirror="${RQ735_MIRROR:-$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\/debian\)$/\1/p' \
  /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)}"
mirror="${mirror:-http://deb.debian.org/debian}"

if [ "$(id -u)" -ne 0 ]; then
  echo "check-clean-install: needs root for debootstrap and chroot (try sudo)" >&2
  exit 1
fi
say() { echo "check-clean-install: $*" >&2; }

deb="$("$root/packaging/build-deb.sh")"
say "package $deb"
command -v debootstrap >/dev/null ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >&2

mkdir -p "$work"
if [ ! -f "$work/base/.complete" ]; then
  say "making a minimal $suite system from $mirror"
  rm -rf "$work/base"
  debootstrap --variant=minbase "$suite" "$work/base" "$mirror" >&2
  touch "$work/base/.complete"
fi

trial="$work/trial"
unmount() {
  for m in dev/pts dev proc; do
    mountpoint -q "$trial/$m" && umount -l "$trial/$m"
  done
  return 0
}
trap unmount EXIT
unmount
rm -rf "$trial"
cp -a "$work/base" "$trial"
mount -t proc proc "$trial/proc"
mount --bind /dev "$trial/dev"
mount --bind /dev/pts "$trial/dev/pts"
cp "$deb" "$trial/tmp/rq735.deb"
cp /etc/resolv.conf "$trial/etc/resolv.conf" 2>/dev/null || true

inside() { chroot "$trial" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

before=$(inside dpkg-query -W -f '.\n' | wc -l)
inside apt-get update -qq >&2
say "installing the package with apt-get"
inside apt-get install -y -qq /tmp/rq735.deb >&2
after=$(inside dpkg-query -W -f '.\n' | wc -l)
say "apt-get brought $((after - before - 1)) packages besides rq735"

for program in rq735 rq735-sim; do
  if inside ldd "/usr/bin/$program" | grep -q 'not found'; then
    inside ldd "/usr/bin/$program" | grep 'not found' >&2
    say "FAILED: $program has libraries missing"
    exit 1
  fi
done
for file in /usr/share/applications/rq735.desktop /usr/share/icons/hicolor/scalable/apps/rq735.svg \
            /usr/share/icons/hicolor/48x48/apps/rq735.png /usr/share/bash-completion/completions/rq735ctl; do
  [ -f "$trial$file" ] || { say "FAILED: $file is missing"; exit 1; }
done

say "installed: $(inside rq735 --version), $(inside rq735-sim --version)"

# An X server, the tools to find and picture the window and the menu-entry checker; they come after
# the check that the package alone brought every library.
inside apt-get install -y -qq --no-install-recommends xvfb xauth xdotool imagemagick desktop-file-utils >&2
if ! inside desktop-file-validate /usr/share/applications/rq735.desktop >&2; then
  say "FAILED: the menu entry does not pass desktop-file-validate"
  exit 1
fi
# On an X server inside the system: a simulator, the program, the simulator's port typed into
# "Serial Port:", "Open", then "Communication Query" (places in the window's own coordinates).
cat >"$trial/tmp/talk.sh" <<'EOF'
#!/bin/sh
rq735-sim -v --no-publish >/tmp/sim.log 2>&1 &
sim=$!
rq735 &
app=$!
trap 'kill $app $sim 2>/dev/null' EXIT
id=$(timeout 20 xdotool search --sync --onlyvisible --name '^RQ735$' | head -n 1)
[ -n "$id" ] || exit 1
port=$(sed -n '1s/^rq735-sim: \([^ ]*\).*/\1/p' /tmp/sim.log)
sleep 1
xdotool windowfocus --sync "$id"
xdotool mousemove --window "$id" 560 124 click 1
xdotool key ctrl+a
xdotool type --delay 5 "$port"
xdotool mousemove --window "$id" 507 212 click 1
sleep 0.5
xdotool mousemove --window "$id" 631 212 click 1
sleep 1.5
import -silent -window "$id" png:/tmp/clean-install.png
EOF
chmod +x "$trial/tmp/talk.sh"
if ! inside xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" /tmp/talk.sh; then
  say "FAILED: the window of rq735 did not appear"
  exit 1
fi
cp "$trial/tmp/clean-install.png" "$work/clean-install.png"
sed 's/^/check-clean-install:   /' "$trial/tmp/sim.log" >&2
if ! grep -q '^-> .*QV:' "$trial/tmp/sim.log"; then
  say "FAILED: rq735 did not query the simulator (its trace is above)"
  exit 1
fi
say "rq735 opened the simulator's port and got its answer: $work/clean-install.png"

inside dpkg-query -L rq735 | grep -v '^/usr$\|^/usr/share$' >"$work/files"
inside apt-get remove -y -qq --purge rq735 >&2
left=0
while read -r f; do
  if [ -f "$trial$f" ]; then say "left behind: $f"; left=1; fi
done <"$work/files"
[ $left = 0 ] || { say "FAILED: removing the package left files"; exit 1; }
say "removed cleanly"
say "passed"
