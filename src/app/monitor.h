// The start-up and shutdown sequence of the monitor, shared by the windowed and the headless
// program. The front end (Qt) owns the timers and the real serial port and joins the sequence at
// the points of StartupHooks.
#pragma once

#include <memory>
#include <string>

#include "app/device_list_file.h"
#include "app/program_folder.h"
#include "comm/comm_master.h"
#include "comm/serial_port.h"
#include "log/data_log.h"
#include "log/event_log.h"
#include "model/clock.h"
#include "model/context.h"

namespace tessel {

class StartupHooks {
 public:
  virtual ~StartupHooks() = default;
  // The settings file has been read (the windows apply language and layout here).
  virtual void AfterSettingsRead() {}
  // The event and data log stores exist.
  virtual void AfterLogStores() {}
  // The device list is loaded; the report says what the file held that could not be listed.
  virtual void AfterDeviceList(const DeviceListLoad& load) {}
  // The program-start event is written: start the 100 ms poll timer that calls Monitor::Tick.
  virtual void StartPollTimer() = 0;
  // The first opening of the port was tried; error is empty when it opened.
  virtual void AfterPortOpen(const std::string& error) {}
};

// "There was an error to open serial port,..." in the language of the settings.
std::string PortOpenErrorText(uint8_t language);
// The status text of an open port: ComName followed by " is Link" / "  已开启".
std::string PortStatusText(const Settings& settings);
// One event as the headless monitor prints it: "yyyy-mm-dd hh:mm:ss", address (empty for the
// program's own events) and the event's text in the language given.
std::string EventLine(const TEventRec& rec, uint8_t language);

class Monitor {
 public:
  Monitor(ProgramPaths paths, SerialPort& port, const Clock& clock);
  ~Monitor();

  // Folders, settings, log stores, device list, table start values, drivers, program-start
  // event, poll timer, port: in this order.
  void StartUp(StartupHooks& hooks);
  // Opens the port from the settings; empty on success, else the port's own error message (its
  // fixed text on the first line, then the device, the system's reason and what to do about it).
  // A ComName that selects no port leaves it closed and gives the general open-error text.
  std::string OpenPort();
  // Program-stop event, then the port is closed. The caller has stopped the poll timer.
  void ShutDown();

  // One poll tick. A unit that becomes lost in it has its live values cleared at once, whatever
  // front end runs (or shows nothing): its state and alarms are detected afresh when it answers
  // again, so the event log does not depend on a window. The address whose communication state
  // the tick changed (an unanswered transmission moves a unit to the error or lost state), or -1.
  int Tick();
  // The port closed (or could not be opened): every listed unit's live values are cleared, with
  // the same effect as for a lost unit.
  void ClearListedRecords();
  bool OnReceive(const uint8_t* data, int n) { return master_->OnReceive(data, n); }

  Context& Ctx() { return ctx_; }
  const ProgramPaths& Paths() const { return paths_; }
  TEventLog& EventLog() { return *eventLog_; }
  TDataLog& DataLog() { return *dataLog_; }
  TCommMaster& Master() { return *master_; }

 private:
  ProgramPaths paths_;
  SerialPort& port_;
  const Clock& clock_;
  Context ctx_;
  std::unique_ptr<TEventLog> eventLog_;
  std::unique_ptr<TDataLog> dataLog_;
  std::unique_ptr<ProtocolDriver> ydt_, epower_, modbus_;
  std::unique_ptr<TCommMaster> master_;
  bool started_ = false;
};

}  // namespace tessel
