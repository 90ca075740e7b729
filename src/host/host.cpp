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
    : QObject(parent),
      monitor_(paths, port_, clock_),
      pacer_([this] { return tickClock_.nsecsElapsed(); }, [this] { RunTick(); },
             [this] { return monitor_.Master().IdleTicksAhead(); }) {
  tickClock_.start();
  pollTimer_.setTimerType(Qt::PreciseTimer);
  pollTimer_.setSingleShot(true);
  connect(&pollTimer_, &QTimer::timeout, this, &Host::PollTimerFired);
  retryTimer_.setSingleShot(true);
  connect(&retryTimer_, &QTimer::timeout, this, &Host::Retry);

  port_.Comm().OnReceiveData = [this](const uint8_t* data, uint16_t n) { Receive(data, n); };
  port_.Comm().OnRequestHangup = [this] { HangUp(); };
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
    emit stopRequested();
  });
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

void Host::Start() {
  if (started_) return;
  started_ = true;
  monitor_.StartUp(*this);
  StartNutServer();
}

void Host::StartNutServer() {
  const ProgramPaths& paths = monitor_.Paths();
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

void Host::AfterSettingsRead() {
  emit settingsRead();
}

void Host::AfterLogStores() {
  monitor_.EventLog().OnAppended = [this](const TEventRec& rec) { emit eventAppended(rec); };
  emit logStoresReady();
}

void Host::AfterDeviceList(const DeviceListLoad& load) {
  listLoad_ = load;
  emit deviceListLoaded();
}

void Host::StartPollTimer() {
  pacer_.Start();
  Rearm();
}

void Host::CatchUp() {
  if (stopped_) return;
  pacer_.CatchUp();
}

void Host::Rearm() {
  if (!pacer_.Running() || stopped_) return;
  const int64_t waitNs = pacer_.NanosUntilNextWork();
  if (waitNs == PollPacer::kNoWork) {
    pollTimer_.stop();  // nothing to do until a handler changes the state
    return;
  }
  // Rounded up to whole milliseconds: a timer that fires even a fraction early finds its tick not
  // yet due and costs a second wake-up.
  const int64_t wait = (waitNs + 999'999) / 1'000'000;
  pollTimer_.start(static_cast<int>(std::min<int64_t>(wait, INT32_MAX)));
}

void Host::PollTimerFired() {
  CatchUp();
  Rearm();
}

void Host::AfterPortOpen(const std::string& error) {
  SetPortState(PortIsOpen());
  Rearm();
  emit portOpenTried(QString::fromStdString(error));
}

void Host::Stop() {
  if (!started_ || stopped_) return;
  CatchUp();
  stopped_ = true;
  pacer_.Stop();
  if (nut_) nut_->Close();
  pollTimer_.stop();
  retryTimer_.stop();
  monitor_.ShutDown();
  SetPortState(false);
}

std::string Host::OpenPort() {
  CatchUp();
  retryTimer_.stop();
  // Units listed while the port was closed start afresh too.
  if (!portOpen_) monitor_.ClearListedRecords();
  const std::string error = monitor_.OpenPort();
  SetPortState(PortIsOpen());
  Rearm();
  return error;
}

void Host::ClosePort() {
  CatchUp();
  retryTimer_.stop();
  monitor_.Master().CloseComm();
  SetPortState(false);
  Rearm();
}

bool Host::PortIsOpen() const {
  return port_.IsOpen();
}

void Host::RetryPortLater() {
  if (!stopped_) retryTimer_.start(kPortRetryMs);
}

void Host::Retry() {
  if (stopped_) return;
  const std::string error = OpenPort();
  // Every front end alike: on until the port opens (or the operator opens or closes it).
  if (!error.empty()) RetryPortLater();
  emit portRetried(QString::fromStdString(error));
}

void Host::RunTick() {
  const int32_t sent = monitor_.Ctx().comm.Debug.SendCnt;
  const int changed = monitor_.Tick();
  if (changed >= 0) emit deviceUpdated(static_cast<uint8_t>(changed));
  if (monitor_.Ctx().comm.Debug.SendCnt != sent) emit lineActivity();
}

void Host::Receive(const uint8_t* data, int n) {
  if (stopped_) return;
  CatchUp();
  // Fast polling has the next request out before OnReceive returns, CurAddr naming its target.
  const uint8_t answered = monitor_.Ctx().model.EquipList.CurAddr;
  const bool accepted = monitor_.OnReceive(data, n);
  Rearm();
  if (accepted) emit deviceUpdated(answered);
  emit lineActivity();
}

void Host::HangUp() {
  // The device went away (adapter pulled, far end closed): close it and keep trying, so an
  // unattended monitor picks the line up again when it comes back.
  const QString name = QString::fromStdString(port_.Comm().CommName());
  CatchUp();
  monitor_.Master().CloseComm();
  SetPortState(false);
  Rearm();
  RetryPortLater();
  emit portFailed(name);
}

void Host::SetPortState(bool open) {
  if (open == portOpen_) return;
  portOpen_ = open;
  // A closed port: no unit's values are current any more, in every front end alike.
  if (!open) monitor_.ClearListedRecords();
  emit portStateChanged(open);
}

}  // namespace tessel
