// The daemon's event loop on ppoll(2): one system call per wake-up, sleeping until the earliest
// armed timer (to the nanosecond, never early) or until a watched descriptor is ready.
#pragma once

#include <poll.h>

#include <map>
#include <vector>

#include "service/event_loop.h"

namespace tessel {

class PollLoop : public EventLoop {
 public:
  PollLoop() = default;
  PollLoop(const PollLoop&) = delete;
  PollLoop& operator=(const PollLoop&) = delete;

  int64_t Now() const override;
  void Watch(int fd, bool read, bool write, Callback ready) override;
  void Unwatch(int fd) override;
  TimerId AddTimer(Callback fire) override;
  void RemoveTimer(TimerId id) override;
  void Arm(TimerId id, int64_t at) override;
  void Disarm(TimerId id) override;

  // Waits once (at most until limit, a time on Now's clock; -1 for no limit) and runs what became
  // due: first the timers whose time has come, then the ready descriptors. False when there was
  // nothing to wait for (no descriptor watched, no timer armed, no limit).
  bool RunOnce(int64_t limit = -1);
  // Runs until Quit() is called.
  void Run();
  void Quit() { quit_ = true; }
  bool Quitting() const { return quit_; }

  // The wake-ups so far (returns from ppoll), for the benchmarks.
  int64_t WakeUps() const { return wakeUps_; }

 private:
  struct Watcher {
    bool read = false, write = false;
    Callback ready;
    uint64_t generation = 0;  // changes when the watch is replaced
  };
  struct Timer {
    Callback fire;
    int64_t at = -1;  // -1: not armed
  };

  void RunDueTimers();

  // Kept between wake-ups, so that a wake-up allocates nothing.
  std::vector<pollfd> fds_;
  std::vector<uint64_t> generations_;
  std::vector<TimerId> due_;
  std::map<int, Watcher> watchers_;
  std::map<TimerId, Timer> timers_;
  TimerId nextTimer_ = 1;
  uint64_t generation_ = 0;
  int64_t wakeUps_ = 0;
  bool quit_ = false;
};

}  // namespace tessel
