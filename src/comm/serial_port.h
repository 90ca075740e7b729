// What the communication master needs of a serial port. The real one lives in the serial layer;
// tests put a fake behind it. Received chunks do not pass through here: whoever owns the port
// hands each chunk to TCommMaster::OnReceive on the user-interface thread.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tessel {

// Line settings that change between openings. Everything else is fixed: 8 data bits, no parity,
// DTR and RTS on, no flow control.
struct SerialPortSettings {
  std::string DeviceName;  // a platform device name, e.g. "/dev/ttyS0" or "/dev/pts/3"
  int32_t BaudRate = 0;
  uint8_t StopBits = 1;             // 1 or 2
  int32_t ReadIntervalTimeout = 0;  // ms of line silence that ends a received chunk
};

// An opening failure; what() is the port's own message (e.g. "Error opening serial port").
class SerialPortError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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
};

}  // namespace tessel
