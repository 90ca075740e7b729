// What the communication master needs of a serial port. The real one lives in the serial layer;
// tests put a fake behind it. Received chunks do not pass through here: whoever owns the port
// hands each chunk to TCommMaster::OnReceive on the user-interface thread.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/frame_end.h"

namespace tessel {

// Line settings that change between openings. Everything else is fixed: 8 data bits, no parity,
// DTR and RTS on, no flow control.
struct SerialPortSettings {
  std::string DeviceName;  // a platform device name, e.g. "/dev/ttyS0" or "/dev/pts/3"
  int32_t BaudRate = 0;
  uint8_t StopBits = 1;             // 1 or 2
  int32_t ReadIntervalTimeout = 0;  // ms of line silence that ends a received chunk
  // Set: a chunk that is one complete answer by this test ends after AnswerQuietMs of silence
  // instead (fast polling). Null: only the silence above ends a chunk.
  AnswerCompleteFn AnswerComplete = nullptr;
  int32_t AnswerQuietMs = 0;
};

// An opening failure; what() is the port's own message (e.g. "Error opening serial port").
// Device and SysError say which device refused and the system's reason (an errno value, 0 when
// there is none), so that the operator can be told what to do about it.
class SerialPortError : public std::runtime_error {
 public:
  explicit SerialPortError(const std::string& message, std::string device = {}, int sysError = 0)
      : std::runtime_error(message), device_(std::move(device)), sysError_(sysError) {}
  const std::string& Device() const { return device_; }
  int SysError() const { return sysError_; }

 private:
  std::string device_;
  int sysError_ = 0;
};

// A serial port this computer has: its device path and a description for people.
struct SerialPortListing {
  std::string Path;
  std::string Description;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Throws SerialPortError when the device cannot be opened; the port is then closed.
  virtual void Open(const SerialPortSettings& settings) = 0;
  // Does nothing when closed.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Queues a copy of the frame; false when it cannot (port closed, empty frame).
  virtual bool Send(const uint8_t* data, int n) = 0;
  // The serial ports this computer has, for telling the operator which ones exist.
  virtual std::vector<SerialPortListing> ListPorts() const { return {}; }
};

}  // namespace tessel
