// The worker side of TComm: a thread that owns the QSerialPort, and the link through which it
// trades commands and events with the owner.
//
// Everything that crosses threads goes through SerialLink under its std::mutex; the queued Qt
// calls between the two sides carry no data and only say "look at the link". That keeps every
// hand-over visible to the thread sanitizer, which cannot see Qt's own (uninstrumented) locks.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QSerialPort>
#include <QTimer>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace tessel {

struct SerialCommand {
  enum class Kind { Frame, LineSettings, Timeouts, Stop };
  Kind kind = Kind::Stop;
  std::vector<uint8_t> bytes;  // Frame
  TCommLineSettings line;      // LineSettings
  TCommTimeouts timeouts;      // Timeouts
};

struct SerialEvent {
  enum class Kind { Data, SendDataEmpty, Hangup, ReceiveError, ModemStateChange };
  Kind kind = Kind::Data;
  std::vector<uint8_t> bytes;  // Data: the chunk followed by one zero byte
  uint64_t value = 0;          // flags, or for SendDataEmpty the number of frames written
};

struct SerialLink {
  enum class Phase { Starting, Running, OpenFailed, Finished };

  // Fixed before the worker starts.
  std::string devicePath;
  TCommLineSettings line;
  TCommTimeouts timeouts;
  TFrameCompleteFn frameComplete = nullptr;
  uint32_t frameQuietMs = 0;
  QObject* owner = nullptr;
  // The owner has no OnSendDataEmpty handler: the report rides along with the next event instead
  // of waking the owner for itself (one wake-up less per frame; SendQueueEmpty may then lag).
  bool quietSendEmpty = false;

  std::mutex mutex;
  std::condition_variable changed;  // phase changes
  Phase phase = Phase::Starting;
  std::string openError;
  int openErrno = 0;
  QObject* worker = nullptr;  // set while the worker's event loop accepts commands
  std::deque<SerialCommand> commands;
  std::deque<SerialEvent> events;
  bool ownerWakePending = false;  // a DrainWorkerEvents call is on its way to the owner
  bool stopping = false;          // the owner no longer wants events
  // The device's descriptor while the worker holds no unsent bytes and no commands in hand, else
  // -1. The owner may then write a frame itself: nothing can be ahead of it, and the worker only
  // closes the descriptor after clearing this under the lock.
  int idleFd = -1;
  uint64_t framesWritten = 0;  // frames handed to the device, by either side

  // Owner side: queue a command and wake the worker.
  void PostCommand(SerialCommand command);
  // Owner side: a frame, written at once when the line is idle (no wake-up of the worker), else
  // queued for the worker; bytes the device did not take are queued behind nothing.
  void PostFrame(std::vector<uint8_t> bytes);
  // Worker side: queue an event and wake the owner (unless told not to: the event then waits for
  // the next one that wakes it).
  void PostEvent(SerialEvent event, bool wakeOwner = true);
  void SetPhase(Phase value);

 private:
  void PostCommandLocked(SerialCommand command);
  void PostEventLocked(SerialEvent event, bool wakeOwner);
};

class SerialWorker : public QObject {
  Q_OBJECT

 public:
  // loop is the worker thread's event loop, ended by the stop command; null for a worker on the
  // owner's thread, which the owner destroys instead.
  SerialWorker(SerialLink& link, QEventLoop* loop);
  ~SerialWorker() override;

  // Opens and configures the device; returns the failure message, empty on success. After a
  // failure OpenErrno() holds the system's reason (0 when there is none to tell).
  std::string Open();
  int OpenErrno() const { return openErrno_; }

 public slots:
  void DrainCommands();

 private:
  void WriteFrame(const std::vector<uint8_t>& frame);
  void OnReadyRead();
  void OnBytesWritten();
  void OnError(QSerialPort::SerialPortError error);
  void HandleFault();
  void EndChunk();
  void ApplyLineSettings();
  void ReportEmptyIfDone();
  void ClosePortNow();

 public:
  // Offers the descriptor for the owner's direct writes when nothing is pending here.
  void UpdateIdleFd();

 private:
  SerialLink& link_;
  QEventLoop* loop_;
  QSerialPort* port_ = nullptr;
  QTimer silence_;
  QTimer total_;
  TCommLineSettings line_;
  TCommTimeouts timeouts_;
  const TFrameCompleteFn frameComplete_;
  const uint32_t frameQuietMs_;
  std::vector<uint8_t> chunk_;
  bool reportEmpty_ = false;  // frames went out since the last empty report
  bool faulted_ = false;
  bool stopped_ = false;
  int openErrno_ = 0;
};

// The body of the worker thread: opens the device, reports the outcome through the link and,
// when open, runs the thread's event loop until the owner asks it to stop.
void RunSerialWorker(std::shared_ptr<SerialLink> link);

// The message for a device QSerialPort could not open: whether the path is missing or busy,
// or names something that is no terminal. sysError receives the system's reason (an errno
// value: ENOENT, EACCES, EBUSY, ...), or 0 when the message says all there is to say.
std::string ClassifyOpenFailure(const std::string& path, QSerialPort::SerialPortError error,
                                int& sysError);

}  // namespace tessel
