#include "sim_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>

namespace tessel::sim {

namespace {

speed_t SpeedOf(int baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

bool MakeRaw(int fd, int baud, int stopBits, std::string& error) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    error = std::string("cannot read line settings: ") + std::strerror(errno);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  if (stopBits == 2) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, SpeedOf(baud));
  cfsetospeed(&tio, SpeedOf(baud));
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    error = std::string("cannot set line settings: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

double NowSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

uint16_t Crc16Modbus(const uint8_t* data, size_t n) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

bool IsSupportedBaud(int baud) {
  return SpeedOf(baud) != B0;
}

std::unique_ptr<SerialLine> SerialLine::OpenDevice(const std::string& path, int baud, int stopBits,
                                                   std::string& error) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (!isatty(fd)) {
    error = path + " is not a serial device";
    close(fd);
    return nullptr;
  }
  if (!MakeRaw(fd, baud, stopBits, error)) {
    close(fd);
    return nullptr;
  }
  tcflush(fd, TCIOFLUSH);
  return std::unique_ptr<SerialLine>(new SerialLine(fd, -1, path));
}

std::unique_ptr<SerialLine> SerialLine::CreatePty(int baud, int stopBits, std::string& error) {
  int master = -1, slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return nullptr;
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  // Raw on both ends: the slave's settings decide how the kernel treats the bytes.
  if (!MakeRaw(slave, baud, stopBits, error) || !MakeRaw(master, baud, stopBits, error)) {
    close(master);
    close(slave);
    return nullptr;
  }
  return std::unique_ptr<SerialLine>(new SerialLine(master, slave, name));
}

SerialLine::~SerialLine() {
  if (fd_ >= 0) close(fd_);
  if (keepFd_ >= 0) close(keepFd_);
}

long SerialLine::Read(uint8_t* buf, size_t n) {
  for (;;) {
    ssize_t r = read(fd_, buf, n);
    if (r >= 0) return r;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    // A pty master reports EIO while no one holds the slave; we hold it, so this is real.
    return -1;
  }
}

bool SerialLine::Write(const uint8_t* data, size_t n) {
  double until = NowSeconds() + 1.0;
  size_t done = 0;
  while (done < n) {
    ssize_t w = write(fd_, data + done, n - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    double left = until - NowSeconds();
    if (left <= 0) return false;
    pollfd p{fd_, POLLOUT, 0};
    poll(&p, 1, static_cast<int>(left * 1000) + 1);
  }
  return true;
}

std::vector<std::string> AsciiFramer::Feed(const uint8_t* data, size_t n) {
  std::vector<std::string> frames;
  for (size_t i = 0; i < n; ++i) {
    char c = static_cast<char>(data[i]);
    if (c == '~') {
      // A new start character abandons an unfinished frame.
      discarded_ += buf_.size();
      buf_.assign(1, c);
      inFrame_ = true;
    } else if (!inFrame_) {
      ++discarded_;
    } else if (c == '\r') {
      buf_ += c;
      frames.push_back(buf_);
      buf_.clear();
      inFrame_ = false;
    } else if (buf_.size() >= kMaxFrame) {
      discarded_ += buf_.size() + 1;
      buf_.clear();
      inFrame_ = false;
    } else {
      buf_ += c;
    }
  }
  return frames;
}

size_t AsciiFramer::TakeDiscarded() {
  size_t d = discarded_;
  discarded_ = 0;
  return d;
}

int RtuFramer::ExpectedLength(const std::vector<uint8_t>& b) {
  if (b.size() < 2) return 0;
  switch (b[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
      return 8;
    case 7:
    case 11:
    case 12:
    case 17:
      return 4;
    case 15:
    case 16:
      return b.size() < 7 ? 0 : 9 + b[6];
    default:
      return -1;
  }
}

size_t RtuFramer::NextCompleteFrame() const {
  for (size_t k = 1; k + 4 <= buf_.size(); ++k) {
    std::vector<uint8_t> rest(buf_.begin() + k, buf_.end());
    int len = ExpectedLength(rest);
    if (len > 0 && rest.size() >= static_cast<size_t>(len) && Crc16Modbus(rest.data(), len) == 0)
      return k;
  }
  return 0;
}

void RtuFramer::Extract(std::vector<std::vector<uint8_t>>& out, bool silent) {
  while (!buf_.empty()) {
    int len = ExpectedLength(buf_);
    if (len > 0 && buf_.size() >= static_cast<size_t>(len)) {
      if (Crc16Modbus(buf_.data(), len) == 0) {
        out.emplace_back(buf_.begin(), buf_.begin() + len);
        buf_.erase(buf_.begin(), buf_.begin() + len);
        continue;
      }
    } else if (silent) {
      // What is left ends here: a whole frame of an unknown function, or noise.
      if (len < 0 && buf_.size() >= 4 && Crc16Modbus(buf_.data(), buf_.size()) == 0) {
        out.push_back(buf_);
        buf_.clear();
        return;
      }
    } else {
      // The head needs more bytes or silence, unless it is noise before a complete frame.
      size_t skip = NextCompleteFrame();
      if (skip == 0) return;
      buf_.erase(buf_.begin(), buf_.begin() + skip);
      discarded_ += skip;
      continue;
    }
    // No frame starts here: drop one byte and look again.
    buf_.erase(buf_.begin());
    ++discarded_;
  }
}

std::vector<std::vector<uint8_t>> RtuFramer::Feed(const uint8_t* data, size_t n, double now) {
  std::vector<std::vector<uint8_t>> out;
  if (!buf_.empty() && now >= Deadline()) Extract(out, true);
  buf_.insert(buf_.end(), data, data + n);
  if (n > 0) last_ = now;
  Extract(out, false);
  // Bound the buffer: nothing valid is this long.
  if (buf_.size() > 512) {
    discarded_ += buf_.size();
    buf_.clear();
  }
  return out;
}

std::vector<std::vector<uint8_t>> RtuFramer::Idle(double now) {
  std::vector<std::vector<uint8_t>> out;
  if (!buf_.empty() && now >= Deadline()) Extract(out, true);
  return out;
}

double RtuFramer::Deadline() const {
  return buf_.empty() ? std::numeric_limits<double>::max() : last_ + silence_;
}

size_t RtuFramer::TakeDiscarded() {
  size_t d = discarded_;
  discarded_ = 0;
  return d;
}

}  // namespace tessel::sim
