// The simulator's loop: reads requests from the line, lets the addressed unit answer, applies
// the fault switches and writes the answers back in order, logging one line per request.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "sim_answer.h"
#include "sim_line.h"
#include "sim_options.h"
#include "sim_unit.h"

namespace tessel::sim {

class Simulator {
 public:
  Simulator(const SimOptions& opt, std::vector<SimUnit> units, SerialLine& line, std::ostream& log);
  // Runs until stopFd becomes readable; commandFd (or -1) carries text commands.
  // Returns the exit status.
  int Run(int stopFd, int commandFd);

  // Exposed for tests: handles one complete frame as if it had arrived at time now.
  void HandleAsciiFrame(const std::string& frame, double now);
  void HandleRtuFrame(const std::vector<uint8_t>& frame, double now);
  void HandleCommand(const std::string& line);
  // Writes what is due by now; returns when the next item is due (or a huge value).
  double FlushOutput(double now);

 private:
  struct Pending {
    double due;
    std::vector<uint8_t> bytes;
  };

  SimUnit* FindUnit(int addr);
  double ScenarioTime(double now) const { return (now - start_) * opt_.speed; }
  void Deliver(SimUnit& unit, const Reply& reply, int function, double now);
  void Log(double now, const std::string& text);
  void LogDiscarded(double now, size_t count);
  // "set LIST PAIRS" / "unset LIST": values set by hand on some units, or handed back.
  void SetValues(bool set, const std::string& list, const std::string& lineIn, double now);

  SimOptions opt_;
  std::vector<SimUnit> units_;
  SerialLine& line_;
  std::ostream& log_;
  double start_;
  AsciiFramer ascii_;
  RtuFramer rtu_;
  std::deque<Pending> out_;
  std::mt19937 rng_{12345};
  std::string commandBuf_;
  size_t requestBytes_ = 0;  // of the request being answered, for --line-time
};

}  // namespace tessel::sim
