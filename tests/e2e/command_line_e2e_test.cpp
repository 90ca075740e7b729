// The answers to --version and --help need no display: a service, a package check or a person on
// a server asks them where no window can open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace tessel::e2e {
namespace {

using std::chrono::seconds;

TEST(CommandLine, VersionAndHelpWithoutADisplay) {
  const struct {
    const char* option;
    const char* expected;  // in a line of the output
  } cases[] = {{"--version", "Tessel " TESSEL_VERSION}, {"--help", "--headless"}};
  for (const auto& k : cases) {
    ChildProcess tessel({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u",
                         "QT_QPA_PLATFORM", TESSEL_PATH, k.option});
    ASSERT_TRUE(tessel.Started());
    EXPECT_EQ(tessel.WaitExit(seconds(20)), std::optional<int>(0)) << tessel.Transcript();
    bool found = false;
    for (const OutputLine& l : tessel.Lines())
      found = found || l.text.find(k.expected) != std::string::npos;
    EXPECT_TRUE(found) << k.option << ":\n" << tessel.Transcript();
  }
}

}  // namespace
}  // namespace tessel::e2e
