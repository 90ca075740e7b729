#!/usr/bin/env bash
# make bench-idle: what the running monitor costs while it polls, against tessel-sim.
# For each unit count it runs the service (tesseld), `tessel --headless` and, with WINDOWED=1 (the
# default when Xvfb is there), the windowed program, each RUNS times for SECONDS each (after a
# settle time), and prints CPU time per minute and per request, wake-ups per request (voluntary
# context switches of all its threads, that is the times they went to sleep and were woken, per
# frame sent), registers read per request and resident memory; then the minimum and the median of
# the runs.
# With NUT=1 (the default when running as root) it then measures, the same way and in the same
# run, NUT's generic_modbus driver and upsd polling one tessel-sim Modbus unit at NUT's defaults
# (Debian packages nut-server and nut-modbus, installed here when missing).
# With WINDOWED=1 it also runs the windowed program, its main window shown on Xvfb, on the same
# units after the headless runs of each unit count.
#   UNITS="1 16" RUNS=3 SECONDS_PER_RUN=60 PROTOCOL=2 TESSEL=build/bin/tessel
#   TESSELD=build/bin/tesseld NUT=1 WINDOWED=1
set -euo pipefail
cd "$(dirname "$0")/.."

UNITS=${UNITS:-"1 16"}
RUNS=${RUNS:-3}
SECS=${SECONDS_PER_RUN:-60}
SETTLE=${SETTLE:-5}
PROTOCOL=${PROTOCOL:-2}
TESSEL=${TESSEL:-build/bin/tessel}
TESSELD=${TESSELD:-build/bin/tesseld}
SIM=${SIM:-build/bin/tessel-sim}
WORK=$(mktemp -d /tmp/tessel-idle-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$WORK"' EXIT

# CPU nanoseconds and context switches summed over every thread of a process.
# CPU nanoseconds and context switches summed over every thread of the processes given.
cpu_ns() {
  for p in "$@"; do cat /proc/"$p"/task/*/schedstat 2>/dev/null; done | awk '{s += $1} END {print s + 0}'
}
switches() {
  for p in "$@"; do cat /proc/"$p"/task/*/status 2>/dev/null; done |
    awk '/^voluntary_ctxt_switches/ {s += $2} END {print s + 0}'
}
rss_kb() { for p in "$@"; do awk '/^VmRSS/ {print $2}' /proc/"$p"/status; done | awk '{s += $1} END {print s + 0}'; }
sent() { grep -cE '^[0-9]+\.[0-9]{3} ' "$1" 2>/dev/null || true; }
# Registers asked for per Modbus request in the simulator's log ("count=N" of each request line).
registers() {
  grep -E '^[0-9]+\.[0-9]{3} ' "$1" 2>/dev/null |
    awk '{for (i = 1; i <= NF; i++) if ($i ~ /^count=/) {n++; s += substr($i, 7)}} END {printf "%.1f", n ? s / n : 0}'
}

median() { sort -n | awk '{a[NR] = $1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

# measure LABEL SIMLOG PID...: one run's figures, appended to the arrays cpu, per, wake and rss.
measure() {
  local label=$1 simlog=$2 settle=${SETTLE_FOR:-$SETTLE}
  shift 2
  sleep "$settle"
  local c0 w0 f0 c1 w1 f1 kb frames
  c0=$(cpu_ns "$@") w0=$(switches "$@") f0=$(sent "$simlog")
  sleep "$SECS"
  c1=$(cpu_ns "$@") w1=$(switches "$@") f1=$(sent "$simlog")
  kb=$(rss_kb "$@")
  frames=$((f1 - f0))
  cpu+=("$(awk -v c=$((c1 - c0)) -v s="$SECS" 'BEGIN {printf "%.1f", c / 1e6 * 60 / s}')")
  per+=("$(awk -v c=$((c1 - c0)) -v f=$frames 'BEGIN {printf "%.3f", f ? c / 1e6 / f : 0}')")
  wake+=("$(awk -v w=$((w1 - w0)) -v f=$frames 'BEGIN {printf "%.2f", f ? w / f : 0}')")
  rss+=("$kb")
  echo "$label: ${cpu[-1]} ms CPU/min, ${per[-1]} ms CPU/request, ${wake[-1]} wake-ups/request" \
    "($frames requests in ${SECS} s, $(registers "$simlog") registers each," \
    "$(awk -v w=$((w1 - w0)) -v s="$SECS" 'BEGIN {printf "%.1f", w / s}') wake-ups/s), RSS ${kb} kB"
}

summary() {
  printf '%s: CPU/min min %s median %s ms; CPU/request median %s ms; wake-ups/request min %s median %s; RSS median %s kB\n' \
    "$1" "$(printf '%s\n' "${cpu[@]}" | sort -n | head -1)" "$(printf '%s\n' "${cpu[@]}" | median)" \
    "$(printf '%s\n' "${per[@]}" | median)" \
    "$(printf '%s\n' "${wake[@]}" | sort -n | head -1)" "$(printf '%s\n' "${wake[@]}" | median)" \
    "$(printf '%s\n' "${rss[@]}" | median)"
}

start_sim() {  # start_sim HOME ADDRS PROTOCOL
  rm -f "$1/tty"
  "$SIM" --protocol "$3" --addr "$2" --link "$1/tty" --no-commands > "$1/sim.log" 2>&1 &
  sim=$!
  for _ in $(seq 50); do [ -e "$1/tty" ] && break; sleep 0.1; done
}

# WINDOWED=1 also measures the windowed program, on a virtual display of its own.
WINDOWED=${WINDOWED:-$(command -v Xvfb > /dev/null && echo 1 || echo 0)}
if [ "$WINDOWED" = 1 ]; then
  # Xvfb picks a free display number and writes it to the file.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3> "$WORK/display" > /dev/null 2>&1 &
  for _ in $(seq 50); do [ -s "$WORK/display" ] && break; sleep 0.1; done
  XDISPLAY=:$(tr -d '[:space:]' < "$WORK/display")
fi

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
  for front in "$TESSELD" "$TESSEL --headless"; do
    cpu=() per=() wake=() rss=()
    for ((r = 1; r <= RUNS; r++)); do
      start_sim "$home" "1-$n" "$PROTOCOL"
      $front --home "$home" > /dev/null &
      mon=$!
      measure "$(basename "$front"), $n units, run $r" "$home/sim.log" $mon
      kill -INT $mon; wait $mon 2>/dev/null || true
      kill $sim; wait $sim 2>/dev/null || true
    done
    summary "$(basename "$front"), $n units"
  done
  [ "$WINDOWED" = 1 ] || continue
  # The same units with the main window shown on a virtual display.
  cpu=() per=() wake=() rss=()
  for ((r = 1; r <= RUNS; r++)); do
    start_sim "$home" "1-$n" "$PROTOCOL"
    DISPLAY=$XDISPLAY "$TESSEL" --home "$home" > /dev/null 2>&1 &
    mon=$!
    # Qt's helper threads from the first drawing end 30 s after their last job, and the counts of
    # a thread that ended are gone from /proc: start counting after that.
    SETTLE_FOR=$((SETTLE > 35 ? SETTLE : 35)) measure "tessel windowed, $n units, run $r" "$home/sim.log" $mon
    kill -INT $mon; wait $mon 2>/dev/null || true
    kill $sim; wait $sim 2>/dev/null || true
  done
  summary "tessel windowed, $n units"
done

NUT=${NUT:-$([ "$(id -u)" -eq 0 ] && echo 1 || echo 0)}
[ "$NUT" = 1 ] || exit 0
for p in nut-server nut-modbus; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends nut-server nut-modbus > /dev/null; break; }
done
nut=$WORK/nut
mkdir -p "$nut/etc" "$nut/state"
chmod 777 "$nut/state"
# The driver takes a port for a serial line only when its name starts with /dev/tty.
link=/dev/ttyTesselBench$$
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$WORK"; rm -f "$link"' EXIT
{
  echo "[sim]"
  echo "  driver = generic_modbus"
  echo "  port = $link"
  echo "  rio_slave_id = 1"  # the simulated unit's address
  i=0
  for state in OL OB LB HB RB CHRG DISCHRG; do
    echo "  ${state}_addr = $((30000 + i))"  # the unit's input registers 30001..
    echo "  ${state}_regtype = 2"
    i=$((i + 1))
  done
} > "$nut/etc/ups.conf"
printf 'LISTEN 127.0.0.1 3493\n' > "$nut/etc/upsd.conf"
printf '[bench]\n  password = bench\n  upsmon secondary\n' > "$nut/etc/upsd.users"
printf 'MODE=standalone\n' > "$nut/etc/nut.conf"
export NUT_CONFPATH=$nut/etc NUT_STATEPATH=$nut/state NUT_ALTPIDPATH=$nut/state
cpu=() per=() wake=() rss=()
for ((r = 1; r <= RUNS; r++)); do
  start_sim "$nut" 1 2
  ln -sf "$(readlink -f "$nut/tty")" "$link"
  /lib/nut/generic_modbus -a sim -u root -F > "$nut/driver.log" 2>&1 &
  drv=$!
  sleep 1
  /lib/nut/upsd -F -u root > "$nut/upsd.log" 2>&1 &
  upsd=$!
  measure "NUT generic_modbus + upsd, 1 unit, run $r" "$nut/sim.log" $drv $upsd
  kill $upsd $drv; wait $upsd $drv 2>/dev/null || true
  kill $sim; wait $sim 2>/dev/null || true
done
summary "NUT generic_modbus + upsd, 1 unit"
