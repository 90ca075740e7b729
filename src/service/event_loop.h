// What the plain parts of the service need of an event loop: to hear when a descriptor is ready
// and when a deadline has passed. The daemon runs them on poll(2) (PollLoop); the windowed program
// on Qt's loop (host/QtLoop). Everything is called on the loop's own thread.
#pragma once

#include <cstdint>
#include <functional>

namespace tessel {

class EventLoop {
 public:
  using Callback = std::function<void()>;
  using TimerId = int;

  virtual ~EventLoop() = default;

  // A monotonic clock in nanoseconds; deadlines are given on it.
  virtual int64_t Now() const = 0;

  // Calls ready while fd is readable (read) or writable (write), and when it has an error or was
  // hung up. Watching a descriptor again replaces the earlier watch; a callback may watch and
  // unwatch descriptors, its own included.
  virtual void Watch(int fd, bool read, bool write, Callback ready) = 0;
  virtual void Unwatch(int fd) = 0;

  // A timer calls fire once when Now() has reached the time it was armed for. Arming an armed
  // timer moves it; a callback may arm, disarm and remove timers, its own included.
  virtual TimerId AddTimer(Callback fire) = 0;
  virtual void RemoveTimer(TimerId id) = 0;
  virtual void Arm(TimerId id, int64_t at) = 0;
  virtual void Disarm(TimerId id) = 0;
};

}  // namespace tessel
