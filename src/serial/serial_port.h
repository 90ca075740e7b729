// The serial port component TComm: opens one serial device, cuts what the line delivers into
// chunks at line silence and writes queued frames. All device work happens on a worker thread;
// every event reaches the owner on the thread that created the component, which must run a Qt
// event loop.
#pragma once

#include <QObject>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "serial/serial_device.h"

namespace tessel {

// Raised by OpenPort; the message is one of the fixed texts below. A failure to open the device
// also names the device path and the system's reason (an errno value, 0 when there is none).
class ECommsError : public std::runtime_error {
 public:
  explicit ECommsError(const std::string& message, std::string device = {}, int sysError = 0)
      : std::runtime_error(message), device_(std::move(device)), sysError_(sysError) {}
  const std::string& Device() const { return device_; }
  int SysError() const { return sysError_; }

 private:
  std::string device_;
  int sysError_ = 0;
};

// kCommOpenFailed and kCommNotCommHandle come from serial_device.h, shared with the daemon's port.
inline constexpr const char* kCommAlreadyOpen = "This serial port already opened";
inline constexpr const char* kCommBufferFailed = "Cannot setup comm buffer";
inline constexpr const char* kCommEventFailed = "Unable to create event";
inline constexpr const char* kCommReadThreadFailed = "Unable to create read thread";
inline constexpr const char* kCommWriteThreadFailed = "Unable to create write thread";

enum class TByteSize : uint8_t { _5, _6, _7, _8 };
enum class TParity : uint8_t { None, Odd, Even, Mark, Space };
enum class TStopBits : uint8_t { _1, _1_5, _2 };
enum class TDtrControl : uint8_t { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl : uint8_t { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };

// Everything that goes into the device's line settings, with the start values of a new port.
struct TCommLineSettings {
  uint32_t BaudRate = 9600;
  bool ParityCheck = false;
  bool Outx_CtsFlow = false;
  bool Outx_DsrFlow = false;
  TDtrControl DtrControl = TDtrControl::DtrEnable;
  bool DsrSensitivity = false;
  bool TxContinueOnXoff = true;
  bool Outx_XonXoffFlow = true;
  bool Inx_XonXoffFlow = true;
  bool ReplaceWhenParityError = false;
  bool IgnoreNullChar = false;
  TRtsControl RtsControl = TRtsControl::RtsEnable;
  uint16_t XonLimit = 500;
  uint16_t XoffLimit = 500;
  TByteSize ByteSize = TByteSize::_8;
  TParity Parity = TParity::None;
  TStopBits StopBits = TStopBits::_1;
  char XonChar = 17;
  char XoffChar = 19;
  char ReplacedChar = 0;
};

// Read timeouts decide where a chunk ends; write timeouts are kept for completeness.
struct TCommTimeouts {
  uint32_t ReadIntervalTimeout = 100;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

// Largest chunk handed to OnReceiveData.
inline constexpr int kCommChunkSize = 2048;

// Tells whether the bytes of a chunk are exactly one complete frame. Called on the worker's
// thread, so it must keep no state of its own.
using TFrameCompleteFn = bool (*)(const uint8_t* data, std::size_t n);

struct SerialLink;
class SerialWorker;

class TComm : public QObject {
  Q_OBJECT

 public:
  explicit TComm(QObject* parent = nullptr);
  // Closes a port that is still open, without raising events.
  ~TComm() override;

  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  // Where the worker runs, from the next OpenPort: on a thread of its own (the default), so that
  // a busy owner cannot delay the end of a chunk; or on the owner's thread, which saves the two
  // hand-overs between threads per answer, for an owner that never keeps its thread busy for
  // long (a monitor without windows).
  void SetWorkerThread(bool ownThread) { ownThread_ = ownThread; }
  bool WorkerThread() const { return ownThread_; }

