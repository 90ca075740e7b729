#include "host/host.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>

#include "app/settings_file.h"
#include "host/nut_server.h"
#include "model/param_items.h"
#include "nut/nut_config.h"

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
    : QObject(parent), logic_(paths, port_, clock_, [] { return MonotonicNanos(); }) {
  deadline_.setTimerType(Qt::PreciseTimer);
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, this, [this] { logic_.OnDeadline(); });
  logic_.ArmDeadline = [this](int64_t at) {
    if (at == HostLogic::kNoDeadline) {
      deadline_.stop();  // nothing to do until a handler changes the state
      return;
    }
    // Rounded up to whole milliseconds: a timer that fires even a fraction early finds its tick
    // not yet due and costs a second wake-up.
    const int64_t wait = std::max<int64_t>(at - MonotonicNanos(), 0);
    deadline_.start(static_cast<int>(std::min<int64_t>((wait + 999'999) / 1'000'000, INT32_MAX)));
  };
  logic_.AddListener(this);
  port_.Comm().OnReceiveData = [this](const uint8_t* data, uint16_t n) {
    logic_.OnReceive(data, n);
  };
  port_.Comm().OnRequestHangup = [this] { logic_.OnHangUp(port_.Comm().CommName()); };
}

Host::~Host() {
  // The server reaches into the core, which is gone before the QObject children are.
  delete nut_;
  nut_ = nullptr;
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
  const ProgramPaths& paths = logic_.Paths();
  const NutServerConfig config = ReadNutServerConfig(paths.SettingsFile, paths.Home);
  if (!config.Enabled) return;
  NutUsers users = LoadNutUsers(config.UsersFile);
  std::string report;
  for (const std::string& p : users.Problems)
    report += "NUT users file " + config.UsersFile + ": " + p + "\n";
  if (!config.ModelCode.empty() && !IsAcceptedModelCode(config.ModelCode))
    report +=
        "NUT server: " + config.ModelCode + " is no model code; parameters cannot be written\n";
  nut_ = new NutServer(*this, this);
  const std::string error = nut_->Listen(config, std::move(users));
  if (error.empty()) {
    report += "NUT server listening on " + nut_->Where();
  } else {
    report += "NUT server cannot listen on " + config.Listen + ":" + std::to_string(config.Port) +
              ": " + error;
    delete nut_;
    nut_ = nullptr;
  }
  emit nutServerReported(QString::fromStdString(report));
}

void Host::Stop() {
  if (!logic_.Started() || logic_.Stopped()) return;
  logic_.CatchUp();
  if (nut_) nut_->Close();
  logic_.Stop();
  deadline_.stop();
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
