// The monitor without windows: the start-up sequence under a Qt core event loop, events printed
// on standard output as they are logged, the port retried every 10 s while it cannot be opened,
// and an orderly stop on SIGINT or SIGTERM.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdio>

#include "app/monitor.h"
#include "app/program_folder.h"
#include "app/tcomm_port_qt.h"
#include "model/clock.h"

class QSocketNotifier;

namespace tessel {

class HeadlessMonitor : public QObject, public StartupHooks {
  Q_OBJECT

 public:
  static constexpr int kPortRetryMs = 10000;

  HeadlessMonitor(const ProgramPaths& paths, std::FILE* out);
  ~HeadlessMonitor() override;

  // The start-up sequence, without entering the event loop.
  void Start();
  // Starts up and runs until a stop signal; returns the exit code.
  int Run();
  Monitor& Core() { return monitor_; }
  // Program-stop event, port closed, event loop left.
  void Stop();

  // StartupHooks
  void AfterLogStores() override;
  void StartPollTimer() override;
  void AfterPortOpen(const std::string& error) override;

 private:
  void TryOpenPort();
  void Print(const std::string& line);

  std::FILE* out_;
  SystemClock clock_;
  TCommPort port_;
  Monitor monitor_;
  QTimer pollTimer_;
  QTimer retryTimer_;
  QSocketNotifier* signalNotifier_ = nullptr;
  bool stopped_ = false;
};

}  // namespace tessel