  // Set before OpenPort, fixed until the port is reopened: a chunk whose bytes the test finds to be
  // one complete frame ends after quietMs without a byte, any other chunk after
  // ReadIntervalTimeout as before (a frame still arriving, or bytes trailing a frame). Null (the
  // default) leaves only the read timeouts.
  void SetFrameEnd(TFrameCompleteFn complete, uint32_t quietMs) {
    frameComplete_ = complete;
    frameQuietMs_ = quietMs;
  }

  // Opens CommName and starts the worker. Throws ECommsError; a failure leaves the port closed.
  void OpenPort();
  // Stops the worker and closes the device; nothing happens when the port is closed. Events
  // the worker had not yet delivered are dropped.
  void ClosePort();
  // True from a successful OpenPort until ClosePort, also after a hang-up.
  bool IsOpen() const { return link_ != nullptr; }
  // Queues a copy of the bytes and returns at once. False when closed, after a hang-up, or for
  // an empty frame.
  bool SendData(const void* buffer, uint16_t length);
  // False from SendData until the worker reports the queue written out. Without an
  // OnSendDataEmpty handler at OpenPort that report comes with the next event from the worker.
  bool SendQueueEmpty() const { return sendQueueEmpty_; }

  // The device path a port name stands for (SerialDevicePath).
  static std::string DevicePath(const std::string& commName) { return SerialDevicePath(commName); }

  // Events, raised on the owner's thread. A handler may call ClosePort or OpenPort.
  std::function<void(const uint8_t* buffer, uint16_t length)> OnReceiveData;
  std::function<void(uint32_t eventMask)> OnReceiveError;
  std::function<void(uint32_t modemEvent)> OnModemStateChange;
  std::function<void()> OnRequestHangup;
  std::function<void()> OnSendDataEmpty;

  // Properties. Setting a line property or a timeout to a new value while open applies it at
  // once; the same value does nothing. CommName and Parity are only stored.
  const std::string& CommName() const { return commName_; }
  void SetCommName(const std::string& value) { commName_ = value; }

  uint32_t BaudRate() const { return line_.BaudRate; }
  void SetBaudRate(uint32_t v) { ChangeLine(line_.BaudRate, v); }
  bool ParityCheck() const { return line_.ParityCheck; }
  void SetParityCheck(bool v) { ChangeLine(line_.ParityCheck, v); }
  bool Outx_CtsFlow() const { return line_.Outx_CtsFlow; }
  void SetOutx_CtsFlow(bool v) { ChangeLine(line_.Outx_CtsFlow, v); }
  bool Outx_DsrFlow() const { return line_.Outx_DsrFlow; }
  void SetOutx_DsrFlow(bool v) { ChangeLine(line_.Outx_DsrFlow, v); }
  TDtrControl DtrControl() const { return line_.DtrControl; }
  void SetDtrControl(TDtrControl v) { ChangeLine(line_.DtrControl, v); }
  bool DsrSensitivity() const { return line_.DsrSensitivity; }
  void SetDsrSensitivity(bool v) { ChangeLine(line_.DsrSensitivity, v); }
  bool TxContinueOnXoff() const { return line_.TxContinueOnXoff; }
  void SetTxContinueOnXoff(bool v) { ChangeLine(line_.TxContinueOnXoff, v); }
  bool Outx_XonXoffFlow() const { return line_.Outx_XonXoffFlow; }
  void SetOutx_XonXoffFlow(bool v) { ChangeLine(line_.Outx_XonXoffFlow, v); }
  bool Inx_XonXoffFlow() const { return line_.Inx_XonXoffFlow; }
  void SetInx_XonXoffFlow(bool v) { ChangeLine(line_.Inx_XonXoffFlow, v); }
  bool ReplaceWhenParityError() const { return line_.ReplaceWhenParityError; }
  void SetReplaceWhenParityError(bool v) { ChangeLine(line_.ReplaceWhenParityError, v); }
  bool IgnoreNullChar() const { return line_.IgnoreNullChar; }
  void SetIgnoreNullChar(bool v) { ChangeLine(line_.IgnoreNullChar, v); }
  TRtsControl RtsControl() const { return line_.RtsControl; }
  void SetRtsControl(TRtsControl v) { ChangeLine(line_.RtsControl, v); }
  uint16_t XonLimit() const { return line_.XonLimit; }
  void SetXonLimit(uint16_t v) { ChangeLine(line_.XonLimit, v); }
  uint16_t XoffLimit() const { return line_.XoffLimit; }
  void SetXoffLimit(uint16_t v) { ChangeLine(line_.XoffLimit, v); }
  TByteSize ByteSize() const { return line_.ByteSize; }
  void SetByteSize(TByteSize v) { ChangeLine(line_.ByteSize, v); }
  TParity Parity() const { return line_.Parity; }
  void SetParity(TParity v) { line_.Parity = v; }
  TStopBits StopBits() const { return line_.StopBits; }
  void SetStopBits(TStopBits v) { ChangeLine(line_.StopBits, v); }
  char XonChar() const { return line_.XonChar; }
  void SetXonChar(char v) { ChangeLine(line_.XonChar, v); }
  char XoffChar() const { return line_.XoffChar; }
  void SetXoffChar(char v) { ChangeLine(line_.XoffChar, v); }
  char ReplacedChar() const { return line_.ReplacedChar; }
  void SetReplacedChar(char v) { ChangeLine(line_.ReplacedChar, v); }

