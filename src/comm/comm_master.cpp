#include "comm/comm_master.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "comm/event_detection.h"
#include "protocol/frame_end.h"

namespace tessel {

namespace {

bool AllDigits(const std::string& s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool StartsWithCom(const std::string& s) {
  return s.size() >= 3 && std::toupper(static_cast<unsigned char>(s[0])) == 'C' &&
         std::toupper(static_cast<unsigned char>(s[1])) == 'O' &&
         std::toupper(static_cast<unsigned char>(s[2])) == 'M';
}

}  // namespace

std::string ComDeviceName(const std::string& comName) {
  // USB adapters and pseudo-terminals are named by their path.
  if (!comName.empty() && comName[0] == '/') return comName;

  // The port number sits in the 4th and 5th characters ("COM1" .. "COM99").
  const std::string digits = comName.size() > 3 ? comName.substr(3, 2) : std::string();
  const int number = AllDigits(digits) ? std::stoi(digits) : 0;
  if (number == 0 || number > 256) return {};

#ifdef _WIN32
  // Ports from 10 on are reachable only through the local-device namespace.
  return number < 10 ? comName : "\\\\.\\" + comName;
#else
  // A longer run of digits would overflow the number; such a name is no port we know.
  const std::string rest = comName.substr(3);
  if (StartsWithCom(comName) && AllDigits(rest) && rest.size() <= 9)
    return "/dev/ttyS" + std::to_string(std::stoi(rest) - 1);
  return comName;  // not a port name we know; the opening reports it
#endif
}

TCommMaster::TCommMaster(Context& ctx, const Drivers& drivers, SerialPort& port,
                         TEventLog& eventLog, TDataLog& dataLog, const Clock& clock)
    : ctx_(ctx),
      drivers_(drivers),
      port_(port),
      eventLog_(eventLog),
      dataLog_(dataLog),
      clock_(clock) {}

void TCommMaster::OpenComm() {
  if (port_.IsOpen()) port_.Close();

  TPortInfo& info = ctx_.settings.PortInfo;
  portSettings_.DeviceName = info.ComName;
  portSettings_.BaudRate = info.BaudRate;
  portSettings_.ReadIntervalTimeout = info.ReadIntervalTimeout;
  if (info.StopBits == 2) {
    portSettings_.StopBits = 2;
  } else {
    info.StopBits = 1;
    portSettings_.StopBits = 1;
  }

  // An answer closes at the end its protocol gives it, once the line has stayed quiet for the
  // inter-frame gap, instead of after the full silence: the unit's state is known sooner, and the
  // line is free for the next request sooner. A partial frame still waits for the silence.
  portSettings_.AnswerComplete = AnswerCompleteFor(info.Protocol);
  portSettings_.AnswerQuietMs =
      portSettings_.AnswerComplete ? AnswerQuietMs(info.BaudRate, portSettings_.StopBits) : 0;

  const std::string device = ComDeviceName(info.ComName);
  if (device.empty()) return;
  portSettings_.DeviceName = device;
  port_.Open(portSettings_);
}

void TCommMaster::CloseComm() {
  if (port_.IsOpen()) port_.Close();
}

bool TCommMaster::CommIsOpen() const {
  return port_.IsOpen();
}

void TCommMaster::SendFrame(const uint8_t* bytes, uint16_t len) {
  port_.Send(bytes, len);  // a refused frame is lost; the scheduler carries on regardless
  CommState& c = ctx_.comm;
  c.TxLed = 3;
  if (c.TraceShown && trace_) trace_->ShowTxFrame(bytes, len);
  Bump(c.Debug.SendCnt);
}

void TCommMaster::Tick() {
  CommState& c = ctx_.comm;
  c.DbgVar[1] = kPollIntervalMs;
  Bump(c.DbgVar[11]);

  if (CommIsOpen()) PollStep();
  if (c.TraceShown && trace_) trace_->RefreshDebug();

  if (c.RecDly > 0) {
    --c.RecDly;
  } else if (ctx_.settings.RecInterval > 0) {
    c.RecDly = ctx_.settings.RecInterval;
    SampleDataLog();
  }
  if (trace_) trace_->ShowRecDly(c.RecDly);
}

int TCommMaster::IdleTicksAhead() const {
  const CommState& c = ctx_.comm;
  if (c.TraceShown && trace_) return 0;  // the Trace window sees every tick as it happens

  // Data log: RecDly ticks count down, then a sample (unless logging is off).
  const bool logging = ctx_.settings.RecInterval > 0;
  const int log = !logging ? kNoWorkAhead : c.RecDly > 0 ? c.RecDly : 0;

  // Scheduler: only a transmission shows outside. While a request is outstanding its WaitTicks
  // count down; the tick after them transmits again or gives up. Giving up only clears the flag,
  // and building the next request only fills TxBuf and moves the rotation (drivers read no clock
  // and write no file), so both can run late too: the next transmission comes at the earliest on
  // the tick after the next build. Should that build find nothing to send, the tick woken for
  // turns out idle and the count starts again from there.
  int poll = kNoWorkAhead;
  if (CommIsOpen()) {
    const TPollState& ps = c.PollState;
    const int untilBuild = [&] {
      if (!ps.Awaiting) return 0;
      const uint8_t nextCount = static_cast<uint8_t>(ps.SendCount + 1);
      if (nextCount < ps.SendLimit) return -1;  // it transmits again
      // Fast polling builds in the step that gives up, the fixed cadence in the one after.
      return ps.WaitTicks + (FastPoll() ? 0 : 1);
    }();
    if (untilBuild < 0)
      poll = ps.WaitTicks;
    else if (!ps.ManualMode)
      poll = untilBuild + 1;
  }
  return std::min(log, poll);
}

void TCommMaster::PollStep() {
  CommState& c = ctx_.comm;
  TPollState& ps = c.PollState;
  ps.SchedState = 0;

  if (ps.Awaiting) {
    if (ps.WaitTicks > 0) {
      ps.SchedState = 1;
      --ps.WaitTicks;
      return;
    }
    WaitOver();
    // Fast polling builds the next request in the step that gave up on the last one.
    if (ps.Awaiting || !FastPoll()) return;
  }
  BuildNext();
}

bool TCommMaster::FastPoll() const {
  return ctx_.settings.PortInfo.FastPoll;
}

void TCommMaster::WaitOver() {
  CommState& c = ctx_.comm;
  TPollState& ps = c.PollState;
  ps.SchedState = 2;
  ++ps.SendCount;
  if (ps.SendCount < ps.SendLimit) {
    const int len = std::clamp<int32_t>(ps.FrameLen, 0, kTxBufSize);
    SendFrame(c.TxBuf.data(), static_cast<uint16_t>(len));
    ps.WaitTicks = kReplyWaitTicks;
    if (TUpsInfo* u = DeviceOfCurAddr()) NoteSent(*u, eventLog_);
  } else {
    ps.Awaiting = kFlagOff;
  }
}

void TCommMaster::BuildNext() {
  TPollState& ps = ctx_.comm.PollState;
  ps.SchedState = 3;
  ps.SendCount = 0;
  ps.WaitTicks = 0;
  ps.FrameLen = 0;

  if (ps.ManualMode) return;

  if (ps.SearchMode) {
    ps.SchedState = 11;
    if (search_) {
      ps.SearchAddr = search_->NextSearchAddress();
    } else {
      ps.SearchMode = kFlagOff;  // nobody hands out addresses: the search cannot run
    }
    if (!ps.SearchMode) {
      ps.SchedState = 12;
      return;
    }
  } else {
    ps.SchedState = 4;
  }

  if (ProtocolDriver* driver = DriverFor(ctx_.settings.PortInfo.Protocol)) {
    driver->BuildRequest();
    ps.FrameLen = driver->TxLen;
    ctx_.model.EquipList.CurAddr = static_cast<uint8_t>(driver->TargetAddr & 0xFF);
  }

  if (ps.FrameLen > 0) {
    ps.SchedState = 5;
    ps.Awaiting = kFlagOn;
    ps.SendLimit = ctx_.settings.PortInfo.MaxReSend;
  }
}

bool TCommMaster::OnReceive(const uint8_t* bytes, int n) {
  CommState& c = ctx_.comm;
  Bump(c.Debug.AckCnt);
  c.RxLed = 3;

  if (bytes == nullptr || n < 0) n = 0;
  n = std::min(n, kRxBufSize);  // the rest of a longer chunk is dropped
  if (n > 0) std::memcpy(c.RxBuf.data(), bytes, static_cast<size_t>(n));
  if (c.TraceShown && trace_) trace_->ShowRxFrame(c.RxBuf.data(), n);

  bool accepted = false;
  if (ProtocolDriver* driver = DriverFor(ctx_.settings.PortInfo.Protocol))
    accepted = driver->ParseAnswer(c.RxBuf.data(), n);

  // Answers are not matched to requests: the chunk belongs to the target of the latest request.
  TUpsInfo* u = DeviceOfCurAddr();
  if (accepted) {
    if (u) {
      NoteAnswered(*u, eventLog_);
      LogStateChange(*u, eventLog_);
      LogAlarmChanges(*u, eventLog_, clock_);
    }
    if (c.PollState.SearchMode && search_) search_->DeviceFound(ctx_.model.EquipList.CurAddr);
  } else {
    Bump(c.DbgCnt[0]);
  }
  if (u) NoteReceived(*u);

  // Fast polling: an accepted answer ends the wait, and the next request goes out at once. The
  // chunk was closed only after the line's quiet time, which keeps the gap between the frames.
  TPollState& ps = c.PollState;
  if (accepted && FastPoll() && ps.Awaiting) {
    ps.Awaiting = kFlagOff;
    BuildNext();
    if (ps.Awaiting) WaitOver();
  }
  return accepted;
}

void TCommMaster::SampleDataLog() {
  tessel::SampleDataLog(ctx_.model, dataLog_, clock_);
}

void TCommMaster::SetManualMode(bool on) {
  ctx_.comm.PollState.ManualMode = on ? kFlagOn : kFlagOff;
}

bool TCommMaster::ManualMode() const {
  return ctx_.comm.PollState.ManualMode != 0;
}

void TCommMaster::SetSearchMode(bool on) {
  ctx_.comm.PollState.SearchMode = on ? kFlagOn : kFlagOff;
}

bool TCommMaster::SearchMode() const {
  return ctx_.comm.PollState.SearchMode != 0;
}

ProtocolDriver* TCommMaster::DriverFor(int protocol) const {
  switch (protocol) {
    case 0:
      return drivers_[0];
    case 1:
      return drivers_[1];
    case 2:
    case 3:
      return drivers_[2];
    default:
      return nullptr;
  }
}

TUpsInfo* TCommMaster::DeviceOfCurAddr() {
  // A target above 252 has no record; it is sent to but never accounted.
  const uint8_t addr = ctx_.model.EquipList.CurAddr;
  return addr < kTableSize ? &ctx_.model.UpsTable[addr] : nullptr;
}

}  // namespace tessel
