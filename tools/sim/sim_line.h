// The serial line of the simulator: a device or a pseudo-terminal in raw mode, and the framing of
// the requests that arrive on it (ASCII frames from "~" to CR; Modbus RTU frames by length and
// by line silence).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessel::sim {

// Seconds on a monotonic clock.
double NowSeconds();

// CRC-16/MODBUS of n bytes (start 0xFFFF, polynomial 0xA001 reflected).
uint16_t Crc16Modbus(const uint8_t* data, size_t n);

class SerialLine {
 public:
  // Opens a serial device, raw 8N1 (or 8N2) at the given speed.
  static std::unique_ptr<SerialLine> OpenDevice(const std::string& path, int baud, int stopBits,
                                                std::string& error);
  // Creates a pseudo-terminal; its slave end is the path the monitor opens.
  static std::unique_ptr<SerialLine> CreatePty(int baud, int stopBits, std::string& error);
  ~SerialLine();
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  int Fd() const { return fd_; }
  const std::string& Path() const { return path_; }
  // Non-blocking read; returns bytes read, 0 when nothing is there, -1 on a line error.
  long Read(uint8_t* buf, size_t n);
  // Writes all bytes (waiting at most a second for room); false on failure.
  bool Write(const uint8_t* data, size_t n);

 private:
  SerialLine(int fd, int keepFd, std::string path) : fd_(fd), keepFd_(keepFd), path_(path) {}
  int fd_;
  int keepFd_;  // the pty slave, held open so the master never sees a hang-up
  std::string path_;
};

// Accepted baud rates (the line speeds the monitor offers and a few more).
bool IsSupportedBaud(int baud);

class AsciiFramer {
 public:
  // Returns the complete frames ("~" .. CR) found so far. Bytes outside a frame, and a frame
  // that grows too long without its CR, are dropped and counted.
  std::vector<std::string> Feed(const uint8_t* data, size_t n);
  size_t TakeDiscarded();

 private:
  static constexpr size_t kMaxFrame = 512;
  std::string buf_;
  bool inFrame_ = false;
  size_t discarded_ = 0;
};

class RtuFramer {
 public:
  explicit RtuFramer(double silenceSeconds) : silence_(silenceSeconds) {}
  // Bytes received at time now. Frames of the functions with a known request length are
  // returned as soon as they are complete and their CRC holds.
  std::vector<std::vector<uint8_t>> Feed(const uint8_t* data, size_t n, double now);
  // The line has been quiet since Deadline(): what is left is a frame (of an unknown function)
  // if its CRC holds, else noise.
  std::vector<std::vector<uint8_t>> Idle(double now);
  // When Idle is due; a huge value when nothing is pending.
  double Deadline() const;
  size_t TakeDiscarded();

 private:
  // Request length by function: > 0 known, 0 need more bytes, -1 unknown function.
  static int ExpectedLength(const std::vector<uint8_t>& b);
  void Extract(std::vector<std::vector<uint8_t>>& out, bool silent);
  // Offset of the first complete known-length frame with a good CRC after the head, or 0.
  size_t NextCompleteFrame() const;

  double silence_;
  double last_ = 0;
  std::vector<uint8_t> buf_;
  size_t discarded_ = 0;
};

}  // namespace tessel::sim
