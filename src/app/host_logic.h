// The host: what every front end shares, in plain C++. It runs the start-up sequence, paces the
// poll ticks (woken only for the ticks that work, PollPacer), opens the port and reopens it every
// 10 s after a failure or a hang-up, and stops in order. It is driven by calls (a deadline passed,
// bytes arrived, the line hung up, a stop was requested) and a monotonic clock, and after each
// call it hands its event-loop adapter the one deadline to wake it for (ArmDeadline). Listeners
// hear every change. The adapters (the Qt host under the windows, the daemon's poll loop) only arm
// that deadline, watch the port and deliver the signals.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/monitor.h"
#include "app/program_folder.h"
#include "comm/poll_pacer.h"
#include "comm/serial_port.h"
#include "model/clock.h"

namespace tessel {

class HostListener {
 public:
  virtual ~HostListener() = default;
  // Start-up, in this order.
  virtual void SettingsRead() {}
  virtual void LogStoresReady() {}
  virtual void DeviceListLoaded() {}
  // The first opening of the port was tried; error is empty when it opened.
  virtual void PortOpenTried(const std::string& error) {}

  // While running.
  virtual void DeviceUpdated(int address) {}  // an answer was decoded, or the state changed
  virtual void EventAppended(const TEventRec& rec) {}  // a record reached the event log
  virtual void PortStateChanged(bool open) {}
  virtual void LineActivity() {}  // a frame was sent or a chunk received (the lamps light)
  virtual void PortFailed(const std::string& device) {}  // the device went away; a retry is pending
  virtual void PortRetried(const std::string& error) {}  // a retry was made; empty when it opened
  virtual void StopRequested() {}                        // SIGINT or SIGTERM
};

class HostLogic : private StartupHooks {
 public:
  static constexpr int64_t kPortRetryNs = 10'000'000'000;
  static constexpr int64_t kNoDeadline = -1;

  // now: the monotonic clock in nanoseconds the deadlines are given on. port: the serial port,
  // whose chunks and hang-ups the adapter passes to OnReceive and OnHangUp.
  HostLogic(const ProgramPaths& paths, SerialPort& port, const Clock& clock,
            std::function<int64_t()> now);
  ~HostLogic() override;
  HostLogic(const HostLogic&) = delete;
  HostLogic& operator=(const HostLogic&) = delete;

  // Called with the time to wake for (on the clock given), or kNoDeadline, whenever it changed.
  std::function<void(int64_t at)> ArmDeadline;
  void AddListener(HostListener* listener);
  void RemoveListener(HostListener* listener);

  // The start-up sequence: folders, settings, log stores, device list, table start values,
  // drivers, program-start event, poll ticks, port. Tells the listeners in that order.
  void Start();
  // Program-stop event (the last record of the event log), poll ticks stopped, port closed.
  // Runs once; later calls do nothing.
  void Stop();

  // Opens the port from the in-memory settings (closing it first when open). Empty on success,
  // else a message for the operator (Monitor::OpenPort). Stops a pending retry.
  std::string OpenPort();
  // Closes the port and stops a pending retry.
  void ClosePort();
  bool PortIsOpen() const;
  // Tries to open the port every 10 s until it opens or ClosePort/OpenPort is called.
  void RetryPortLater();

  // What drives the host.
  void OnDeadline();
  void OnReceive(const uint8_t* data, int n);
  // The port's device went away (adapter pulled, far end closed).
  void OnHangUp(const std::string& device);
  void OnStopRequested();

  // The poll ticks that only count down are not woken for: they run together, in order, just
  // before the next tick that works or the next handler. Whoever reads or changes the
  // communication state (received data, the port, settings, modes, command requests) calls
  // CatchUp first and Rearm after the change, so the program behaves as if every tick ran on time.
  void CatchUp();
  void Rearm();
  // The time to wake for next: the next tick that works or the pending retry, kNoDeadline when
  // neither.
  int64_t NextDeadline() const;

  int64_t TicksRun() const { return pacer_.TicksRun(); }
  const PollPacer& Pacer() const { return pacer_; }
  Context& Ctx() { return monitor_.Ctx(); }
  Monitor& Core() { return monitor_; }
  const ProgramPaths& Paths() const { return monitor_.Paths(); }
  const DeviceListLoad& ListLoad() const { return listLoad_; }
  bool Started() const { return started_; }
  bool Stopped() const { return stopped_; }

 private:
  // StartupHooks
  void AfterSettingsRead() override;
  void AfterLogStores() override;
  void AfterDeviceList(const DeviceListLoad& load) override;
  void StartPollTimer() override;
  void AfterPortOpen(const std::string& error) override;

  template <typename F>
  void Tell(F&& f) {
    // A copy: a listener may go away (or another come) while being told.
    const std::vector<HostListener*> listeners = listeners_;
    for (HostListener* l : listeners) f(*l);
  }
  void RunTick();
  void Retry();
  void SetPortState(bool open);

  std::function<int64_t()> now_;
  SerialPort& port_;
  Monitor monitor_;
  PollPacer pacer_;
  DeviceListLoad listLoad_;
  std::vector<HostListener*> listeners_;
  int64_t retryAt_ = kNoDeadline;
  int64_t armed_ = kNoDeadline;
  bool started_ = false;
  bool stopped_ = false;
  bool portOpen_ = false;
};

}  // namespace tessel
