// The Qt host under the windows: an event-loop adapter over the plain host (HostLogic). It arms the
// host's one deadline on Qt's loop (QtLoop, which also drives the network UPS server's sockets),
// passes the serial component's chunks and hang-ups in, delivers SIGINT/SIGTERM, and turns the
// host's news into Qt signals. Front ends connect to the signals before Start(); none of them calls
// the poll tick or the receive handler.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>

#include "app/host_logic.h"
#include "app/monitor.h"
#include "app/program_folder.h"
#include "host/qt_loop.h"
#include "host/tcomm_port.h"
#include "model/clock.h"
#include "service/host_deadline.h"
#include "service/nut_listener.h"

class QSocketNotifier;

namespace tessel {

class Host : public QObject, private HostListener {
  Q_OBJECT

 public:
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
  // Tries to open the port every 10 s until it opens or ClosePort/OpenPort is called.
  void RetryPortLater();

  // SIGINT and SIGTERM raise stopRequested instead of ending the process.
  void CatchStopSignals();
  // Whoever reads or changes the communication state calls CatchUp first and Rearm after the
  // change (HostLogic).
  void CatchUp() { logic_.CatchUp(); }
  void Rearm() { logic_.Rearm(); }
  int64_t TicksRun() const { return logic_.TicksRun(); }

  // The network UPS server, started at the end of Start() when its settings section switches it
  // on; nullptr otherwise.
  NutListener* Nut() { return nut_.get(); }

  Context& Ctx() { return logic_.Ctx(); }
  Monitor& Core() { return logic_.Core(); }
  const ProgramPaths& Paths() const { return logic_.Paths(); }
  const DeviceListLoad& ListLoad() const { return logic_.ListLoad(); }
  bool Started() const { return logic_.Started(); }
  bool Stopped() const { return logic_.Stopped(); }

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
  // HostListener
  void SettingsRead() override { emit settingsRead(); }
  void LogStoresReady() override { emit logStoresReady(); }
  void DeviceListLoaded() override { emit deviceListLoaded(); }
  void PortOpenTried(const std::string& error) override;
  void DeviceUpdated(int address) override { emit deviceUpdated(address); }
  void EventAppended(const TEventRec& rec) override { emit eventAppended(rec); }
  void PortStateChanged(bool open) override { emit portStateChanged(open); }
  void LineActivity() override { emit lineActivity(); }
  void PortFailed(const std::string& device) override;
  void PortRetried(const std::string& error) override;
  void StopRequested() override { emit stopRequested(); }

  void StartNutServer();

  SystemClock clock_;
  TCommPort port_;
  QtLoop loop_;
  HostLogic logic_;
  HostDeadline deadline_;
  QSocketNotifier* signalNotifier_ = nullptr;
  std::unique_ptr<NutListener> nut_;
};

}  // namespace tessel
