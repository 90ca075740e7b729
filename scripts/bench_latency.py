#!/usr/bin/env python3
"""make bench-latency: how soon the monitor knows that a unit went on battery.

tessel-sim plays the units on a pseudo-terminal at 9600 bit/s with --line-time, so that every
answer comes only after the time its request and itself take on a real line. At random moments
the bench tells the simulator that one unit's mains failed ("set N state = battery ...") and
measures the time from that switch to
  (a) the on-battery event, as tessel --headless prints it when it is logged, and
  (b) ups.status reading OB through the network UPS server (the protocol upsc speaks, polled
      every 10 ms over one connection; upsc itself confirms the first OB of every run).
Then the mains returns ("unset N") and the unit is used again once it reads OL.

Every combination of PROTOCOLS, UNITS and MODES runs once: the fixed cadence ("default") and fast
polling ("fast"). The fixed cadence re-reads a unit's state only every 5.2 s (Modbus) or 6.5 s
(ASCII) per unit on the bus, so there several units are switched at once (their polls do not
depend on each other) and the run lasts DEFAULT_SECONDS; fast polling switches one unit at a time,
TRIALS times. Beside the figures it prints the bus time one state round of all units needs at
9600 bit/s: the physical limit.

  PROTOCOLS="2 0" UNITS="16 3" MODES="default fast" TRIALS=40 DEFAULT_SECONDS=120
  TESSEL=build/bin/tessel SIM=build/bin/tessel-sim SEED=1
"""

import os
import random
import re
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TESSEL = os.environ.get("TESSEL", os.path.join(ROOT, "build/bin/tessel"))
SIM = os.environ.get("SIM", os.path.join(ROOT, "build/bin/tessel-sim"))
PROTOCOLS = [int(p) for p in os.environ.get("PROTOCOLS", "2 0").split()]
UNITS = [int(u) for u in os.environ.get("UNITS", "16 3").split()]
MODES = os.environ.get("MODES", "default fast").split()
TRIALS = int(os.environ.get("TRIALS", "40"))
DEFAULT_SECONDS = float(os.environ.get("DEFAULT_SECONDS", "120"))
BAUD = 9600
CHAR = 10.0 / BAUD  # start bit, 8 data bits, 1 stop bit
GAP = 3.5 * CHAR  # the line's silence between two frames

SCENARIO = ("0 state = online in_a = 230 in_b = 230 in_c = 230 out_a = 230 out_b = 230 out_c = 230\n"
            "  freq = 50 load_a = 40 batt_capa = 100 batt_time = 60 batt_vp = 270 batt_vn = 270\n")
MAINS_FAIL = "state = battery in_a = 0 in_b = 0 in_c = 0"


def percentile(values, p):
    s = sorted(values)
    if not s:
        return float("nan")
    k = (len(s) - 1) * p / 100.0
    lo, hi = int(k), min(int(k) + 1, len(s) - 1)
    return s[lo] + (s[hi] - s[lo]) * (k - lo)


def ascii_request(ver, addr, cid2):
    head = "~%02X%02X2A%02X0000" % (ver, addr, cid2)
    total = sum(ord(c) for c in head[1:])
    return head + "%04X" % ((~total + 1) & 0xFFFF) + "\r"


