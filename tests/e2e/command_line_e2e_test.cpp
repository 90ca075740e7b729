// The answers to --version and --help need no display: a service, a package check or a person on
// a server asks them where no window can open.
#include <gtest/gtest.h>
#include <signal.h>

#include <optional>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace tessel::e2e {
namespace {

using std::chrono::seconds;

TEST(CommandLine, VersionAndHelpWithoutADisplay) {
  const struct {
    const char* program;
    const char* option;
    const char* expected;  // in a line of the output
  } cases[] = {{TESSEL_PATH, "--version", "Tessel " TESSEL_VERSION},
               {TESSEL_PATH, "--help", "--headless"},
               {TESSELD_PATH, "--version", "Tessel " TESSEL_VERSION},
               {TESSELD_PATH, "--help", "--home <DIR>"}};
  for (const auto& k : cases) {
    ChildProcess tessel({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u",
                         "QT_QPA_PLATFORM", k.program, k.option});
    ASSERT_TRUE(tessel.Started());
    EXPECT_EQ(tessel.WaitExit(seconds(20)), std::optional<int>(0)) << tessel.Transcript();
    bool found = false;
    for (const OutputLine& l : tessel.Lines())
      found = found || l.text.find(k.expected) != std::string::npos;
    EXPECT_TRUE(found) << k.program << " " << k.option << ":\n" << tessel.Transcript();
  }
}

// Two copies on the same program folder started at the same moment, many times over: exactly one
// keeps running (the other says so and ends), never both. The service and the windowed program's
// --headless are the copies, in turn each first, so they keep each other out too.
TEST(CommandLine, TwoCopiesStartedAtOnceLeaveExactlyOneRunning) {
  using std::chrono::milliseconds;
  constexpr int kRounds = 12;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    TempHome home;
    ASSERT_FALSE(home.Path().empty());
    WriteSettings(home.Path(), home.Path() + "/no-such-port", 2);  // retried, never opened
    WriteDeviceList(home.Path(), {1});
    auto a = StartMonitor(home.Path(), round % 2 ? FrontEnd::Headless : FrontEnd::Service);
    auto b = StartMonitor(home.Path(), round % 2 ? FrontEnd::Service : FrontEnd::Headless);
    ChildProcess* copies[2] = {a.get(), b.get()};
    int ended = -1;
    std::optional<int> status;
    WaitFor(
        [&] {
          for (int i = 0; i < 2 && ended < 0; ++i)
            if ((status = copies[i]->WaitExit(milliseconds(0)))) ended = i;
          return ended >= 0;
        },
        seconds(15));
    ASSERT_GE(ended, 0) << "both copies run\n" << a->Transcript() << "\n---\n" << b->Transcript();
    ChildProcess& loser = *copies[ended];
    ChildProcess& winner = *copies[1 - ended];
    EXPECT_EQ(status, std::optional<int>(0)) << loser.Transcript();
    EXPECT_NE(loser.Transcript().find("already running"), std::string::npos) << loser.Transcript();
    // The other one keeps running, and was asked to come to the front.
    EXPECT_EQ(winner.WaitExit(milliseconds(700)), std::nullopt) << winner.Transcript();
    EXPECT_TRUE(
        WaitFor([&] { return winner.Transcript().find("asked this monitor") != std::string::npos; },
                seconds(5)))
        << winner.Transcript();
    ASSERT_TRUE(winner.Signal(SIGTERM));
    EXPECT_EQ(winner.WaitExit(seconds(15)), std::optional<int>(0)) << winner.Transcript();
  }
}

}  // namespace
}  // namespace tessel::e2e
