#!/usr/bin/env bash
# make deb-check: the two packages as a user gets them. lintian finds no error in either; the
# service package's dependencies hold no Qt, X11 or GL library. The service package is installed
# alone (the window's package removed first): the installed tesseld answers --version, polls the
# installed tessel-sim, stops in order on SIGTERM, and on a user's first start makes the program
# folder in the user's data folder; its systemd units verify. Then the window's package is
# installed beside it and answers --version without a display.
set -euo pipefail
cd "$(dirname "$0")/.."

daemon_deb=$(ls -t build/tesseld_*.deb 2>/dev/null | head -1)
window_deb=$(ls -t build/tessel_*.deb 2>/dev/null | head -1)
[ -n "$daemon_deb" ] && [ -n "$window_deb" ] || { echo "no packages in build/: run make deb" >&2; exit 1; }
for deb in "$daemon_deb" "$window_deb"; do
  lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs "$deb"
done

depends=$(dpkg-deb -f "$daemon_deb" Depends)
echo "tesseld depends on: $depends"
if grep -Eiq 'qt|libx|libgl|libegl|libxcb|libxkb|fontconfig|freetype|libwayland' <<< "$depends"; then
  echo "the service package depends on a GUI, X11 or GL library" >&2
  exit 1
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
apt_get() { $SUDO env DEBIAN_FRONTEND=noninteractive apt-get "$@" > /dev/null; }
# The service alone: whatever an earlier check left installed goes first.
apt_get remove -y tessel tesseld 2> /dev/null || true
apt_get install -y --no-install-recommends "./$daemon_deb"
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' tesseld)"
if dpkg-query -W -f='${Status}' tessel 2> /dev/null | grep -q "ok installed"; then
  echo "installing tesseld brought the window's package along" >&2
  exit 1
fi

env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/tesseld --version
man -w tesseld tessel-sim > /dev/null
if command -v systemd-analyze > /dev/null; then
  systemd-analyze verify /lib/systemd/system/tessel.service
  systemd-analyze verify /lib/systemd/system/tessel@line1.service
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

env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/tesseld --home "$home" > "$work/tesseld.log" 2>&1 &
monitor=$!
for _ in $(seq 150); do grep -q "addr=1 fc=4" "$work/sim.log" && break; sleep 0.1; done
sleep 2
kill -TERM "$monitor"
status=0
wait "$monitor" || status=$?
cat "$work/tesseld.log"
[ "$status" -eq 0 ] || { echo "the installed service ended with status $status" >&2; exit 1; }
grep -q "addr=1 fc=4 reg=30001 count=14 answered" "$work/sim.log" ||
  { echo "the installed service did not poll the unit:"; cat "$work/sim.log"; exit 1; } >&2
grep -q "Monitor software is closed" "$work/tesseld.log" ||
  { echo "the installed service did not stop in order" >&2; exit 1; }
[ -s "$home/Record/EventLog.dat" ] || { echo "no event log was written" >&2; exit 1; }

# First start of a user with nothing set up: the program folder goes to the user's data folder.
user="$work/user"
mkdir -p "$user"
env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_DATA_HOME -u TESSEL_HOME HOME="$user" \
  /usr/bin/tesseld > "$work/first.log" 2>&1 &
first=$!
for _ in $(seq 100); do [ -s "$user/.local/share/tessel/Record/EventLog.dat" ] && break; sleep 0.1; done
kill -TERM "$first"
wait "$first" || { echo "the first start failed:"; cat "$work/first.log"; exit 1; } >&2
[ -s "$user/.local/share/tessel/Record/EventLog.dat" ] ||
  { echo "the first start made no program folder:"; cat "$work/first.log"; exit 1; } >&2

# The window's package beside it.
apt_get install -y --no-install-recommends "./$window_deb"
echo "installed: $(dpkg-query -W -f='${Package} ${Version}' tessel)"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM /usr/bin/tessel --version
man -w tessel > /dev/null
echo "package check passed: $daemon_deb $window_deb"
