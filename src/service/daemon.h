// The monitor without windows, on a plain poll loop and without Qt: it prints each event as it is
// logged, reports the port on standard output, keeps retrying a port that cannot be opened, serves
// the network UPS clients when its settings switch that on, and stops in order on SIGINT or
// SIGTERM. `tesseld` is this program; `tessel --headless` runs the same code.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "app/host_logic.h"
#include "app/program_folder.h"
#include "model/clock.h"
#include "service/host_deadline.h"
#include "service/poll_loop.h"
#include "service/termios_port.h"

namespace tessel {

class NutListener;

class Daemon : private HostListener {
 public:
  Daemon(const ProgramPaths& paths, std::FILE* out, PollLoop& loop);
  ~Daemon() override;
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // SIGINT and SIGTERM end the loop in order from now on (they are blocked and read from a
  // signal descriptor, so they never interrupt a write to a log file).
  void CatchStopSignals();
  // The start-up sequence, without running the loop.
  void Start();
  // Starts up and runs until a stop signal; returns the exit code.
  int Run();
  // Program-stop event, port closed, loop left.
  void Stop();

  HostLogic& Host() { return host_; }
  void Print(const std::string& line);

 private:
  // HostListener
  void EventAppended(const TEventRec& rec) override;
  void PortOpenTried(const std::string& error) override { ReportPort(error); }
  void PortRetried(const std::string& error) override { ReportPort(error); }
  void PortFailed(const std::string& device) override;
  void StopRequested() override { Stop(); }

  void ReportPort(const std::string& error);

  std::FILE* out_;
  PollLoop& loop_;
  SystemClock clock_;
  TermiosPort port_;
  HostLogic host_;
  HostDeadline deadline_;
  std::unique_ptr<NutListener> nut_;
  int signalFd_ = -1;
};

// The whole program: the command line, the program folder, one copy per folder, the loop.
// argv may hold --headless (the windowed program hands its command line over as it is).
int RunDaemon(int argc, char* argv[]);

}  // namespace tessel
