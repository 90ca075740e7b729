// The plain service's event loop on Qt's loop: timers never fire early, and a callback may end or
// replace its own watch or timer (the notifier whose signal is running must outlive it).
#include "host/qt_loop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <string>
#include <vector>

namespace tessel {
namespace {

constexpr int64_t kMs = 1'000'000;

bool RunUntil(const std::function<bool()>& cond, int ms) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

TEST(QtLoopTest, TimersFireInTimeOrderNeverEarlyAndMayRemoveThemselves) {
  QtLoop loop;
  std::vector<std::string> fired;
  std::vector<int64_t> lateness;
  const int64_t start = loop.Now();
  auto add = [&](const std::string& name, int64_t at) {
    const EventLoop::TimerId id = loop.AddTimer([&, name, at] {
      fired.push_back(name);
      lateness.push_back(loop.Now() - at);
    });
    loop.Arm(id, at);
    return id;
  };
  add("c", start + 40 * kMs);
  add("a", start + 10 * kMs + kMs / 3);  // a fraction of a millisecond: rounded up, not down
  const EventLoop::TimerId moved = add("b", start + 5 * kMs);
  loop.Arm(moved, start + 20 * kMs);
  loop.RemoveTimer(add("x", start + 15 * kMs));
  loop.Disarm(add("y", start + 15 * kMs));
  EventLoop::TimerId self = 0;
  self = loop.AddTimer([&] {
    fired.push_back("s");
    lateness.push_back(loop.Now() - (start + 30 * kMs));
    loop.RemoveTimer(self);
  });
  loop.Arm(self, start + 30 * kMs);
  ASSERT_TRUE(RunUntil([&] { return fired.size() == 4; }, 5000));
  EXPECT_EQ(fired, (std::vector<std::string>{"a", "b", "s", "c"}));
  for (int64_t late : lateness) EXPECT_GE(late, 0);
}

TEST(QtLoopTest, AWatchMayEndOrReplaceItselfFromItsOwnCallback) {
  QtLoop loop;
  int p[2];
  ASSERT_EQ(::pipe2(p, O_NONBLOCK | O_CLOEXEC), 0);
  int writable = 0;
  loop.Watch(p[1], false, true, [&] {
    ++writable;
    loop.Unwatch(p[1]);  // the pipe stays writable: called once all the same
  });
  std::string first, second;
  auto readOne = [&](std::string& into) {
    char c;
    if (::read(p[0], &c, 1) == 1) into += c;
  };
  loop.Watch(p[0], true, false, [&] {
    readOne(first);
    loop.Watch(p[0], true, false, [&] {
      readOne(second);
      loop.Unwatch(p[0]);
    });
  });
  ASSERT_EQ(::write(p[1], "ab", 2), 2);
  EXPECT_TRUE(RunUntil([&] { return first == "a" && second == "b"; }, 5000)) << first << second;
  ASSERT_EQ(::write(p[1], "c", 1), 1);
  RunUntil([] { return false; }, 50);
  EXPECT_EQ(first + second, "ab") << "unwatched";
  EXPECT_EQ(writable, 1);
  ::close(p[0]);
  ::close(p[1]);
}

}  // namespace
}  // namespace tessel
