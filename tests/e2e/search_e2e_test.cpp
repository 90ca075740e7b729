// The search window against the simulator: the real host probes each address of the range once
// and the window lists exactly the units that answered.
#include <gtest/gtest.h>

#include <QPushButton>
#include <vector>

#include "e2e_support.h"
#include "host/host.h"
#include "ui/common/prompter.h"
#include "ui/main/device_tree.h"
#include "ui/main/main_window.h"
#include "ui/search/search_dialog.h"

namespace tessel::e2e {
namespace {

TEST(Search, FindsExactlyTheUnitsOnTheBus) {
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  const std::string link = home.Path() + "/ttyUPS";
  auto sim = StartSim(2, "1-3", {}, link);
  ASSERT_FALSE(HasFailure());
  WriteSettings(home.Path(), link, 2);
  WriteDeviceList(home.Path(), {});

  SilentPrompter prompter;
  Host host(MakeProgramPaths(home.Path()));
  TFrmMain window(host, prompter);
  host.Start();
  ASSERT_TRUE(host.PortIsOpen());
  {
    TFrmEquipSearch search(host, window.Tree(), prompter, &window);
    search.findChild<QPushButton*>("btnSearch")->click();
    ASSERT_TRUE(search.Searching());
    // 16 addresses of about 1.3 s each.
    ASSERT_TRUE(WaitFor([&] { return !search.Searching(); }, std::chrono::seconds(60)))
        << sim->Transcript();
    EXPECT_EQ(search.FoundAddresses(), (std::vector<int>{1, 2, 3})) << sim->Transcript();
  }
  EXPECT_FALSE(host.Core().Master().SearchMode());
  host.Stop();
}

}  // namespace
}  // namespace tessel::e2e
