#include "sim_options.h"

#include <cmath>
#include <cstdlib>

#include "sim_line.h"

namespace tessel::sim {

namespace {

bool ToDouble(const std::string& s, double& out) {
  char* end = nullptr;
  out = std::strtod(s.c_str(), &end);
  return !s.empty() && *end == '\0' && std::isfinite(out);
}

bool ToInt(const std::string& s, int& out) {
  double d = 0;
  if (!ToDouble(s, d) || d != std::floor(d) || std::fabs(d) > 1e9) return false;
  out = static_cast<int>(d);
  return true;
}

}  // namespace

const char* ProtocolName(int protocol) {
  switch (protocol) {
    case 0:
      return "ASCII version 31, modular units";
    case 1:
      return "ASCII version 11, three-phase units";
    case 2:
      return "Modbus RTU";
    case 3:
      return "Modbus RTU, ZEV";
    default:
      return "?";
  }
}

ParseOutcome ParseCommandLine(const std::vector<std::string>& args, SimOptions& opt,
                              std::string& error) {
  bool addrGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    std::string value;
    bool inlineValue = false;
    if (a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
      value = a.substr(a.find('=') + 1);
      a = a.substr(0, a.find('='));
      inlineValue = true;
    }
    auto next = [&](std::string& out) {
      if (inlineValue) {
        out = value;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") return ParseOutcome::kHelp;
    if (a == "--print-scenario") return ParseOutcome::kPrintScenario;
    if (a == "--protocol") {
      if (!next(v)) return ParseOutcome::kError;
      if (!ToInt(v, opt.protocol) || opt.protocol < 0 || opt.protocol > 3) {
        error = "--protocol takes 0, 1, 2 or 3";
        return ParseOutcome::kError;
      }
    } else if (a == "--addr") {
      if (!next(v)) return ParseOutcome::kError;
      auto list = ParseAddrList(v, error);
      if (!list) return ParseOutcome::kError;
      opt.addrs = *list;
      addrGiven = true;
    } else if (a == "--device") {
      if (!next(opt.device)) return ParseOutcome::kError;
    } else if (a == "--link") {
      if (!next(opt.link)) return ParseOutcome::kError;
    } else if (a == "--baud") {
      if (!next(v)) return ParseOutcome::kError;
      if (!ToInt(v, opt.baud) || !IsSupportedBaud(opt.baud)) {
        error = "--baud takes 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200";
        return ParseOutcome::kError;
      }
    } else if (a == "--stop-bits") {
      if (!next(v)) return ParseOutcome::kError;
      if (!ToInt(v, opt.stopBits) || (opt.stopBits != 1 && opt.stopBits != 2)) {
        error = "--stop-bits takes 1 or 2";
        return ParseOutcome::kError;
      }
    } else if (a == "--scenario") {
      if (!next(v)) return ParseOutcome::kError;
      int addr = 0;
      std::string file = v;
      size_t eq = v.find('=');
      if (eq != std::string::npos && ToInt(v.substr(0, eq), addr)) {
        if (addr < 1 || addr > 252) {
          error = "--scenario ADDR=FILE needs an address 1..252";
          return ParseOutcome::kError;
        }
        file = v.substr(eq + 1);
      } else {
        addr = 0;
      }
      opt.scenarios.emplace_back(addr, file);
    } else if (a == "--fault") {
      if (!next(v)) return ParseOutcome::kError;
      auto f = ParseFault(v, error);
      if (!f) return ParseOutcome::kError;
      opt.faults.push_back(*f);
    } else if (a == "--speed") {
      if (!next(v)) return ParseOutcome::kError;
      if (!ToDouble(v, opt.speed) || opt.speed <= 0 || opt.speed > 1e6) {
        error = "--speed takes a positive factor";
        return ParseOutcome::kError;
      }
    } else if (a == "--step-seconds") {
      if (!next(v)) return ParseOutcome::kError;
      if (!ToDouble(v, opt.stepSeconds) || opt.stepSeconds <= 0) {
        error = "--step-seconds takes a positive number of seconds";
        return ParseOutcome::kError;
      }
    } else if (a == "--line-time") {
      opt.lineTime = true;
    } else if (a == "--no-noise") {
      opt.noise = false;
    } else if (a == "--no-commands") {
      opt.commands = false;
    } else {
      error = "unknown option \"" + args[i] + "\" (see --help)";
      return ParseOutcome::kError;
    }
  }
  (void)addrGiven;
  if (opt.protocol < 0) {
    error = "--protocol is required (0, 1, 2 or 3)";
    return ParseOutcome::kError;
  }
  if (!opt.device.empty() && !opt.link.empty()) {
    error = "--device and --link exclude each other (--link names a created pseudo-terminal)";
    return ParseOutcome::kError;
  }
  for (auto& [addr, file] : opt.scenarios) {
    bool known = addr == 0;
    for (int u : opt.addrs) known = known || u == addr;
    if (!known) {
      error = "--scenario for address " + std::to_string(addr) + ", which is not in --addr";
      return ParseOutcome::kError;
    }
  }
  return ParseOutcome::kRun;
}

std::string HelpText() {
  std::string fields;
  for (int f = 0; f < kTpH0; ++f) fields += (f ? " " : "") + FieldName(f);
  std::string states;
  for (const std::string& s : StateNames()) states += (states.empty() ? "" : " ") + s;
  return R"(Usage: tessel-sim --protocol N --addr LIST [--device PATH | --link PATH]
                  [--scenario [ADDR=]FILE]... [--fault SWITCH]... [options]

Plays UPS units on a serial line, answering a monitor's requests like the real units.

  --protocol N        0  ASCII version "31", modular units (CID2 42 43 44 80 82)
                      1  ASCII version "11", three-phase units (CID2 41 43 44 E2 E3)
                      2  Modbus RTU (functions 3, 4, 6)
                      3  Modbus RTU for ZEV units (same registers)
  --addr LIST         bus addresses of the units, like 1,2,5-7 (default 1). Each unit answers
                      only its own address; every other address gets silence.
  --device PATH       open this serial device. Without it a pseudo-terminal is created and
                      its path printed; point the monitor's ComName at it.
  --link PATH         make PATH a symlink to the pseudo-terminal (removed on exit)
  --baud N            line speed (default 9600); 8 data bits, no parity
  --stop-bits N       1 (default) or 2
  --scenario FILE     scenario for every unit; --scenario ADDR=FILE for one unit.
                      Without one a unit plays the built-in scenario (each unit offset
                      by 40 s): online, battery with falling capacity, battery self-test,
                      overload on bypass, ECO, inverter fault, with alarms appearing and
                      clearing and slightly noisy values; it loops every 175 s.
  --speed F           play scenarios F times faster than real time (default 1)
  --step-seconds S    ignore the time offsets of the scenarios: each step lasts S seconds
  --line-time         answer only after the time the request and the answer take on a
                      real line at --baud (a pseudo-terminal itself has no speed)
  --no-noise          report scenario values exactly
  --print-scenario    print the built-in scenario (a starting point for your own) and exit
  --fault SWITCH      switch a fault on (repeatable), see below
  --no-commands       do not read fault switches from standard input
  -h, --help          this text

Fault switches: KIND[=VALUE][@LIST][/N]; @LIST limits the fault to some units (default:
the whole line), /N applies it to every Nth request of a unit only.
  silent              no answer
  delay=MS            answer after MS milliseconds (default 500)
  checksum            answer with a wrong CHKSUM (ASCII) or CRC (Modbus)
  split=MS            send the answer in two halves, MS ms apart (default 300, longer than
                      the monitor's default read interval of 200 ms)
  garbage=N[,MS]      send N noise bytes (default 8) MS ms (default 0) before the answer
  rtn=CODE            answer with return code CODE (default 4) and no INFO (ASCII)
  exception=CODE      answer with Modbus exception CODE (default 4); rtn and exception are
                      the same switch, shaped for the protocol in use
Examples: --fault silent@3   --fault delay=800@1,2/2   --fault checksum/5   --fault rtn=2

While running, standard input takes commands, one a line:
  fault SWITCH        switch a fault on        clear     switch all faults off
  faults              list the faults          help      list the commands
  set LIST PAIRS      set values on units (LIST as for --addr, or "all") from now on,
                      over their scenario: "set 3 state = battery in_a = 0"
  unset LIST          hand the units back to their scenario

Scenario file: one step a line, "TIME name = value ...": TIME is the offset in seconds from
the start; the pairs change the unit from then on (values are kept until changed).
Lines that do not start with a number continue the step above; "#" starts a comment.
  state = NAME        sets the status words, fault alarm bits and three-phase codes of a
                      state: )" +
         states + R"(
  FIELD = VALUE       one value; VALUE is decimal or 0x hexadecimal
  FIELD = A..B        moves from A to B over the step (until the next step's time)
  fault = SWITCH      this unit's own fault from then on (no @LIST); fault = none ends it
  TIME loop           start again from 0 at TIME (without it the last step holds)
Fields: )" +
         fields +
         R"(
  tp_h0 .. tp_h6, tp_b0 .. tp_b55 (three-phase summary and alarm bytes), noise (percent).
Units: volts, hertz, percent load, amperes, minutes (batt_time), percent (batt_capa);
words and codes as numbers. The example in tools/sim/example_scenario.txt shows them.

Writes (Modbus): 20001 switches the unit on, 20002 off (no output), 20003 starts a
battery self-test of VALUE scenario seconds (0 cancels; refused with exception 4 while the
unit is off), 40002..40029 and 50000 are stored
and read back. Reads: function 4 on 30001..30014, 30021..30038, 30081..30091; function 3
on 40001..40029, 20001..20003, 50000. Other registers and functions get exceptions.

Output: a few "tessel-sim:" lines at start (the line's path, "tessel-sim: ready"), then one
line per request: seconds since start, the address and what the unit did. SIGINT and
SIGTERM end the program cleanly. Exit status 0, 1 on a run-time failure, 2 on a bad
command line.
)";
}

}  // namespace tessel::sim
