// The communication master: the poll scheduler stepped by a 100 ms tick, the receive handler fed
// with the port's chunks, and opening and closing the port. These two handlers are the only
// entry points of communication; both run on the user-interface thread and never overlap.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>

#include "comm/serial_port.h"
#include "log/data_log.h"
#include "log/event_log.h"
#include "model/clock.h"
#include "model/comm_state.h"
#include "model/context.h"
#include "protocol/protocol_driver.h"

namespace tessel {

constexpr int kPollIntervalMs = 100;  // the tick; unit of RecInterval and of the wait below
constexpr int kReplyWaitTicks = 10;   // ticks between two transmissions of one request

// The device search window answers these while SearchMode is on.
class SearchHooks {
 public:
  virtual ~SearchHooks() = default;
  // The address to probe next; clears SearchMode itself when the range is exhausted.
  virtual uint8_t NextSearchAddress() = 0;
  // An accepted answer came while probing this address.
  virtual void DeviceFound(uint8_t address) = 0;
};

// The Trace window's view of the traffic.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void ShowTxFrame(const uint8_t* data, int n) = 0;  // only while TraceShown
  virtual void ShowRxFrame(const uint8_t* data, int n) = 0;  // only while TraceShown
  virtual void RefreshDebug() = 0;                           // every tick while TraceShown
  virtual void ShowRecDly(int32_t recDly) = 0;               // every tick
};

// The platform device behind a ComName: "COMn" (n read from the 4th and 5th characters) is
// /dev/ttyS(n-1), an absolute path is opened as it is. Empty when the name selects no port
// (number 0, not a number, or above 256); the port then stays closed without a message.
std::string ComDeviceName(const std::string& comName);

class TCommMaster {
 public:
  // drivers[0] serves Protocol 0, [1] Protocol 1, [2] Protocols 2 and 3. All references must
  // outlive the master.
  using Drivers = std::array<ProtocolDriver*, 3>;
  TCommMaster(Context& ctx, const Drivers& drivers, SerialPort& port, TEventLog& eventLog,
              TDataLog& dataLog, const Clock& clock);

  void SetSearchHooks(SearchHooks* hooks) { search_ = hooks; }
  SearchHooks* CurrentSearchHooks() const { return search_; }
  void SetTraceSink(TraceSink* sink) { trace_ = sink; }

  // (Re)opens the port from PortInfo. A SerialPortError of the opening passes to the caller.
  void OpenComm();
  void CloseComm();
  bool CommIsOpen() const;
  // The settings of the last OpenComm (shown by the Trace window's debug codes).
  const SerialPortSettings& PortSettings() const { return portSettings_; }

  // Hands a frame to the port (a refusal is ignored) and counts it.
  void SendFrame(const uint8_t* bytes, uint16_t len);

  // One poll tick: debug counters, a scheduler step while the port is open, the data-log countdown.
  void Tick();
  // How many of the coming ticks can run late: they send nothing, sample nothing, read no clock
  // and call no hook but the search window's next address and the Trace window's RecDly display,
  // so running them all at once before the next handler or the next tick that works gives exactly
  // what running them on time gives. kNoWorkAhead when no tick will work until something else
  // changes the state (the port, a mode, a setting, received data).
  static constexpr int kNoWorkAhead = INT32_MAX;
  int IdleTicksAhead() const;
  // One scheduler step: wait, transmit again or give up, or build the next request (with fast
  // polling, giving up and building the next request are one step).
  void PollStep();
  // One received chunk: at most the first 400 bytes are parsed by the protocol's driver and the
  // outcome is accounted to the device of EquipList.CurAddr. True when the driver accepted it.
  // With fast polling an accepted answer ends the wait: the next request is built and sent before
  // this returns, so EquipList.CurAddr then names the next target.
  bool OnReceive(const uint8_t* bytes, int n);
  // One data-log sample of every communicating device of the list.
  void SampleDataLog();

  void SetManualMode(bool on);
  bool ManualMode() const;
  void SetSearchMode(bool on);
  bool SearchMode() const;

  // The driver of a Protocol value; null for values without one (4 and above).
  ProtocolDriver* DriverFor(int protocol) const;

 private:
  TUpsInfo* DeviceOfCurAddr();
  bool FastPoll() const;
  // The wait is over: transmit the request again, or give up on it at SendLimit.
  void WaitOver();
  // Clears the counters and, unless in manual mode, builds the next request (Awaiting on when
  // there is one to send).
  void BuildNext();

  Context& ctx_;
  Drivers drivers_;
  SerialPort& port_;
  TEventLog& eventLog_;
  TDataLog& dataLog_;
  const Clock& clock_;
  SearchHooks* search_ = nullptr;
  TraceSink* trace_ = nullptr;
  SerialPortSettings portSettings_;
};

}  // namespace tessel
