#include "host/host.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace tessel {

namespace {

// Signals reach the event loop through a socket pair: the handler only writes one byte.
int g_signalFds[2] = {-1, -1};

void OnStopSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t r = write(g_signalFds[0], &c, 1);
}

}  // namespace

Host::Host(const ProgramPaths& paths, QObject* parent)
    : QObject(parent),
      logic_(paths, port_, clock_, [this] { return loop_.Now(); }),
      deadline_(logic_, loop_) {
  logic_.AddListener(this);
  port_.Comm().OnReceiveData = [this](const uint8_t* data, uint16_t n) {
    logic_.OnReceive(data, n);
  };
  port_.Comm().OnRequestHangup = [this] { logic_.OnHangUp(port_.Comm().CommName()); };
}

Host::~Host() {
  // The server reaches into the core and the loop.
  nut_.reset();
  if (signalNotifier_) {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    for (int& fd : g_signalFds) {
      if (fd >= 0) close(fd);
      fd = -1;
    }
  }
  logic_.RemoveListener(this);
  // The port's worker must be gone before the callbacks into this object are.
  port_.Close();
}

void Host::CatchStopSignals() {
  if (signalNotifier_ || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0)
    return;
  fcntl(g_signalFds[0], F_SETFL, O_NONBLOCK);
  signalNotifier_ = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, this);
  connect(signalNotifier_, &QSocketNotifier::activated, this, [this] {
    char buf[16];
    [[maybe_unused]] ssize_t r = read(g_signalFds[1], buf, sizeof buf);
    logic_.OnStopRequested();
  });
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

void Host::Start() {
  if (logic_.Started()) return;
  logic_.Start();
  StartNutServer();
}

void Host::StartNutServer() {
  std::string report;
  nut_ = StartNutListener(logic_, loop_, report);
  if (!report.empty()) emit nutServerReported(QString::fromStdString(report));  // switched on
}

void Host::Stop() {
  if (!logic_.Started() || logic_.Stopped()) return;
  if (nut_) nut_->Close();
  logic_.Stop();  // which disarms the deadline
}

std::string Host::OpenPort() {
  return logic_.OpenPort();
}

void Host::ClosePort() {
  logic_.ClosePort();
}

bool Host::PortIsOpen() const {
  return logic_.PortIsOpen();
}

void Host::RetryPortLater() {
  logic_.RetryPortLater();
}

void Host::PortOpenTried(const std::string& error) {
  emit portOpenTried(QString::fromStdString(error));
}

void Host::PortFailed(const std::string& device) {
  emit portFailed(QString::fromStdString(device));
}

void Host::PortRetried(const std::string& error) {
  emit portRetried(QString::fromStdString(error));
}

}  // namespace tessel
