#include "comm/poll_pacer.h"

#include <algorithm>
#include <limits>

#include "comm/comm_master.h"

namespace tessel {

namespace {
constexpr int64_t kIntervalNs = int64_t{kPollIntervalMs} * 1'000'000;
}

PollPacer::PollPacer(std::function<int64_t()> now, std::function<void()> runTick,
                     std::function<int()> idleTicksAhead)
    : now_(std::move(now)),
      runTick_(std::move(runTick)),
      idleTicksAhead_(std::move(idleTicksAhead)) {}

void PollPacer::Start() {
  origin_ = now_();
  ticksRun_ = 0;
  ticksDropped_ = 0;
  stalls_ = 0;
  running_ = true;
}

int64_t PollPacer::DueAt(int64_t tick) const {
  return origin_ + tick * kIntervalNs;
}

void PollPacer::CatchUp() {
  if (!running_) return;
  const int64_t now = now_();
  if (now < origin_) return;
  const int64_t due = (now - origin_) / kIntervalNs;
  while (running_ && ticksRun_ < due) {
    // The ticks that only count down run as they would have on time.
    const int idle = idleTicksAhead_();
    const int64_t quiet = std::min<int64_t>(std::max(idle, 0), due - ticksRun_);
    for (int64_t i = 0; i < quiet && running_; ++i) {
      ++ticksRun_;
      runTick_();
    }
    if (!running_ || ticksRun_ >= due) break;
    // The tick that works, late; a timer would not replay what it missed after it.
    ++ticksRun_;
    runTick_();
    const int64_t behind = due - ticksRun_;
    if (behind > kMaxLateTicks) {
      ticksDropped_ += behind;
      ++stalls_;
      origin_ = now - ticksRun_ * kIntervalNs;  // the tick just run was due now
      break;
    }
  }
}

int64_t PollPacer::NextWorkTick() const {
  if (!running_) return kNoWork;
  const int idle = idleTicksAhead_();
  if (idle == std::numeric_limits<int>::max()) return kNoWork;
  return ticksRun_ + std::max(idle, 0) + 1;
}

int64_t PollPacer::NanosUntilNextWork() const {
  const int64_t tick = NextWorkTick();
  if (tick == kNoWork) return kNoWork;
  return std::max<int64_t>(DueAt(tick) - now_(), 0);
}

}  // namespace tessel
