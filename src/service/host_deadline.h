// The host logic's one deadline on a timer of an event loop: what every adapter of the host does,
// the daemon's and the windows' alike. It lives as long as the adapter; host and loop outlive it.
#pragma once

#include "app/host_logic.h"
#include "service/event_loop.h"

namespace tessel {

class HostDeadline {
 public:
  HostDeadline(HostLogic& host, EventLoop& loop)
      : host_(host), loop_(loop), timer_(loop.AddTimer([&host] { host.OnDeadline(); })) {
    host.ArmDeadline = [this](int64_t at) {
      if (at == HostLogic::kNoDeadline)
        loop_.Disarm(timer_);  // nothing to do until a handler changes the state
      else
        loop_.Arm(timer_, at);
    };
  }
  ~HostDeadline() {
    host_.ArmDeadline = nullptr;
    loop_.RemoveTimer(timer_);
  }
  HostDeadline(const HostDeadline&) = delete;
  HostDeadline& operator=(const HostDeadline&) = delete;

 private:
  HostLogic& host_;
  EventLoop& loop_;
  const EventLoop::TimerId timer_;
};

}  // namespace tessel
