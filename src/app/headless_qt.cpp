#include "app/headless_qt.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include "model/clock.h"

namespace tessel {

namespace {

// Signals reach the event loop through a socket pair: the handler only writes one byte.
int g_signalFds[2] = {-1, -1};

void OnStopSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t r = write(g_signalFds[0], &c, 1);
}

}  // namespace

HeadlessMonitor::HeadlessMonitor(const ProgramPaths& paths, std::FILE* out)
    : out_(out), monitor_(paths, port_, clock_) {
  pollTimer_.setTimerType(Qt::PreciseTimer);
  connect(&pollTimer_, &QTimer::timeout, this, [this] { monitor_.Tick(); });
  retryTimer_.setSingleShot(true);
  connect(&retryTimer_, &QTimer::timeout, this, [this] { TryOpenPort(); });

  port_.Comm().OnReceiveData = [this](const uint8_t* data, uint16_t n) {
    monitor_.OnReceive(data, n);
  };
  port_.Comm().OnRequestHangup = [this] {
    // The device went away (adapter pulled, far end closed): close it and keep trying, so an
    // unattended monitor picks the line up again when it comes back.
    Print("Serial port " + port_.Comm().CommName() + " failed; reopening every 10 s");
    monitor_.Master().CloseComm();
    retryTimer_.start(kPortRetryMs);
  };

  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) == 0) {
    fcntl(g_signalFds[0], F_SETFL, O_NONBLOCK);
    signalNotifier_ = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, this);
    connect(signalNotifier_, &QSocketNotifier::activated, this, [this] {
      char buf[16];
      [[maybe_unused]] ssize_t r = read(g_signalFds[1], buf, sizeof buf);
      Stop();
    });
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }
}

HeadlessMonitor::~HeadlessMonitor() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  for (int& fd : g_signalFds) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void HeadlessMonitor::Print(const std::string& line) {
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

void HeadlessMonitor::Start() {
  monitor_.StartUp(*this);
}

int HeadlessMonitor::Run() {
  Start();
  return QCoreApplication::exec();
}

void HeadlessMonitor::AfterLogStores() {
  monitor_.EventLog().OnAppended = [this](const TEventRec& rec) {
    Print(EventLine(rec, monitor_.Ctx().settings.Language));
  };
}

void HeadlessMonitor::StartPollTimer() {
  pollTimer_.start(100);
}

void HeadlessMonitor::AfterPortOpen(const std::string& error) {
  if (error.empty()) {
    Print(PortStatusText(monitor_.Ctx().settings));
    return;
  }
  // A ComName that names no port already comes back as the general text; say it once.
  const std::string text = PortOpenErrorText(monitor_.Ctx().settings.Language);
  Print(error == text ? text : text + " (" + error + ")");
  retryTimer_.start(kPortRetryMs);
}

void HeadlessMonitor::TryOpenPort() {
  if (stopped_) return;
  AfterPortOpen(monitor_.OpenPort());
}

void HeadlessMonitor::Stop() {
  if (stopped_) return;
  stopped_ = true;
  pollTimer_.stop();
  retryTimer_.stop();
  monitor_.ShutDown();
  QCoreApplication::quit();
}

}  // namespace tessel
