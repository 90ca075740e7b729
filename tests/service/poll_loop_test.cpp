#include "service/poll_loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace tessel {
namespace {

constexpr int64_t kMs = 1'000'000;

struct Pipe {
  Pipe() { EXPECT_EQ(::pipe(fd), 0); }
  ~Pipe() {
    for (int f : fd) ::close(f);
  }
  int fd[2] = {-1, -1};
};

TEST(PollLoopTest, TimersFireInTimeOrderAndNeverEarly) {
  PollLoop loop;
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
  add("c", start + 30 * kMs);
  add("a", start + 10 * kMs);
  const EventLoop::TimerId moved = add("b", start + 5 * kMs);
  loop.Arm(moved, start + 20 * kMs);  // arming again moves it
  const EventLoop::TimerId gone = add("x", start + 15 * kMs);
  loop.RemoveTimer(gone);
  const EventLoop::TimerId off = add("y", start + 15 * kMs);
  loop.Disarm(off);
  while (fired.size() < 3) ASSERT_TRUE(loop.RunOnce());
  EXPECT_EQ(fired, (std::vector<std::string>{"a", "b", "c"}));
  for (int64_t late : lateness) EXPECT_GE(late, 0);
  EXPECT_FALSE(loop.RunOnce()) << "nothing armed, nothing watched: nothing to wait for";
}

TEST(PollLoopTest, ReadyDescriptorsCallBackUntilUnwatched) {
  PollLoop loop;
  Pipe p;
  std::string got;
  loop.Watch(p.fd[0], true, false, [&] {
    char buf[8];
    const ssize_t n = ::read(p.fd[0], buf, sizeof buf);
    got.append(buf, static_cast<size_t>(n > 0 ? n : 0));
    if (got.size() >= 3) loop.Unwatch(p.fd[0]);  // a callback may end its own watch
  });
  ASSERT_EQ(::write(p.fd[1], "ab", 2), 2);
  ASSERT_TRUE(loop.RunOnce(loop.Now() + 1000 * kMs));
  EXPECT_EQ(got, "ab");
  ASSERT_EQ(::write(p.fd[1], "c", 1), 1);
  ASSERT_TRUE(loop.RunOnce(loop.Now() + 1000 * kMs));
  EXPECT_EQ(got, "abc");
  ASSERT_EQ(::write(p.fd[1], "d", 1), 1);
  EXPECT_FALSE(loop.RunOnce()) << "unwatched";
  EXPECT_EQ(got, "abc");
}

TEST(PollLoopTest, AWatchEndedByAnEarlierCallbackIsNotCalledWithStaleReadiness) {
  PollLoop loop;
  Pipe a, b;
  int bCalls = 0;
  loop.Watch(a.fd[0], true, false, [&] { loop.Unwatch(b.fd[0]); });
  loop.Watch(b.fd[0], true, false, [&] { ++bCalls; });
  ASSERT_EQ(::write(a.fd[1], "x", 1), 1);
  ASSERT_EQ(::write(b.fd[1], "y", 1), 1);
  ASSERT_TRUE(loop.RunOnce(loop.Now() + 1000 * kMs));
  EXPECT_EQ(bCalls, 0);
}

TEST(PollLoopTest, RunEndsOnQuitFromACallback) {
  PollLoop loop;
  int ticks = 0;
  EventLoop::TimerId id = 0;
  id = loop.AddTimer([&] {
    if (++ticks == 3)
      loop.Quit();
    else
      loop.Arm(id, loop.Now() + kMs);
  });
  loop.Arm(id, loop.Now());
  loop.Run();
  EXPECT_EQ(ticks, 3);
  EXPECT_GE(loop.WakeUps(), 3);
}

}  // namespace
}  // namespace tessel
