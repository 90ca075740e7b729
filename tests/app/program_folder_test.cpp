#include "app/program_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace tessel {
namespace {

class ProgramFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tessel-folder-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "bin");
  }
  void TearDown() override {
    fs::permissions(root_ / "bin", fs::perms::owner_all);
    fs::remove_all(root_);
  }
  fs::path root_;
};

TEST_F(ProgramFolderTest, PrecedenceOfTheChoices) {
  FolderChoice c;
  c.HomeOption = (root_ / "opt").string();
  c.HomeEnv = (root_ / "env").string();
  c.ExeDir = (root_ / "bin").string();
  c.XdgDataHome = (root_ / "xdg").string();
  EXPECT_EQ(ResolveProgramFolder(c), (root_ / "opt").string());
  c.HomeOption.clear();
  EXPECT_EQ(ResolveProgramFolder(c), (root_ / "env").string());
  c.HomeEnv.clear();
  EXPECT_EQ(ResolveProgramFolder(c), (root_ / "bin").string());
  c.ExeDir = (root_ / "missing").string();
  EXPECT_EQ(ResolveProgramFolder(c), (root_ / "xdg" / "tessel").string());
  c.XdgDataHome.clear();
  c.UserHome = root_.string();
  EXPECT_EQ(ResolveProgramFolder(c), (root_ / ".local/share/tessel").string());
}

// An installed copy keeps its data with the user even where it may write (as root).
TEST_F(ProgramFolderTest, FoldersOfInstalledProgramsAreNeverTheProgramFolder) {
  if (access("/usr/bin", W_OK) != 0) GTEST_SKIP() << "needs a writable /usr/bin (root)";
  FolderChoice c;
  c.XdgDataHome = (root_ / "xdg").string();
  for (const char* dir : {"/usr/bin", "/usr/bin/", "/usr/local/bin", "/bin"}) {
    c.ExeDir = dir;
    EXPECT_EQ(ResolveProgramFolder(c), (root_ / "xdg" / "tessel").string()) << dir;
  }
}

TEST_F(ProgramFolderTest, RelativeHomeBecomesAbsolute) {
  FolderChoice c;
  c.HomeOption = "some/dir/..";
  EXPECT_EQ(ResolveProgramFolder(c), (fs::current_path() / "some").string() + "/");
}

TEST_F(ProgramFolderTest, PathsAndFolders) {
  ProgramPaths p = MakeProgramPaths((root_ / "home").string());
  EXPECT_EQ(p.SettingsFile, (root_ / "home/UserParaIni.ini").string());
  EXPECT_EQ(p.RecordDir, (root_ / "home/Record/").string());
  EXPECT_EQ(p.BackupDir, (root_ / "home/Backup/").string());
  EXPECT_EQ(p.TreeFile, (root_ / "home/Record/TreeNode.dat").string());
  CreateProgramFolders(p);
  EXPECT_TRUE(fs::is_directory(p.RecordDir));
  EXPECT_TRUE(fs::is_directory(p.BackupDir));
  CreateProgramFolders(p);  // existing folders are fine
}

}  // namespace
}  // namespace tessel
