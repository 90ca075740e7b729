// The host: what the windowed and the headless program share. It runs the start-up sequence, owns
// the poll timer (a tick every 100 ms, woken only for the ticks that work) and the real serial
// port, reopens the port after the device went away, stops on SIGINT/SIGTERM when asked to, and
// hands every change of the core to the front ends as a Qt signal. Front ends connect to the
// signals before Start(); none of them calls the poll tick or the receive handler.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <string>

#include "app/monitor.h"
#include "app/program_folder.h"
#include "comm/poll_pacer.h"
#include "host/tcomm_port.h"
#include "model/clock.h"

class QSocketNotifier;

namespace tessel {

class NutServer;

class Host : public QObject, private StartupHooks {
  Q_OBJECT

 public:
  static constexpr int kPortRetryMs = 10000;

  explicit Host(const ProgramPaths& paths, QObject* parent = nullptr);
  ~Host() override;

  // The start-up sequence: folders, settings, log stores, device list, table start values,
  // drivers, program-start event, poll timer, port. Emits the start-up signals in that order.
  void Start();
  // Program-stop event (the last record of the event log), poll timer stopped, port closed.
  // Runs once; later calls do nothing.
  void Stop();

  // Opens the port from the in-memory settings (closing it first when open). Empty on success,
  // else a message for the operator: the port's own error with the device, the system's reason
  // and advice (Monitor::OpenPort), or the general open-error text when ComName names no port.
  // Stops a pending retry.
  std::string OpenPort();
  // Closes the port and stops a pending retry.
  void ClosePort();
  bool PortIsOpen() const;
  // Tries to open the port every kPortRetryMs until it opens or ClosePort/OpenPort is called.
  void RetryPortLater();

  // SIGINT and SIGTERM raise stopRequested instead of ending the process.
  void CatchStopSignals();
  // The serial worker on the polling thread instead of its own (from the next opening): two
  // wake-ups less per answer, for a front end that never keeps this thread busy (no windows).
  void KeepSerialOnPollingThread() { port_.Comm().SetWorkerThread(false); }

  // The poll ticks that only count down are not woken for: they run together, in order, just
  // before the next tick that works or the next handler. Whoever reads or changes the
  // communication state (received data, the port, settings, modes, command requests) calls
  // CatchUp first and Rearm after the change, so the program behaves as if every tick ran on time.
  // After a stall of the thread the ticks it missed are dropped as a timer drops them, never
  // replayed (PollPacer).
  void CatchUp();
  void Rearm();
  int64_t TicksRun() const { return pacer_.TicksRun(); }
  const PollPacer& Pacer() const { return pacer_; }

  // The network UPS server, started at the end of Start() when its settings section switches it
  // on; nullptr otherwise.
  NutServer* Nut() { return nut_; }

  Context& Ctx() { return monitor_.Ctx(); }
  Monitor& Core() { return monitor_; }
  const ProgramPaths& Paths() const { return monitor_.Paths(); }
  const DeviceListLoad& ListLoad() const { return listLoad_; }
  bool Started() const { return started_; }
  bool Stopped() const { return stopped_; }

 signals:
  // Start-up, in this order.
  void settingsRead();
  void logStoresReady();
  void deviceListLoaded();
  // The first opening of the port was tried; error is empty when it opened.
  void portOpenTried(const QString& error);
  // The network UPS server was switched on: what it listens on, or why it could not, and what
  // the users file held that was ignored.
  void nutServerReported(const QString& message);

  // While running.
  void deviceUpdated(int address);               // an answer was decoded, or the state changed
  void eventAppended(const tessel::TEventRec&);  // a record reached the event log
  void portStateChanged(bool open);
  void lineActivity();  // a frame was sent or a chunk received (the lamps light)
  void portFailed(const QString& message);  // the device went away; a retry is pending
  void portRetried(const QString& error);   // a retry was made; error is empty when it opened
  void stopRequested();                     // SIGINT or SIGTERM

 private:
  // StartupHooks
  void AfterSettingsRead() override;
  void AfterLogStores() override;
  void AfterDeviceList(const DeviceListLoad& load) override;
  void StartPollTimer() override;
  void AfterPortOpen(const std::string& error) override;

  void RunTick();
  void PollTimerFired();
  void Receive(const uint8_t* data, int n);
  void HangUp();
  void Retry();
  void SetPortState(bool open);
  void StartNutServer();

  SystemClock clock_;
  TCommPort port_;
  Monitor monitor_;
  DeviceListLoad listLoad_;
  QTimer pollTimer_;         // single shot, armed for the next tick that works
  QElapsedTimer tickClock_;  // the pacer's clock
  PollPacer pacer_;
  QTimer retryTimer_;
  QSocketNotifier* signalNotifier_ = nullptr;
  NutServer* nut_ = nullptr;
  bool started_ = false;
  bool stopped_ = false;
  bool portOpen_ = false;
};

}  // namespace tessel
