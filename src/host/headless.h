// The monitor without windows: a view of the host that prints each event as it is logged, reports
// the port on standard output, keeps retrying a port that cannot be opened, and stops in order on
// SIGINT or SIGTERM.
#pragma once

#include <QObject>
#include <cstdio>
#include <string>

#include "app/program_folder.h"
#include "host/host.h"

namespace tessel {

class HeadlessMonitor : public QObject {
  Q_OBJECT

 public:
  static constexpr int kPortRetryMs = Host::kPortRetryMs;

  HeadlessMonitor(const ProgramPaths& paths, std::FILE* out);

  // The start-up sequence, without entering the event loop.
  void Start();
  // Starts up and runs until a stop signal; returns the exit code.
  int Run();
  Monitor& Core() { return host_.Core(); }
  // Program-stop event, port closed, event loop left.
  void Stop();

 private:
  void ReportPort(const QString& error);
  void Print(const std::string& line);

  std::FILE* out_;
  Host host_;
};

}  // namespace tessel
