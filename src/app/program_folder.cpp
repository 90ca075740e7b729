#include "app/program_folder.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace tessel {

namespace {

bool IsWritableDir(const std::string& dir) {
  std::error_code ec;
  return !dir.empty() && fs::is_directory(dir, ec) && access(dir.c_str(), W_OK | X_OK) == 0;
}

// The folders that hold the programs of every user: an installed copy never keeps its data there,
// even when it runs as root and could.
bool IsSharedProgramDir(const std::string& dir) {
  const std::string d = fs::path(dir).lexically_normal().string();
  for (const char* shared : {"/bin", "/sbin", "/usr/bin", "/usr/sbin", "/usr/games",
                             "/usr/local/bin", "/usr/local/sbin", "/usr/local/games"})
    if (d == shared || d == std::string(shared) + "/") return true;
  return d.rfind("/usr/lib/", 0) == 0 || d.rfind("/usr/libexec/", 0) == 0;
}

std::string Absolute(const std::string& p) {
  std::error_code ec;
  fs::path a = fs::absolute(p, ec);
  if (ec) return p;
  return a.lexically_normal().string();
}

std::string WithSlash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}

}  // namespace

FolderChoice FolderChoiceOfThisProcess(const std::string& homeOption) {
  auto env = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  FolderChoice c;
  c.HomeOption = homeOption;
  c.HomeEnv = env("TESSEL_HOME");
  c.XdgDataHome = env("XDG_DATA_HOME");
  c.UserHome = env("HOME");
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) c.ExeDir = fs::path(std::string(buf, static_cast<size_t>(n))).parent_path().string();
  return c;
}

std::string ResolveProgramFolder(const FolderChoice& c) {
  if (!c.HomeOption.empty()) return Absolute(c.HomeOption);
  if (!c.HomeEnv.empty()) return Absolute(c.HomeEnv);
  if (IsWritableDir(c.ExeDir) && !IsSharedProgramDir(c.ExeDir)) return Absolute(c.ExeDir);
  if (!c.XdgDataHome.empty()) return Absolute((fs::path(c.XdgDataHome) / "tessel").string());
  return Absolute(
      (fs::path(c.UserHome.empty() ? "." : c.UserHome) / ".local/share/tessel").string());
}

ProgramPaths MakeProgramPaths(const std::string& home) {
  ProgramPaths p;
  p.Home = WithSlash(home);
  p.SettingsFile = p.Home + "UserParaIni.ini";
  p.RecordDir = p.Home + "Record/";
  p.BackupDir = p.Home + "Backup/";
  p.EventLogName = "EventLog.dat";
  p.TreeFile = p.RecordDir + "TreeNode.dat";
  return p;
}

void CreateProgramFolders(const ProgramPaths& paths) {
  std::error_code ec;
  fs::create_directories(paths.RecordDir, ec);
  fs::create_directories(paths.BackupDir, ec);
}

}  // namespace tessel
