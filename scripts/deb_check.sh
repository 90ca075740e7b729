#!/usr/bin/env bash
# make deb-check: the package as a user gets it. lintian finds no error in it; it installs on this
# machine with its dependencies; the installed tessel answers --version without a display, polls
# the installed tessel-sim headless and stops in order on SIGTERM; and its first start for a user
# with no settings makes the program folder in the user's data folder.
set -euo pipefail
cd "$(dirname "$0")/.."

deb=$(ls -t build/tessel_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "no package in build/: run make deb" >&2; exit 1; }
lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs "$deb"

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends --reinstall \
  "./$deb" > /dev/null
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' tessel)"

env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/tessel --version
man -w tessel tessel-sim > /dev/null
if command -v systemd-analyze > /dev/null; then
  systemd-analyze verify /lib/systemd/system/tessel.service
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# One Modbus unit at address 1 on a pseudo-terminal, and a program folder pointing at it.
/usr/bin/tessel-sim --protocol 2 --addr 1 --link "$work/ttyUPS" --no-commands > "$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/ttyUPS" ] && break; sleep 0.1; done
[ -e "$work/ttyUPS" ] || { echo "tessel-sim did not start:"; cat "$work/sim.log"; exit 1; }
home="$work/home"
mkdir -p "$home/Record"
printf '[CommPort]\nComName=%s\nProtocol=2\n' "$work/ttyUPS" > "$home/UserParaIni.ini"
name="UPS-1"
{ printf '\x00\x01%s' "$name"; for ((i = ${#name}; i < 40; i++)); do printf '\r'; done; } \
  > "$home/Record/TreeNode.dat"

env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/tessel --headless --home "$home" > "$work/tessel.log" 2>&1 &
monitor=$!
for _ in $(seq 150); do grep -q "addr=1 fc=4" "$work/sim.log" && break; sleep 0.1; done
sleep 2
kill -TERM "$monitor"
status=0
wait "$monitor" || status=$?
cat "$work/tessel.log"
[ "$status" -eq 0 ] || { echo "the installed monitor ended with status $status" >&2; exit 1; }
grep -q "addr=1 fc=4 reg=30001 count=14 answered" "$work/sim.log" ||
  { echo "the installed monitor did not poll the unit:"; cat "$work/sim.log"; exit 1; } >&2
[ -s "$home/Record/EventLog.dat" ] || { echo "no event log was written" >&2; exit 1; }

# First start of a user with nothing set up: the program folder goes to the user's data folder.
user="$work/user"
mkdir -p "$user"
env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_DATA_HOME -u TESSEL_HOME HOME="$user" \
  /usr/bin/tessel --headless > "$work/first.log" 2>&1 &
first=$!
for _ in $(seq 100); do [ -s "$user/.local/share/tessel/Record/EventLog.dat" ] && break; sleep 0.1; done
kill -TERM "$first"
wait "$first" || { echo "the first start failed:"; cat "$work/first.log"; exit 1; } >&2
[ -s "$user/.local/share/tessel/Record/EventLog.dat" ] ||
  { echo "the first start made no program folder:"; cat "$work/first.log"; exit 1; } >&2
echo "package check passed: $deb"
