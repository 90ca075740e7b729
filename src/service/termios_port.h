// The daemon's serial port: a terminal device opened with termios and driven by the service's
// event loop, keeping TComm's contract without Qt. Chunks are cut at line silence (ChunkCutter);
// frames go out whole and in order through a non-blocking descriptor. Everything runs on the
// loop's thread, with no thread of its own: one wake-up per arrival and one per chunk deadline,
// nothing watched beyond the descriptor and nothing armed while the line is idle.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "comm/serial_port.h"
#include "service/chunk_cutter.h"
#include "service/event_loop.h"

namespace tessel {

class TermiosPort : public SerialPort {
 public:
  // The loop must outlive the port.
  explicit TermiosPort(EventLoop& loop);
  ~TermiosPort() override;  // closes, without events
  TermiosPort(const TermiosPort&) = delete;
  TermiosPort& operator=(const TermiosPort&) = delete;

  // A received chunk; data[n] is a zero byte, as TComm gives it.
  std::function<void(const uint8_t* data, int n)> OnReceive;
  // The device went away (the far end hung up, the adapter was pulled). Reported once per
  // opening; the port then stays open and quiet, refusing frames, until Close. Either handler
  // may call Close or Open.
  std::function<void()> OnHangUp;

  // Opens SerialDevicePath(s.DeviceName) exclusively, raw 8N1 at s.BaudRate without flow control,
  // DTR and RTS on; an open port is closed first. Throws SerialPortError with TComm's messages
  // (and EINVAL for a speed termios has no name for). A ReadIntervalTimeout of zero or less hands
  // over what each read brings at once.
  void Open(const SerialPortSettings& s) override;
  void Close() override;
  bool IsOpen() const override { return open_; }
  // Writes what the device takes now and queues the rest, behind earlier frames.
  bool Send(const uint8_t* data, int n) override;
  std::vector<SerialPortListing> ListPorts() const override;

  // The device path the last Open tried, whether or not it opened.
  const std::string& DeviceName() const { return device_; }
  // When the pending chunk closes (on the loop's clock) unless more bytes arrive; -1 with none.
  int64_t ChunkDeadline() const { return cutter_.Deadline(); }

 private:
  enum class Outcome { Going, Closed };  // Closed: a handler closed or reopened the port

  void OnReady();
  void OnDeadline();
  Outcome ReadAvailable(bool& gotBytes);
  Outcome Flush(bool& wroteBytes);
  Outcome Deliver(std::vector<uint8_t> chunk);
  Outcome HangUp();
  void ReleaseDevice();
  void WatchDevice();
  void UpdateTimer();

  EventLoop& loop_;
  EventLoop::TimerId timer_;
  int fd_ = -1;  // -1 when closed and after a hang-up
  bool open_ = false;
  bool hungUp_ = false;
  bool watchingWrite_ = false;
  uint64_t session_ = 0;  // changes with every Open and Close
  std::string device_;
  ChunkCutter cutter_;
  std::deque<std::vector<uint8_t>> pending_;  // frames not yet (wholly) written, oldest first
  size_t pendingOffset_ = 0;                  // bytes of the first already written
};

// The serial ports the system has: entries of sysClassTty with a device behind them (not the
// virtual consoles), without the UART slots that have no chip (type 0), as devFolder paths sorted
// by path. The description is the USB product and maker when there are any.
std::vector<SerialPortListing> ListTtyPorts(const std::string& sysClassTty = "/sys/class/tty",
                                            const std::string& devFolder = "/dev");

}  // namespace tessel
