// The user's autostart entry: where it lives, what it runs, and bringing it into the wanted state.
#include "app/autostart.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "log/temp_folder.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

using testing::TempFolder;

TEST(Autostart, FolderFollowsTheBaseDirectoryRules) {
  EXPECT_EQ(AutostartFolder("/cfg", "/home/op"), "/cfg/autostart");
  EXPECT_EQ(AutostartFolder("", "/home/op"), "/home/op/.config/autostart");
  EXPECT_EQ(AutostartFolder("relative/cfg", "/home/op"), "/home/op/.config/autostart");
  EXPECT_EQ(AutostartFolder("", ""), "");
}

TEST(Autostart, ExecArgumentsAreQuotedOnlyWhenNeeded) {
  const std::pair<std::string, std::string> cases[] = {
      {"/opt/tessel/bin/tessel", "/opt/tessel/bin/tessel"},
      {"/home/op/UPS monitor", "\"/home/op/UPS monitor\""},
      {"/srv/a\"b", "\"/srv/a\\\"b\""},
      {"/srv/$HOME`x`", "\"/srv/\\$HOME\\`x\\`\""},
      {"/srv/back\\slash", "\"/srv/back\\\\slash\""},
      {"/srv/100%", "/srv/100%%"},
      {"/srv/50% off", "\"/srv/50%% off\""},
      {"", "\"\""},
  };
  for (const auto& [arg, quoted] : cases) EXPECT_EQ(QuoteExecArgument(arg), quoted) << arg;
}

TEST(Autostart, EntryStartsTheProgramWithItsFolder) {
  const std::string text = AutostartEntryText("/opt/tessel/tessel", "/home/op/UPS data");
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
  EXPECT_NE(text.find("\nName=Tessel\n"), std::string::npos);
  EXPECT_NE(text.find("\nExec=/opt/tessel/tessel --home \"/home/op/UPS data\"\n"),
            std::string::npos)
      << text;
  // A backslash is escaped twice: once for the Exec quoting, once as a string value.
  EXPECT_NE(AutostartEntryText("/opt/t", "/a\\b").find("\nExec=/opt/t --home \"/a\\\\\\\\b\"\n"),
            std::string::npos);
}

class AutostartFiles : public ::testing::Test {
 protected:
  std::string Folder() const { return (cfg_ / "autostart").string(); }
  fs::path Entry() const { return cfg_ / "autostart" / kAutostartFileName; }
  TempFolder cfg_;
};

TEST_F(AutostartFiles, WrittenRewrittenWhenDifferentAndRemoved) {
  const std::string first = AutostartEntryText("/opt/tessel/tessel", "/srv/one");
  const std::string second = AutostartEntryText("/opt/tessel/tessel", "/srv/two");

  // Wanted and absent: the folder and the entry come into being.
  EXPECT_EQ(ApplyAutostart(Folder(), true, first), "");
  EXPECT_EQ(ReadAutostartEntry(Folder()), first);

  // The same content again leaves the file alone.
  const auto stamp = fs::last_write_time(Entry());
  fs::last_write_time(Entry(), stamp - std::chrono::hours(1));
  EXPECT_EQ(ApplyAutostart(Folder(), true, first), "");
  EXPECT_EQ(fs::last_write_time(Entry()), stamp - std::chrono::hours(1));

  // Another program folder: rewritten, with nothing left beside it.
  EXPECT_EQ(ApplyAutostart(Folder(), true, second), "");
  EXPECT_EQ(ReadAutostartEntry(Folder()), second);
  EXPECT_EQ(std::distance(fs::directory_iterator(Folder()), fs::directory_iterator()), 1);

  // Not wanted: removed; removing what is not there is no error.
  EXPECT_EQ(ApplyAutostart(Folder(), false, second), "");
  EXPECT_FALSE(fs::exists(Entry()));
  EXPECT_EQ(ReadAutostartEntry(Folder()), std::nullopt);
  EXPECT_EQ(ApplyAutostart(Folder(), false, second), "");
}

TEST_F(AutostartFiles, FailuresAreReported) {
  // The autostart folder's place is taken by a file: nothing can be written there.
  std::ofstream(cfg_ / "autostart") << "not a folder";
  const std::string error = ApplyAutostart(Folder(), true, "[Desktop Entry]\n");
  EXPECT_EQ(error.rfind("Unable to write to " + Entry().string(), 0), 0u) << error;

  // An entry that is a non-empty folder cannot be deleted.
  fs::remove(cfg_ / "autostart");
  fs::create_directories(Entry() / "inside");
  const std::string removal = ApplyAutostart(Folder(), false, "");
  EXPECT_EQ(removal.rfind("Unable to delete " + Entry().string(), 0), 0u) << removal;

  // Without a home there is no folder to write to, and nothing to remove.
  EXPECT_NE(ApplyAutostart("", true, "[Desktop Entry]\n"), "");
  EXPECT_EQ(ApplyAutostart("", false, ""), "");
}

}  // namespace
}  // namespace tessel
