#include "service/instance_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "service/sha1.h"

namespace fs = std::filesystem;

namespace tessel {

namespace {

// How long a second copy keeps asking a copy that holds the lock but has not opened its socket
// yet (they were started at the same moment), and how long it waits between tries.
constexpr int64_t kTellForNs = 3'000'000'000;
constexpr long kRetryNs = 50'000'000;
// A connection attempt that a hung holder does not take gives up after this, and is tried again.
constexpr time_t kConnectWaitS = 1;
constexpr char kRequest[] = "activate";
// Longer lines are not a request; a peer that sends one is dropped.
constexpr size_t kMaxLine = 64;

std::string CanonicalFolder(const std::string& home) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(home.empty() ? fs::path(".") : fs::path(home), ec);
  // The part that exists is resolved (symbolic links, "..") and the rest made tidy, so that the
  // key is the same before and after the folder is created.
  fs::path canonical = fs::weakly_canonical(absolute, ec);
  if (ec) canonical = absolute.lexically_normal();
  std::string s = canonical.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

fs::path TempFolder() {
  std::error_code ec;
  fs::path p = fs::temp_directory_path(ec);
  return ec ? fs::path("/tmp") : p;
}

// The socket lives in the abstract namespace: nothing is left on disk by a copy that crashed, and
// no environment variable (runtime or temporary folder) decides where two copies look for it.
// Abstract names carry no permissions, so both ends check that the other runs as this user.
socklen_t SocketAddress(const std::string& key, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  const size_t n = std::min(key.size(), sizeof addr.sun_path - 1);
  std::memcpy(addr.sun_path + 1, key.data(), n);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

bool PeerIsUs(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == geteuid();
}

}  // namespace

InstanceGuard::InstanceGuard(const std::string& home) : home_(CanonicalFolder(home)) {
  key_ = "tessel-" + std::to_string(getuid()) + "-" + Sha1Hex(home_).substr(0, 16);
}

InstanceGuard::~InstanceGuard() {
  for (const auto& [fd, pending] : peers_) {
    loop_->Unwatch(fd);
    close(fd);
  }
  if (listenFd_ >= 0) {
    loop_->Unwatch(listenFd_);
    close(listenFd_);
  }
  if (lockFd_ >= 0) {
    // The file stays (removing it would let a copy lock a new file while another holds the old
    // one); only the pid goes, since it no longer runs.
    (void)ftruncate(lockFd_, 0);
    close(lockFd_);
  }
}

InstanceGuard::Take InstanceGuard::TakeLock(const std::string& path, bool mustOwn) {
  // Never through a symbolic link, never blocking on something that is not a file.
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
  const bool writable = fd >= 0;
  // A lock file we may read but not write (left by another user) still takes a lock.
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
    fd = open(path.c_str(), O_RDONLY | kFlags);
  if (fd < 0) return Take::Unusable;
  // Only a regular file will do; in the shared temporary folder only one of our own, so that
  // nobody else can hold our lock or have us write into their file.
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (mustOwn && st.st_uid != geteuid())) {
    close(fd);
    return Take::Unusable;
  }
  int r;
  while ((r = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (r != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    if (!held) return Take::Unusable;
    lockPath_ = path;
    return Take::Held;
  }
  lockFd_ = fd;
  lockPath_ = path;
  if (writable) {
    // For people looking at the folder; the lock itself is the flock.
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) == 0) (void)pwrite(fd, pid.data(), pid.size(), 0);
  }
  return Take::Taken;
}

bool InstanceGuard::Claim(EventLoop& loop) {
  if (claimed_) return true;
  loop_ = &loop;
  std::error_code ec;
  fs::create_directories(home_, ec);
  const std::string inHome = (fs::path(home_) / kLockFileName).string();
  const std::string inTemp = (TempFolder() / (key_ + ".lock")).string();
  const int64_t giveUpAt = loop.Now() + kTellForNs;
  for (;;) {
    // When the program folder cannot hold a lock file (read-only, not ours), one in the
    // temporary folder, named by the key, serves the same purpose.
    Take take = TakeLock(inHome, false);
    if (take == Take::Unusable) take = TakeLock(inTemp, true);
    if (take == Take::Unusable) lockPath_.clear();  // run unguarded rather than not at all
    if (take != Take::Held) break;
    // A live copy holds it: ask it to come to the front. It may still be starting up (no socket
    // yet), or ending (the lock is free at the next try).
    if (TellRunningCopy()) {
      reached_ = true;
      return false;
    }
    if (loop.Now() >= giveUpAt) return false;
    const timespec pause{0, kRetryNs};
    nanosleep(&pause, nullptr);
  }
  claimed_ = true;
  Listen();
  return true;
}

bool InstanceGuard::TellRunningCopy() {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const timeval wait{kConnectWaitS, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  sockaddr_un addr;
  const socklen_t len = SocketAddress(key_, addr);
  const std::string line = std::string(kRequest) + "\n";
  const bool told =
      connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0 && PeerIsUs(fd) &&
      send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  close(fd);
  return told;
}

void InstanceGuard::Listen() {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_un addr;
  const socklen_t len = SocketAddress(key_, addr);
  // Without the socket this copy still runs and still keeps others out; it only cannot be asked
  // to come to the front (the name is taken by an unguarded copy, or by someone else).
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0 || listen(fd, 16) != 0) {
    close(fd);
    return;
  }
  listenFd_ = fd;
  loop_->Watch(fd, true, false, [this] { Accept(); });
}

void InstanceGuard::Accept() {
  for (;;) {
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    if (!PeerIsUs(fd)) {
      close(fd);
      continue;
    }
    peers_[fd];
    loop_->Watch(fd, true, false, [this, fd] { Read(fd); });
  }
}

void InstanceGuard::Read(int fd) {
  auto it = peers_.find(fd);
  if (it == peers_.end()) return;
  std::string& pending = it->second;
  int requests = 0;
  bool done = false;
  char buf[256];
  while (!done) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      // The end: a last request without its line end still counts.
      if (n == 0 && pending == kRequest) ++requests;
      done = true;
      break;
    }
    for (ssize_t i = 0; i < n && !done; ++i) {
      if (buf[i] == '\n') {
        if (!pending.empty() && pending.back() == '\r') pending.pop_back();
        if (pending == kRequest) ++requests;
        pending.clear();
      } else if (pending.size() < kMaxLine) {
        pending += buf[i];
      } else {
        done = true;
      }
    }
  }
  if (done) Drop(fd);
  // Last, so that whatever the callback does (a window coming up, a nested event loop) finds
  // this connection's state settled.
  for (int i = 0; i < requests; ++i)
    if (OnActivate) OnActivate();
}

void InstanceGuard::Drop(int fd) {
  loop_->Unwatch(fd);
  close(fd);
  peers_.erase(fd);
}

std::string AlreadyRunningText(const std::string& home, bool reached) {
  return "Tessel is already running for " + home +
         (reached ? "; asked it to come to the front." : ".");
}

}  // namespace tessel
