#include "comm/event_detection.h"

#include <algorithm>
#include <cstdint>

namespace tessel {

namespace {

// Thresholds in transmissions since the last valid answer; deliberately not the settings values.
constexpr int kFailCntCap = 100;
constexpr int kErrorAfter = 3;  // the 4th unanswered transmission makes the error state
constexpr int kLostAt = 10;
constexpr int kPollCntRescaleAt = 10000;
constexpr int kPollCntRescaleTo = 100;
constexpr int kRecvCntCap = 10000;

// ok * 100 / polls rounded to the nearest integer, ties to the even one.
int32_t RatePercent(int32_t ok, int32_t polls) {
  if (polls <= 0) return 0;
  int64_t num = static_cast<int64_t>(ok) * 100;
  int64_t q = num / polls;
  int64_t r = num % polls;
  if (r < 0) {  // keep the remainder non-negative so the rounding below holds for any sign
    r += polls;
    --q;
  }
  if (2 * r > polls || (2 * r == polls && (q & 1) != 0)) ++q;
  return static_cast<int32_t>(q);
}

bool Contains(const std::array<int32_t, kMaxAlarms>& codes, int count, int32_t code) {
  return std::find(codes.begin(), codes.begin() + count, code) != codes.begin() + count;
}

}  // namespace

void NoteSent(TUpsInfo& u, TEventLog& log) {
  if (u.FailCnt < kFailCntCap) ++u.FailCnt;
  if (u.FailCnt >= kLostAt && u.CommState != kCommLost) {
    u.CommState = kCommLost;
    if (u.Addr != 0) log.LogDeviceEvent(3, u.Addr);
  } else if (u.FailCnt > kErrorAfter && u.FailCnt < kLostAt && u.CommState == kCommOk) {
    u.CommState = kCommError;
  }
  if (u.PollCnt < kPollCntRescaleAt) {
    u.OkRate = RatePercent(u.OkCnt, u.PollCnt);
    ++u.PollCnt;
  } else {
    // Keep the rate while the counts restart on a scale of 100.
    u.PollCnt = kPollCntRescaleTo;
    u.OkCnt = u.OkRate;
  }
}

void NoteReceived(TUpsInfo& u) {
  if (u.RecvCnt < kRecvCntCap) ++u.RecvCnt;
}

void NoteAnswered(TUpsInfo& u, TEventLog& log) {
  u.FailCnt = 0;
  ++u.OkCnt;
  if (u.Addr == 0) return;
  if (u.CommState == kCommLost) log.LogDeviceEvent(2, u.Addr);
  u.CommState = kCommOk;
}

void LogStateChange(TUpsInfo& u, TEventLog& log) {
  if (u.Addr == 0 || u.RunState == u.PrevRunState) return;
  u.PrevRunState = u.RunState;
  log.LogDeviceEvent(6, u.Addr);
}

void LogAlarmChanges(TUpsInfo& u, TEventLog& log, const Clock& clock) {
  if (u.Addr == 0) return;
  const int count = std::min<int>(u.AlarmCount, kMaxAlarms);
  const int prevCount = std::min<int>(u.PrevAlarmCount, kMaxAlarms);
  auto append = [&](int32_t code, uint8_t state) {
    TEventRec r;
    r.Time = clock.Now();
    r.Address = u.Addr;
    r.Kind = 2;
    r.Code = code;
    r.AlarmState = state;
    log.Append(r);
  };
  for (int i = 0; i < count; ++i)
    if (!Contains(u.PrevAlarmCodes, prevCount, u.AlarmCodes[i])) append(u.AlarmCodes[i], 1);
  for (int i = 0; i < prevCount; ++i)
    if (!Contains(u.AlarmCodes, count, u.PrevAlarmCodes[i])) append(u.PrevAlarmCodes[i], 0);
  u.PrevAlarmCodes = u.AlarmCodes;
  u.PrevAlarmCount = u.AlarmCount;
}

}  // namespace tessel
