// When the poll ticks run. Tick k is due k * kPollIntervalMs after the start; the ticks that only
// count down (TCommMaster::IdleTicksAhead) are not woken for and run together, in order, just
// before the next tick that works or the next handler, which gives exactly what running every
// tick on time gives.
//
// A stall of the thread (a slow disk under a log write, a nested dialog loop, a paused machine, a
// debugger) is not replayed: a timer stepping every tick would run one late tick when the thread
// comes back and go on from there, so here too the first tick that works runs late and the ticks
// that were missed after it are dropped by moving the start (the clock is re-based). A backlog of
// up to kMaxLateTicks past that tick is still run, so the short delays of a busy thread change
// nothing. Two transmissions are never closer than the scheduler's own spacing.
//
// Plain C++: the time comes from a function, so that tests can make it jump.
#pragma once

#include <cstdint>
#include <functional>

namespace tessel {

class PollPacer {
 public:
  static constexpr int kMaxLateTicks = 2;
  static constexpr int64_t kNoWork = -1;

  // now: a monotonic clock in nanoseconds. runTick: one poll tick. idleTicksAhead: how many of the
  // coming ticks can run late (TCommMaster::IdleTicksAhead, INT32_MAX for "none works").
  PollPacer(std::function<int64_t()> now, std::function<void()> runTick,
            std::function<int()> idleTicksAhead);

  // Tick 0 is now; the first tick runs one interval later.
  void Start();
  void Stop() { running_ = false; }
  bool Running() const { return running_; }

  // Runs the ticks due by now, dropping what a stall left behind (see above).
  void CatchUp();
  // The number of ticks run when the next tick that works is due (the tick to wake for), or
  // kNoWork when none will work until a handler changes the state.
  int64_t NextWorkTick() const;
  // Nanoseconds from now until that tick is due (0 when it is already due), or kNoWork.
  int64_t NanosUntilNextWork() const;

  int64_t TicksRun() const { return ticksRun_; }
  // Ticks skipped after stalls since the start.
  int64_t TicksDropped() const { return ticksDropped_; }
  // Stalls met since the start.
  int64_t Stalls() const { return stalls_; }

 private:
  int64_t DueAt(int64_t tick) const;

  std::function<int64_t()> now_;
  std::function<void()> runTick_;
  std::function<int()> idleTicksAhead_;
  bool running_ = false;
  int64_t origin_ = 0;  // when tick 0 was due
  int64_t ticksRun_ = 0;
  int64_t ticksDropped_ = 0;
  int64_t stalls_ = 0;
};

}  // namespace tessel
