// The command line of tessel-sim.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim_unit.h"

namespace tessel::sim {

struct SimOptions {
  int protocol = -1;          // 0, 1, 2 or 3
  std::vector<int> addrs{1};  // the units on the line
  std::string device;         // serial device to open; empty: create a pseudo-terminal
  std::string link;           // symlink to the pseudo-terminal
  int baud = 9600;
  int stopBits = 1;
  // (address or 0 for every unit, scenario file)
  std::vector<std::pair<int, std::string>> scenarios;
  std::vector<FaultSpec> faults;
  double speed = 1.0;      // scenario seconds per real second
  double stepSeconds = 0;  // > 0: every scenario step lasts this long
  bool noise = true;
  bool lineTime = false;  // answers wait for the wire time of request and answer at `baud`
  bool commands = true;   // read fault switches from standard input
};

enum class ParseOutcome { kRun, kHelp, kPrintScenario, kError };

// args excludes the program name.
ParseOutcome ParseCommandLine(const std::vector<std::string>& args, SimOptions& opt,
                              std::string& error);
std::string HelpText();
const char* ProtocolName(int protocol);

}  // namespace tessel::sim
