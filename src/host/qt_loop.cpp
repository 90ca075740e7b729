#include "host/qt_loop.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <climits>

#include "model/clock.h"

namespace tessel {

QtLoop::~QtLoop() {
  // The children go with owner_; nothing may call back into this loop meanwhile.
  for (QObject* child : owner_.children()) child->disconnect();
}

int64_t QtLoop::Now() const {
  return MonotonicNanos();
}

void QtLoop::Retire(QObject* object) {
  if (auto* n = qobject_cast<QSocketNotifier*>(object)) n->setEnabled(false);
  if (auto* t = qobject_cast<QTimer*>(object)) t->stop();
  object->disconnect();
  object->deleteLater();
}

void QtLoop::Want(QSocketNotifier*& notifier, int fd, bool read, bool on) {
  if (on && !notifier) {
    notifier =
        new QSocketNotifier(fd, read ? QSocketNotifier::Read : QSocketNotifier::Write, &owner_);
    QObject::connect(notifier, &QSocketNotifier::activated, [this, fd] { Ready(fd); });
  } else if (!on && notifier) {
    Retire(notifier);
    notifier = nullptr;
  }
}

void QtLoop::Watch(int fd, bool read, bool write, Callback ready) {
  Watcher& w = watchers_[fd];
  w.ready = std::move(ready);
  Want(w.read, fd, true, read);
  Want(w.write, fd, false, write);
}

void QtLoop::Unwatch(int fd) {
  auto it = watchers_.find(fd);
  if (it == watchers_.end()) return;
  if (it->second.read) Retire(it->second.read);
  if (it->second.write) Retire(it->second.write);
  watchers_.erase(it);
}

void QtLoop::Ready(int fd) {
  auto it = watchers_.find(fd);
  if (it == watchers_.end()) return;
  const Callback ready = it->second.ready;  // the callback may end its own watch
  ready();
}

EventLoop::TimerId QtLoop::AddTimer(Callback fire) {
  const TimerId id = nextTimer_++;
  auto* timer = new QTimer(&owner_);
  timer->setSingleShot(true);
  timer->setTimerType(Qt::PreciseTimer);
  QObject::connect(timer, &QTimer::timeout, [this, id] { Fire(id); });
  timers_[id] = Timer{timer, std::move(fire), -1};
  return id;
}

void QtLoop::RemoveTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  Retire(it->second.timer);
  timers_.erase(it);
}

void QtLoop::Start(Timer& t) {
  // Rounded up to whole milliseconds: a timer that fires even a fraction early finds its work not
  // yet due and costs a second wake-up.
  const int64_t wait = std::max<int64_t>(t.at - Now(), 0);
  t.timer->start(static_cast<int>(std::min<int64_t>((wait + 999'999) / 1'000'000, INT_MAX)));
}

void QtLoop::Arm(TimerId id, int64_t at) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second.at = std::max<int64_t>(at, 0);
  Start(it->second);
}

void QtLoop::Disarm(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  it->second.at = -1;
  it->second.timer->stop();
}

void QtLoop::Fire(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end() || it->second.at < 0) return;
  if (Now() < it->second.at) {
    Start(it->second);  // Qt's clock ran ahead of ours: not yet
    return;
  }
  it->second.at = -1;
  const Callback fire = it->second.fire;  // the callback may remove its timer
  fire();
}

}  // namespace tessel
