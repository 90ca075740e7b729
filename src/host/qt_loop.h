// The EventLoop of the plain service on Qt's event loop, for the windowed program: a socket
// notifier per descriptor and direction, a single-shot precise timer per timer.
#pragma once

#include <QObject>
#include <map>

#include "service/event_loop.h"

class QSocketNotifier;
class QTimer;

namespace tessel {

class QtLoop : public EventLoop {
 public:
  QtLoop() = default;
  ~QtLoop() override;
  QtLoop(const QtLoop&) = delete;
  QtLoop& operator=(const QtLoop&) = delete;

  int64_t Now() const override;
  void Watch(int fd, bool read, bool write, Callback ready) override;
  void Unwatch(int fd) override;
  TimerId AddTimer(Callback fire) override;
  void RemoveTimer(TimerId id) override;
  void Arm(TimerId id, int64_t at) override;
  void Disarm(TimerId id) override;

 private:
  struct Watcher {
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
    Callback ready;
  };
  struct Timer {
    QTimer* timer = nullptr;
    Callback fire;
    int64_t at = -1;  // -1: not armed
  };

  void Want(QSocketNotifier*& notifier, int fd, bool read, bool on);
  void Ready(int fd);
  void Fire(TimerId id);
  void Start(Timer& t);
  // A notifier or timer may be the one whose signal is running: it is switched off now and
  // deleted once control is back in Qt's loop.
  static void Retire(QObject* object);

  QObject owner_;  // parent of the notifiers and timers, so that none outlives the loop
  std::map<int, Watcher> watchers_;
  std::map<TimerId, Timer> timers_;
  TimerId nextTimer_ = 1;
};

}  // namespace tessel
