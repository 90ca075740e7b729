// Helpers for the fault tests: a fresh temporary folder, whole-file reads, and running a piece of
// code in a child process whose files may not grow past a size limit (a full disk, as far as the
// writer can tell).
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace tessel::fault {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tessel_fault_XXXXXX").string();
    if (mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Names of the entries of a folder, sorted.
inline std::vector<std::string> Entries(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs body in a forked child with RLIMIT_FSIZE at limitBytes and SIGXFSZ ignored, so a write past
// the limit fails with EFBIG instead of killing the process. Returns body's result (0..125), or
// 200 + the signal number when the child died of a signal.
inline int RunWithFileSizeLimit(rlim_t limitBytes, const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{limitBytes, limitBytes};
    if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(126);
    int rc = 125;
    try {
      rc = body();
    } catch (...) {
      rc = 124;  // an exception the body did not expect
    }
    _exit(rc);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  if (WIFSIGNALED(status)) return 200 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tessel::fault
