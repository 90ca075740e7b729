#!/usr/bin/env bash
# make bench-idle: what the headless monitor costs while it polls, against tessel-sim.
# For each unit count it runs the monitor RUNS times for SECONDS each (after a settle time) and
# prints CPU time per minute, wake-ups per request (context switches of all its threads per frame
# sent) and resident memory; then the minimum and the median of the runs.
#   UNITS="1 16" RUNS=3 SECONDS_PER_RUN=60 PROTOCOL=2 TESSEL=build/bin/tessel
set -euo pipefail
cd "$(dirname "$0")/.."

UNITS=${UNITS:-"1 16"}
RUNS=${RUNS:-3}
SECS=${SECONDS_PER_RUN:-60}
SETTLE=${SETTLE:-5}
PROTOCOL=${PROTOCOL:-2}
TESSEL=${TESSEL:-build/bin/tessel}
SIM=${SIM:-build/bin/tessel-sim}
WORK=$(mktemp -d /tmp/tessel-idle-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$WORK"' EXIT

# CPU nanoseconds and context switches summed over every thread of a process.
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {print s + 0}'; }
switches() {
  cat /proc/"$1"/task/*/status 2>/dev/null |
    awk '/^(voluntary|nonvoluntary)_ctxt_switches/ {s += $2} END {print s + 0}'
}
sent() { grep -cE '^[0-9]+\.[0-9]{3} ' "$1" 2>/dev/null || true; }

median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

for n in $UNITS; do
  home=$WORK/home-$n
  mkdir -p "$home/Record"
  printf '[CommPort]\nComName=%s\nProtocol=%s\n' "$home/tty" "$PROTOCOL" > "$home/UserParaIni.ini"
  : > "$home/Record/TreeNode.dat"
  for ((a = 1; a <= n; a++)); do
    name="UPS-$a"
    printf "\\x00\\x$(printf %02x "$a")%s" "$name" >> "$home/Record/TreeNode.dat"
    for ((i = ${#name}; i < 40; i++)); do printf '\r' >> "$home/Record/TreeNode.dat"; done
  done
  cpu=() wake=() rss=()
  for ((r = 1; r <= RUNS; r++)); do
    rm -f "$home/tty"
    "$SIM" --protocol "$PROTOCOL" --addr "1-$n" --link "$home/tty" --no-commands > "$home/sim.log" 2>&1 &
    sim=$!
    for _ in $(seq 50); do [ -e "$home/tty" ] && break; sleep 0.1; done
    "$TESSEL" --headless --home "$home" > /dev/null &
    mon=$!
    sleep "$SETTLE"
    c0=$(cpu_ns $mon) w0=$(switches $mon) f0=$(sent "$home/sim.log")
    sleep "$SECS"
    c1=$(cpu_ns $mon) w1=$(switches $mon) f1=$(sent "$home/sim.log")
    kb=$(awk '/^VmRSS/ {print $2}' /proc/$mon/status)
    kill -INT $mon; wait $mon 2>/dev/null || true
    kill $sim; wait $sim 2>/dev/null || true
    frames=$((f1 - f0))
    cpu+=("$(awk -v c=$((c1 - c0)) -v s="$SECS" 'BEGIN {printf "%.1f", c / 1e6 * 60 / s}')")
    wake+=("$(awk -v w=$((w1 - w0)) -v f=$frames 'BEGIN {printf "%.2f", f ? w / f : 0}')")
    rss+=("$kb")
    echo "units $n run $r: ${cpu[-1]} ms CPU/min, ${wake[-1]} wake-ups/request ($frames requests), RSS ${kb} kB"
  done
  printf 'units %s: CPU/min min %s median %s ms; wake-ups/request min %s median %s; RSS median %s kB\n' \
    "$n" "$(printf '%s\n' "${cpu[@]}" | sort -n | head -1)" "$(printf '%s\n' "${cpu[@]}" | median)" \
    "$(printf '%s\n' "${wake[@]}" | sort -n | head -1)" "$(printf '%s\n' "${wake[@]}" | median)" \
    "$(printf '%s\n' "${rss[@]}" | median)"
done
