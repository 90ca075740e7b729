#!/usr/bin/env bash
# make run: the simulator with three units on a pseudo-terminal, and the monitor on it, in a
# program folder under build/: the windowed program when a display is available (DISPLAY or
# WAYLAND_DISPLAY), the service tesseld otherwise. Closing the window or Ctrl-C stops both.
#   HEADLESS=1 forces the service.
#   PROTOCOL=0|1|2|3 (default 2) chooses the protocol; UNITS (default 1-3) the unit addresses.
set -euo pipefail
cd "$(dirname "$0")/.."

PROTOCOL=${PROTOCOL:-2}
UNITS=${UNITS:-1-3}
HOME_DIR=$PWD/build/run-home
LINK=$HOME_DIR/ttyUPS
mkdir -p "$HOME_DIR/Record"

# Settings: the simulator's line; the event and data logs of earlier runs are kept.
cat > "$HOME_DIR/UserParaIni.ini" <<INI
[CommPort]
ComName=$LINK
BaudRate=9600
Protocol=$PROTOCOL
ReadIntervalTimeout=200
[DataLog]
RecInterval=100
INI

# Device list: one 42-byte record per unit (node index, address, name padded with CR to 40).
: > "$HOME_DIR/Record/TreeNode.dat"
node=0
for addr in $(echo "$UNITS" | tr ',' ' ' | xargs -n1 | while read -r part; do
                if [[ $part == *-* ]]; then seq "${part%-*}" "${part#*-}"; else echo "$part"; fi
              done); do
  name="UPS-$addr"
  printf "\\x$(printf %02x $((node & 255)))\\x$(printf %02x "$addr")%s" "$name" >> "$HOME_DIR/Record/TreeNode.dat"
  for ((i = ${#name}; i < 40; i++)); do printf '\r' >> "$HOME_DIR/Record/TreeNode.dat"; done
  node=$((node + 3))
done

rm -f "$LINK"
build/bin/tessel-sim --protocol "$PROTOCOL" --addr "$UNITS" --link "$LINK" --no-commands \
  > "$HOME_DIR/sim.log" 2>&1 &
SIM=$!
trap 'kill $SIM 2>/dev/null || true; wait $SIM 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "$LINK" ] && break; sleep 0.1; done
[ -e "$LINK" ] || { echo "tessel-sim did not start:"; cat "$HOME_DIR/sim.log"; exit 1; }

echo "tessel-sim: protocol $PROTOCOL, units $UNITS on $LINK (log: $HOME_DIR/sim.log)"
echo "Monitor folder: $HOME_DIR"
if [ -z "${HEADLESS:-}" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  echo "Opening the monitor's window (close it, or Ctrl-C, to stop)"
  build/bin/tessel --home "$HOME_DIR" || true
else
  echo "No display: the service tesseld (Ctrl-C stops it)"
  build/bin/tesseld --home "$HOME_DIR" || true
fi
