// Runs the window thread's events until done() holds or ms have passed; false on time-out.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <functional>

namespace tessel {

inline bool RunUntil(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

}  // namespace tessel