  uint32_t ReadIntervalTimeout() const { return timeouts_.ReadIntervalTimeout; }
  void SetReadIntervalTimeout(uint32_t v) { ChangeTimeout(timeouts_.ReadIntervalTimeout, v); }
  uint32_t ReadTotalTimeoutMultiplier() const { return timeouts_.ReadTotalTimeoutMultiplier; }
  void SetReadTotalTimeoutMultiplier(uint32_t v) {
    ChangeTimeout(timeouts_.ReadTotalTimeoutMultiplier, v);
  }
  uint32_t ReadTotalTimeoutConstant() const { return timeouts_.ReadTotalTimeoutConstant; }
  void SetReadTotalTimeoutConstant(uint32_t v) {
    ChangeTimeout(timeouts_.ReadTotalTimeoutConstant, v);
  }
  uint32_t WriteTotalTimeoutMultiplier() const { return timeouts_.WriteTotalTimeoutMultiplier; }
  void SetWriteTotalTimeoutMultiplier(uint32_t v) {
    ChangeTimeout(timeouts_.WriteTotalTimeoutMultiplier, v);
  }
  uint32_t WriteTotalTimeoutConstant() const { return timeouts_.WriteTotalTimeoutConstant; }
  void SetWriteTotalTimeoutConstant(uint32_t v) {
    ChangeTimeout(timeouts_.WriteTotalTimeoutConstant, v);
  }

 private slots:
  // Called (queued) by the worker whenever it has added events to the link.
  void DrainWorkerEvents();

 private:
  template <class T>
  void ChangeLine(T& field, T value) {
    if (field == value) return;
    field = value;
    ApplyLineSettings();
  }
  template <class T>
  void ChangeTimeout(T& field, T value) {
    if (field == value) return;
    field = value;
    ApplyTimeouts();
  }
  void ApplyLineSettings();
  void ApplyTimeouts();
  void StopWorker();
  void OpenOnThisThread(std::shared_ptr<SerialLink> link);

  std::string commName_ = "COM2";
  TCommLineSettings line_;
  TCommTimeouts timeouts_;
  TFrameCompleteFn frameComplete_ = nullptr;
  uint32_t frameQuietMs_ = 0;

  std::shared_ptr<SerialLink> link_;  // set while open
  std::thread thread_;
  std::unique_ptr<SerialWorker> ownerWorker_;  // the worker when it runs on this thread
  bool ownThread_ = true;
  bool hungUp_ = false;
  bool sendQueueEmpty_ = true;
  uint64_t framesQueued_ = 0;
};

}  // namespace tessel
