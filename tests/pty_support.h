// A pseudo-terminal whose far end a test drives, for every test of a serial port (TComm and the
// daemon's termios port). Plain C++, so that tests without Qt can use it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tessel::testing_support {

using Bytes = std::vector<uint8_t>;

inline Bytes Pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

class Pty {
 public:
  Pty() {
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
      ADD_FAILURE() << "openpty failed";
      return;
    }
    path_ = ::ttyname(slave_);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  }
  ~Pty() {
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& Path() const { return path_; }
  // The test keeps the near end open too, to read the line settings the port applied.
  termios SlaveSettings() const {
    termios tio{};
    ::tcgetattr(slave_, &tio);
    return tio;
  }
  speed_t SlaveSpeed() const {
    const termios tio = SlaveSettings();
    return cfgetospeed(&tio);
  }
  void SetSlaveSettings(const termios& tio) { ::tcsetattr(slave_, TCSANOW, &tio); }

  void Write(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else {
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 100);
      }
    }
  }
  void Write(const std::string& text) { Write(Bytes(text.begin(), text.end())); }

  // Appends whatever the port has written so far.
  void ReadInto(Bytes& out) {
    uint8_t buffer[4096];
    for (;;) {
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) return;
      out.insert(out.end(), buffer, buffer + n);
    }
  }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace tessel::testing_support