def probe_ascii_answers(home):
    """Lengths of the status and alarm answers of protocol 0, asked of a simulator directly."""
    link = os.path.join(home, "probe-tty")
    scen = os.path.join(home, "online.txt")
    sim = subprocess.Popen([SIM, "--protocol", "0", "--addr", "1", "--link", link, "--no-noise",
                            "--no-commands", "--scenario", scen],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            if os.path.exists(link):
                break
            time.sleep(0.05)
        fd = os.open(link, os.O_RDWR | os.O_NOCTTY)
        subprocess.run(["stty", "-F", link, "raw", "-echo"], check=False)
        lengths = []
        for cid2 in (0x43, 0x44):
            os.write(fd, ascii_request(0x31, 1, cid2).encode())
            got = b""
            end = time.monotonic() + 3
            while not got.endswith(b"\r") and time.monotonic() < end:
                r, _, _ = select.select([fd], [], [], 0.2)
                if r:
                    got += os.read(fd, 4096)
            lengths.append(len(got))
        os.close(fd)
        return lengths
    finally:
        sim.terminate()
        sim.wait()


def state_round_seconds(protocol, units, ascii_answers):
    """Bus time of one round of state requests over all units: request, gap, answer, gap."""
    if protocol in (2, 3):
        per_unit = (8 + 5 + 2 * 11) * CHAR + 2 * GAP  # 30081: eleven registers
    else:
        per_unit = sum(18 * CHAR + n * CHAR + 2 * GAP for n in ascii_answers)
    return units * per_unit


class Monitor:
    """tessel --headless with its output read line by line, each line stamped on arrival."""

    def __init__(self, home):
        self.proc = subprocess.Popen([TESSEL, "--headless", "--home", home], stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True, bufsize=1)
        self.lines = []
        self.lock = threading.Lock()
        self.port = None
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            now = time.monotonic()
            with self.lock:
                self.lines.append((now, line.rstrip("\n")))
            m = re.search(r"NUT server listening on 127\.0\.0\.1:(\d+)", line)
            if m:
                self.port = int(m.group(1))

    def battery_event_after(self, addr, t0):
        pat = re.compile(r"\s%d\s+Battery Status$" % addr)
        with self.lock:
            for at, text in self.lines:
                if at >= t0 and pat.search(text):
                    return at
        return None

    def stop(self):
        self.proc.send_signal(2)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class NutStatus:
    """ups.status of every unit, read again and again over one connection to the server."""

    def __init__(self, port, units):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.file = self.sock.makefile("rw", newline="\n")
        self.units = units

    def read_all(self):
        out = {}
        for a in self.units:
            self.file.write("GET VAR ups%d ups.status\n" % a)
        self.file.flush()
        for a in self.units:
            line = self.file.readline().strip()
            m = re.match(r'VAR ups(\d+) ups\.status "(.*)"', line)
            if m:
                out[int(m.group(1))] = m.group(2)
        return out

    def close(self):
        self.sock.close()


def upsc_status(port, addr):
    r = subprocess.run(["upsc", "ups%d@127.0.0.1:%d" % (addr, port), "ups.status"],
                       capture_output=True, text=True)
    return r.stdout.strip()


def write_home(home, protocol, units, fast):
    os.makedirs(os.path.join(home, "Record"), exist_ok=True)
    with open(os.path.join(home, "UserParaIni.ini"), "w") as f:
        f.write("[CommPort]\nComName=%s\nBaudRate=%d\nProtocol=%d\nReadIntervalTimeout=200\n"
                "FastPoll=%d\n[CommMast]\nMaxReSend=2\n[DataLog]\nRecInterval=600\n"
                "[NutServer]\nEnabled=1\nListen=127.0.0.1\nPort=0\n"
                % (os.path.join(home, "tty"), BAUD, protocol, 1 if fast else 0))
    with open(os.path.join(home, "Record", "TreeNode.dat"), "wb") as f:
        for a in range(1, units + 1):
            name = ("UPS-%d" % a).encode()
            f.write(b"\x00" + bytes([a]) + name + b"\r" * (40 - len(name)))
    with open(os.path.join(home, "online.txt"), "w") as f:
        f.write(SCENARIO)


def run(protocol, units, mode, rng):
    fast = mode == "fast"
    home = tempfile.mkdtemp(prefix="tessel-latency-")
    write_home(home, protocol, units, fast)
    link = os.path.join(home, "tty")
    sim = subprocess.Popen([SIM, "--protocol", str(protocol), "--addr", "1-%d" % units, "--link",
                            link, "--baud", str(BAUD), "--line-time", "--no-noise", "--scenario",
                            os.path.join(home, "online.txt")],
                           stdin=subprocess.PIPE, stdout=open(os.path.join(home, "sim.log"), "w"),
                           stderr=subprocess.STDOUT, text=True, bufsize=1)
    for _ in range(100):
        if os.path.exists(link):
            break
        time.sleep(0.05)
    mon = Monitor(home)
    for _ in range(200):
        if mon.port:
            break
        time.sleep(0.05)
    if not mon.port:
        raise SystemExit("the monitor's NUT server did not come up; see " + home)
    nut = NutStatus(mon.port, range(1, units + 1))

    concurrent = 1 if fast else max(1, units // 2)
    budget = DEFAULT_SECONDS if not fast else float("inf")
    start = time.monotonic()
    idle_since = {}  # unit -> when it last read OL with no trial on it
    due = {}  # unit -> when to switch it
    # How often a unit's state is read: the fixed cadence's 13 ticks per request, four requests
    # a unit under Modbus, five under ASCII; fast polling well within 2 s.
    period = 2.0 if fast else units * (4 if protocol in (2, 3) else 5) * 1.3
    trials = {}  # unit -> [switched at, event at, OB at]
    done_event, done_status = [], []
    upsc_checked = False
    while True:
        now = time.monotonic()
        status = nut.read_all()
        for a, st in status.items():
            if a in trials:
                t = trials[a]
                if t[2] is None and st.split()[:1] == ["OB"]:
                    t[2] = now
                    if not upsc_checked:
                        got = upsc_status(mon.port, a)
                        if not got.startswith("OB"):
                            print("  upsc disagrees: %r" % got)
                        upsc_checked = True
                if t[1] is None:
                    t[1] = mon.battery_event_after(a, t[0])
                if t[1] is not None and t[2] is not None:
                    done_event.append(t[1] - t[0])
                    done_status.append(t[2] - t[0])
                    sim.stdin.write("unset %d\n" % a)
                    del trials[a]
            elif st.split()[:1] == ["OL"]:
                idle_since.setdefault(a, now)
            else:
                idle_since.pop(a, None)
                due.pop(a, None)
        count = len(done_event)
        starting = (count + len(trials) < TRIALS) if fast else (now - start < budget)
        if not starting and not trials:
            break
        if starting and len(trials) < concurrent:
            # A unit reads OL just after its own poll: it is switched at a moment drawn evenly
            # from one poll period after that, so that the switch falls anywhere in its round.
            for a, t in list(idle_since.items()):
                if a not in due:
                    due[a] = t + rng.uniform(0, period)
            ready = [a for a in idle_since if a not in trials and now >= due[a]]
            if ready:
                a = rng.choice(ready)
                del idle_since[a]
                del due[a]
                sim.stdin.write("set %d %s\n" % (a, MAINS_FAIL))
                sim.stdin.flush()
                trials[a] = [time.monotonic(), None, None]
        if now - start > budget + 600:
            print("  giving up on %d unfinished trial(s)" % len(trials))
            break
        time.sleep(0.01)
    nut.close()
    mon.stop()
    sim.terminate()
    sim.wait()
    shutil.rmtree(home, ignore_errors=True)
    return done_event, done_status, time.monotonic() - start


def main():
    rng = random.Random(int(os.environ.get("SEED", "1")))
    for tool in (TESSEL, SIM):
        if not os.access(tool, os.X_OK):
            raise SystemExit(tool + " is missing: make build first")
    probe_home = tempfile.mkdtemp(prefix="tessel-latency-")
    with open(os.path.join(probe_home, "online.txt"), "w") as f:
        f.write(SCENARIO)
    ascii_answers = probe_ascii_answers(probe_home) if any(p in (0, 1) for p in PROTOCOLS) else []
    shutil.rmtree(probe_home, ignore_errors=True)

    rows = []
    header = ("| protocol | units | polling | trials | event p50 / p99 / max | "
              "ups.status OB p50 / p99 / max | state round on the bus |")
    for protocol in PROTOCOLS:
        for units in UNITS:
            limit = state_round_seconds(protocol, units, ascii_answers)
            for mode in MODES:
                print("protocol %d, %d units, %s polling ..." % (protocol, units, mode), flush=True)
                ev, st, took = run(protocol, units, mode, rng)
                fmt = lambda v: "%.2f / %.2f / %.2f s" % (percentile(v, 50), percentile(v, 99),
                                                         max(v) if v else float("nan"))
                row = "| %s | %d | %s | %d | %s | %s | %.2f s |" % (
                    "Modbus" if protocol in (2, 3) else "ASCII (%d)" % protocol, units, mode,
                    len(ev), fmt(ev), fmt(st), limit)
                print("  " + row + "  (%.0f s)" % took, flush=True)
                rows.append(row)
    print()
    print(header)
    print("|---|---|---|---|---|---|---|")
    for r in rows:
        print(r)


if __name__ == "__main__":
    sys.exit(main())
