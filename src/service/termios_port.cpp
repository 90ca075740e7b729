#include "service/termios_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>

#include "serial/serial_device.h"

namespace tessel {

namespace {

constexpr int64_t kNanosPerMs = 1'000'000;

std::optional<speed_t> SpeedOf(int32_t baudRate) {
  static constexpr std::pair<int32_t, speed_t> kSpeeds[] = {
      {50, B50},           {75, B75},           {110, B110},         {134, B134},
      {150, B150},         {200, B200},         {300, B300},         {600, B600},
      {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
      {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
      {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& [rate, speed] : kSpeeds)
    if (rate == baudRate) return speed;
  return std::nullopt;
}

// The device has gone away (hung up, unplugged) or failed: what poll says beside readiness.
bool DeviceGone(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

TermiosPort::TermiosPort(EventLoop& loop)
    : loop_(loop), timer_(loop.AddTimer([this] { OnDeadline(); })) {}

TermiosPort::~TermiosPort() {
  Close();
  loop_.RemoveTimer(timer_);
}

void TermiosPort::Open(const SerialPortSettings& s) {
  Close();
  const std::string path = SerialDevicePath(s.DeviceName);
  device_ = path;

  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int openErrno = errno;
    // Told the way TComm tells it: missing, busy or forbidden, or no terminal at all.
    const std::optional<SerialOpenFailure> failure = DescribeSerialOpenFailure(path);
    throw SerialPortError(failure ? failure->Message : kCommOpenFailed, path,
                          failure ? failure->SysError : openErrno);
  }
  bool exclusive = false;
  auto refuse = [&](const char* message, int sysError) {
    if (exclusive) ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    throw SerialPortError(message, path, sysError);
  };
  if (::isatty(fd) != 1) refuse(kCommNotCommHandle, 0);
  // The exclusive mode another program (or another port of ours) set keeps out only those
  // without privilege; a daemon running as root must respect it all the same.
  int held = 0;
  if (::ioctl(fd, TIOCGEXCL, &held) == 0 && held != 0) refuse(kCommOpenFailed, EBUSY);
  // The lock goes with this opening and away with it, even when the process dies.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) refuse(kCommOpenFailed, EBUSY);
  exclusive = ::ioctl(fd, TIOCEXCL) == 0;

  // A rate the terminal interface cannot name would leave the line at whatever speed it had.
  const std::optional<speed_t> speed = SpeedOf(s.BaudRate);
  if (!speed) refuse(kCommOpenFailed, EINVAL);
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) refuse(kCommOpenFailed, errno);
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~(IXOFF | IXANY | INPCK);
  tio.c_iflag |= IGNPAR;  // bytes with framing errors are dropped, as TComm is set up
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD | (s.StopBits == 2 ? CSTOPB : 0);
  // VMIN 1: with none, a read finding nothing returns 0 (end of file) instead of EAGAIN.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, *speed);
  ::cfsetospeed(&tio, *speed);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) refuse(kCommOpenFailed, errno);
  // Pseudo-terminals have no modem lines and refuse this; nothing depends on it.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ::ioctl(fd, TIOCMBIS, &lines);
  ::tcflush(fd, TCIOFLUSH);  // nothing from before this opening

  fd_ = fd;
  open_ = true;
  hungUp_ = false;
  ++session_;
  cutter_.Configure(int64_t{s.ReadIntervalTimeout} * kNanosPerMs, s.AnswerComplete,
                    int64_t{s.AnswerQuietMs} * kNanosPerMs);
  WatchDevice();
}

void TermiosPort::Close() {
  if (!open_) return;
  ++session_;
  ReleaseDevice();
  cutter_.Clear();
  open_ = false;
  hungUp_ = false;
}

void TermiosPort::ReleaseDevice() {
  loop_.Disarm(timer_);
  pending_.clear();
  pendingOffset_ = 0;
  watchingWrite_ = false;
  if (fd_ < 0) return;
  loop_.Unwatch(fd_);
  // Unsent output would keep close() waiting for a stalled line to drain.
  ::tcflush(fd_, TCIOFLUSH);
  // The exclusive mode outlives this descriptor while someone else keeps the terminal open.
  ::ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

bool TermiosPort::Send(const uint8_t* data, int n) {
  if (!open_ || hungUp_ || data == nullptr || n <= 0) return false;
  size_t done = 0;
  if (pending_.empty()) {
    // Nothing queued ahead: a poll request fits the device's buffer and goes out now. An error
    // leaves the frame queued; the wake-up for it reports the failure from the loop.
    ssize_t w;
    do {
      w = ::write(fd_, data, static_cast<size_t>(n));
    } while (w < 0 && errno == EINTR);
    if (w == n) return true;
    if (w > 0) done = static_cast<size_t>(w);
  }
  pending_.emplace_back(data + done, data + n);
  if (!watchingWrite_) {
    watchingWrite_ = true;
    WatchDevice();
  }
  return true;
}

std::vector<SerialPortListing> TermiosPort::ListPorts() const {
  return ListTtyPorts();
}

void TermiosPort::WatchDevice() {
  loop_.Watch(fd_, true, watchingWrite_, [this] { OnReady(); });
}

void TermiosPort::UpdateTimer() {
  if (cutter_.Pending())
    loop_.Arm(timer_, cutter_.Deadline());
  else
    loop_.Disarm(timer_);
}

void TermiosPort::OnReady() {
  bool gotBytes = false, wroteBytes = false;
  if (ReadAvailable(gotBytes) == Outcome::Closed) return;
  if (!pending_.empty() && Flush(wroteBytes) == Outcome::Closed) return;
  // Woken with nothing to read or write: a hang-up or an error that read() did not show.
  if (!gotBytes && !wroteBytes && DeviceGone(fd_)) {
    HangUp();
    return;
  }
  UpdateTimer();
}

void TermiosPort::OnDeadline() {
  if (!open_ || hungUp_) return;
  // Bytes that reached the device before this wake-up but are still unread belong to the chunk:
  // a late wake-up must not hand over a complete answer that has bytes trailing it.
  bool gotBytes = false;
  if (ReadAvailable(gotBytes) == Outcome::Closed) return;
  if (cutter_.Pending() && cutter_.Deadline() <= loop_.Now() &&
      Deliver(cutter_.Take()) == Outcome::Closed) {
    return;
  }
  UpdateTimer();
}

TermiosPort::Outcome TermiosPort::ReadAvailable(bool& gotBytes) {
  const int64_t now = loop_.Now();
  uint8_t buffer[ChunkCutter::kMaxChunk];
  for (;;) {
    const size_t want = cutter_.Space();
    const ssize_t n = ::read(fd_, buffer, want);
    if (n > 0) {
      gotBytes = true;
      cutter_.Add(buffer, static_cast<size_t>(n), now);
      if (cutter_.Full() && Deliver(cutter_.Take()) == Outcome::Closed) return Outcome::Closed;
      // Less than asked for: the device holds nothing more for now.
      if (static_cast<size_t>(n) < want) return Outcome::Going;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Outcome::Going;
    if (n == 0 && !DeviceGone(fd_)) return Outcome::Going;
    return HangUp();  // end of file, or a failing device (EIO once the far end is gone)
  }
}

TermiosPort::Outcome TermiosPort::Flush(bool& wroteBytes) {
  while (!pending_.empty()) {
    const std::vector<uint8_t>& frame = pending_.front();
    const ssize_t w = ::write(fd_, frame.data() + pendingOffset_, frame.size() - pendingOffset_);
    if (w > 0) {
      wroteBytes = true;
      pendingOffset_ += static_cast<size_t>(w);
      if (pendingOffset_ == frame.size()) {
        pending_.pop_front();
        pendingOffset_ = 0;
      }
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return HangUp();
  }
  if (pending_.empty() && watchingWrite_) {
    // A descriptor watched for writing when nothing waits would wake the loop at once, forever.
    watchingWrite_ = false;
    WatchDevice();
  }
  return Outcome::Going;
}

TermiosPort::Outcome TermiosPort::Deliver(std::vector<uint8_t> chunk) {
  const uint64_t session = session_;
  // A copy: the handler may replace itself.
  if (auto handler = OnReceive) handler(chunk.data(), static_cast<int>(chunk.size() - 1));
  return session == session_ ? Outcome::Going : Outcome::Closed;
}

TermiosPort::Outcome TermiosPort::HangUp() {
  // The descriptor goes now: a dead one stays ready and would wake the loop without end.
  hungUp_ = true;
  ReleaseDevice();
  // What arrived before the failure still counts.
  if (cutter_.Pending() && Deliver(cutter_.Take()) == Outcome::Closed) return Outcome::Closed;
  if (auto handler = OnHangUp) handler();
  return Outcome::Closed;
}

std::vector<SerialPortListing> ListTtyPorts(const std::string& sysClassTty,
                                            const std::string& devFolder) {
  namespace fs = std::filesystem;
  auto readLine = [](const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!line.empty() && isSpace(line.back())) line.pop_back();
    line.erase(line.begin(), std::find_if_not(line.begin(), line.end(), isSpace));
    return line;
  };

  std::vector<SerialPortListing> ports;
  std::error_code ec;
  for (fs::directory_iterator it(sysClassTty, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path entry = it->path();
    std::error_code ignored;
    // Virtual consoles and pseudo-terminals have no device behind them.
    if (!fs::exists(entry / "device", ignored)) continue;
    // The fixed UART slots (/dev/ttyS*) exist whether or not a chip answers; type 0 says none.
    if (fs::exists(entry / "type", ignored) && readLine(entry / "type") == "0") continue;

    SerialPortListing port;
    port.Path = devFolder + "/" + entry.filename().string();
    // A USB adapter: the product and maker of the USB device a few levels above the port.
    std::string product, maker;
    fs::path device = fs::canonical(entry / "device", ignored);
    for (int up = 0; !ignored && up < 4 && device.has_relative_path(); ++up) {
      if (fs::exists(device / "product", ignored)) {
        product = readLine(device / "product");
        maker = readLine(device / "manufacturer");
        break;
      }
      device = device.parent_path();
    }
    // "FT232R USB UART (FTDI)": the maker only when the product does not already name it.
    port.Description = product.empty() ? maker : product;
    if (!product.empty() && !maker.empty() && product.find(maker) == std::string::npos)
      port.Description += " (" + maker + ")";
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortListing& a, const SerialPortListing& b) { return a.Path < b.Path; });
  return ports;
}

}  // namespace tessel
