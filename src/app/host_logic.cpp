#include "app/host_logic.h"

#include <algorithm>

namespace tessel {

HostLogic::HostLogic(const ProgramPaths& paths, SerialPort& port, const Clock& clock,
                     std::function<int64_t()> now)
    : now_(std::move(now)),
      port_(port),
      monitor_(paths, port, clock),
      pacer_(
          now_, [this] { RunTick(); }, [this] { return monitor_.Master().IdleTicksAhead(); }) {}

HostLogic::~HostLogic() = default;

void HostLogic::AddListener(HostListener* listener) {
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
    listeners_.push_back(listener);
}

void HostLogic::RemoveListener(HostListener* listener) {
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void HostLogic::Start() {
  if (started_) return;
  started_ = true;
  monitor_.StartUp(*this);
}

void HostLogic::AfterSettingsRead() {
  Tell([](HostListener& l) { l.SettingsRead(); });
}

void HostLogic::AfterLogStores() {
  monitor_.EventLog().OnAppended = [this](const TEventRec& rec) {
    Tell([&rec](HostListener& l) { l.EventAppended(rec); });
  };
  Tell([](HostListener& l) { l.LogStoresReady(); });
}

void HostLogic::AfterDeviceList(const DeviceListLoad& load) {
  listLoad_ = load;
  Tell([](HostListener& l) { l.DeviceListLoaded(); });
}

void HostLogic::StartPollTimer() {
  pacer_.Start();
  Rearm();
}

void HostLogic::AfterPortOpen(const std::string& error) {
  SetPortState(PortIsOpen());
  Rearm();
  Tell([&error](HostListener& l) { l.PortOpenTried(error); });
}

void HostLogic::Stop() {
  if (!started_ || stopped_) return;
  CatchUp();
  stopped_ = true;
  pacer_.Stop();
  retryAt_ = kNoDeadline;
  monitor_.ShutDown();
  SetPortState(false);
  Rearm();
}

void HostLogic::CatchUp() {
  if (stopped_) return;
  pacer_.CatchUp();
}

int64_t HostLogic::NextDeadline() const {
  if (stopped_) return kNoDeadline;
  int64_t next = kNoDeadline;
  if (pacer_.Running()) {
    const int64_t wait = pacer_.NanosUntilNextWork();
    if (wait != PollPacer::kNoWork) next = now_() + wait;
  }
  if (retryAt_ != kNoDeadline && (next == kNoDeadline || retryAt_ < next)) next = retryAt_;
  return next;
}

void HostLogic::Rearm() {
  const int64_t next = NextDeadline();
  if (next == armed_) return;
  armed_ = next;
  if (ArmDeadline) ArmDeadline(next);
}

void HostLogic::OnDeadline() {
  if (stopped_) return;
  armed_ = kNoDeadline;  // it fired
  CatchUp();
  if (retryAt_ != kNoDeadline && now_() >= retryAt_) Retry();
  Rearm();
}

std::string HostLogic::OpenPort() {
  CatchUp();
  retryAt_ = kNoDeadline;
  // Units listed while the port was closed start afresh too.
  if (!portOpen_) monitor_.ClearListedRecords();
  const std::string error = monitor_.OpenPort();
  SetPortState(PortIsOpen());
  Rearm();
  return error;
}

void HostLogic::ClosePort() {
  CatchUp();
  retryAt_ = kNoDeadline;
  monitor_.Master().CloseComm();
  SetPortState(false);
  Rearm();
}

bool HostLogic::PortIsOpen() const {
  return port_.IsOpen();
}

void HostLogic::RetryPortLater() {
  if (stopped_) return;
  retryAt_ = now_() + kPortRetryNs;
  Rearm();
}

void HostLogic::Retry() {
  retryAt_ = kNoDeadline;
  const std::string error = OpenPort();
  // Every front end alike: on until the port opens (or the operator opens or closes it).
  if (!error.empty()) RetryPortLater();
  Tell([&error](HostListener& l) { l.PortRetried(error); });
}

void HostLogic::RunTick() {
  const int32_t sent = monitor_.Ctx().comm.Debug.SendCnt;
  const int changed = monitor_.Tick();
  if (changed >= 0) Tell([changed](HostListener& l) { l.DeviceUpdated(changed); });
  if (monitor_.Ctx().comm.Debug.SendCnt != sent) Tell([](HostListener& l) { l.LineActivity(); });
}

void HostLogic::OnReceive(const uint8_t* data, int n) {
  if (stopped_) return;
  CatchUp();
  // Fast polling has the next request out before OnReceive returns, CurAddr naming its target.
  const uint8_t answered = monitor_.Ctx().model.EquipList.CurAddr;
  const bool accepted = monitor_.OnReceive(data, n);
  Rearm();
  if (accepted) Tell([answered](HostListener& l) { l.DeviceUpdated(answered); });
  Tell([](HostListener& l) { l.LineActivity(); });
}

void HostLogic::OnHangUp(const std::string& device) {
  if (stopped_) return;
  // Closed and tried again, so an unattended monitor picks the line up when it comes back.
  CatchUp();
  monitor_.Master().CloseComm();
  SetPortState(false);
  RetryPortLater();
  Tell([&device](HostListener& l) { l.PortFailed(device); });
}

void HostLogic::OnStopRequested() {
  Tell([](HostListener& l) { l.StopRequested(); });
}

void HostLogic::SetPortState(bool open) {
  if (open == portOpen_) return;
  portOpen_ = open;
  // A closed port: no unit's values are current any more, in every front end alike.
  if (!open) monitor_.ClearListedRecords();
  Tell([open](HostListener& l) { l.PortStateChanged(open); });
}

}  // namespace tessel
