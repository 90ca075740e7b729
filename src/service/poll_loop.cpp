#include "service/poll_loop.h"

#include <poll.h>

#include <cerrno>
#include <ctime>

#include "model/clock.h"

namespace tessel {

int64_t PollLoop::Now() const {
  return MonotonicNanos();
}

void PollLoop::Watch(int fd, bool read, bool write, Callback ready) {
  Watcher& w = watchers_[fd];
  w.read = read;
  w.write = write;
  w.ready = std::move(ready);
  w.generation = ++generation_;
}

void PollLoop::Unwatch(int fd) {
  watchers_.erase(fd);
}

EventLoop::TimerId PollLoop::AddTimer(Callback fire) {
  const TimerId id = nextTimer_++;
  timers_[id] = Timer{std::move(fire), -1};
  return id;
}

void PollLoop::RemoveTimer(TimerId id) {
  timers_.erase(id);
}

void PollLoop::Arm(TimerId id, int64_t at) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second.at = at < 0 ? 0 : at;
}

void PollLoop::Disarm(TimerId id) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second.at = -1;
}

void PollLoop::RunDueTimers() {
  // One pass over the timers due now; a timer armed again for now by its own callback waits for
  // the next pass, so that no callback can keep the loop from its descriptors.
  const int64_t now = Now();
  due_.clear();
  for (const auto& [id, t] : timers_)
    if (t.at >= 0 && t.at <= now) due_.push_back(id);
  for (size_t i = 0; i < due_.size(); ++i) {
    const TimerId id = due_[i];
    auto it = timers_.find(id);
    if (it == timers_.end() || it->second.at < 0 || it->second.at > now) continue;
    it->second.at = -1;
    const Callback fire = it->second.fire;  // the callback may remove its timer
    fire();
  }
}

bool PollLoop::RunOnce(int64_t limit) {
  int64_t wake = limit;
  for (const auto& [id, t] : timers_)
    if (t.at >= 0 && (wake < 0 || t.at < wake)) wake = t.at;
  if (watchers_.empty() && wake < 0) return false;

  fds_.clear();
  generations_.clear();
  for (const auto& [fd, w] : watchers_) {
    fds_.push_back(
        pollfd{fd, static_cast<short>((w.read ? POLLIN : 0) | (w.write ? POLLOUT : 0)), 0});
    generations_.push_back(w.generation);
  }
  timespec ts{};
  timespec* timeout = nullptr;
  if (wake >= 0) {
    const int64_t wait = wake - Now();
    if (wait > 0) {
      ts.tv_sec = static_cast<time_t>(wait / 1'000'000'000);
      ts.tv_nsec = static_cast<long>(wait % 1'000'000'000);
    }
    timeout = &ts;
  }
  const int n = ::ppoll(fds_.data(), fds_.size(), timeout, nullptr);
  ++wakeUps_;
  if (n < 0 && errno != EINTR) return true;

  RunDueTimers();
  if (n <= 0) return true;
  for (size_t i = 0; i < fds_.size() && !quit_; ++i) {
    if (fds_[i].revents == 0) continue;
    // A descriptor unwatched or watched anew by an earlier callback of this pass is not reported
    // with the old readiness.
    auto it = watchers_.find(fds_[i].fd);
    if (it == watchers_.end() || it->second.generation != generations_[i]) continue;
    const Callback ready = it->second.ready;
    ready();
  }
  return true;
}

void PollLoop::Run() {
  quit_ = false;
  while (!quit_ && RunOnce()) {
  }
}

}  // namespace tessel
