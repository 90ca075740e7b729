// The single-instance guard with real lock files, real sockets and real processes.
#include "service/instance_guard.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "service/poll_loop.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

constexpr int64_t kSecond = 1'000'000'000;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the loop until done() holds, or gives up after a generous bound.
bool RunUntil(PollLoop& loop, const std::function<bool()>& done) {
  const int64_t until = loop.Now() + 10 * kSecond;
  while (!done()) {
    if (loop.Now() >= until) return false;
    loop.RunOnce(std::min(until, loop.Now() + kSecond / 10));
  }
  return true;
}

// A connection to a holder's socket, as a second copy (or anyone of this user) makes it.
int ConnectTo(const std::string& key) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, key.data(), key.size());
  const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + key.size());
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Whether the other end of a connection has closed it (end of stream or reset).
bool PeerClosed(int fd) {
  char c;
  const ssize_t n = recv(fd, &c, 1, MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

class InstanceGuardTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tessel-guard-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    home_ = root_ / "home";
    fs::create_directories(home_);
    fs::create_directories(root_ / "tmp");
    // The locks that fall back to the temporary folder go to one of the test's own.
    if (const char* old = std::getenv("TMPDIR")) oldTmp_ = old;
    setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
  }
  void TearDown() override {
    if (oldTmp_)
      setenv("TMPDIR", oldTmp_->c_str(), 1);
    else
      unsetenv("TMPDIR");
    if (root_.empty()) return;
    // What a test made read-only or unreadable must be ours again to be removed.
    std::error_code ec;
    fs::permissions(home_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(home_ / InstanceGuard::kLockFileName, fs::perms::owner_all,
                    fs::perm_options::add | fs::perm_options::nofollow, ec);
    fs::remove_all(root_, ec);
  }

  fs::path root_, home_;
  std::optional<std::string> oldTmp_;
};

TEST(InstanceGuardKey, IsTheUserAndAStableDigestOfTheCanonicalFolder) {
  // The same as the windowed program's key has always been, for every spelling of the folder.
  const std::string expected = "tessel-" + std::to_string(getuid()) + "-42099b4af021e53f";
  for (const char* spelling : {"/", "//./", "/tmp/.."})
    EXPECT_EQ(InstanceGuard(spelling).Key(), expected) << spelling;
}

TEST_F(InstanceGuardTest, OneCopyPerFolderAskedToComeToTheFront) {
  PollLoop loop;
  // A folder that does not exist yet is made for the lock.
  const fs::path home = home_ / "new" / "home";
  auto first = std::make_unique<InstanceGuard>(home.string());
  int activations = 0;
  first->OnActivate = [&] { ++activations; };
  ASSERT_TRUE(first->Claim(loop));
  EXPECT_EQ(first->LockPath(), (home / InstanceGuard::kLockFileName).string());
  EXPECT_EQ(ReadText(first->LockPath()), std::to_string(getpid()) + "\n");

  // Other spellings of the same folder are the same folder.
  fs::create_directory_symlink(home, home_ / "link");
  const std::string spellings[] = {home.string() + "/./", (home_ / "new/../new/home").string(),
                                   (home_ / "link").string()};
  for (const std::string& spelling : spellings) {
    InstanceGuard second(spelling);
    EXPECT_EQ(second.Key(), first->Key()) << spelling;
    EXPECT_FALSE(second.Claim(loop)) << spelling;
    EXPECT_TRUE(second.Reached()) << spelling;
    EXPECT_EQ(second.LockPath(), first->LockPath());
  }
  EXPECT_TRUE(RunUntil(loop, [&] { return activations == 3; })) << activations;

  // Another folder runs beside it.
  InstanceGuard other(root_.string());
  EXPECT_NE(other.Key(), first->Key());
  EXPECT_TRUE(other.Claim(loop));

  // The lock goes with its guard (and the file with no copy's pid in it stays).
  first.reset();
  EXPECT_EQ(ReadText(home / InstanceGuard::kLockFileName), "");
  InstanceGuard next(home.string());
  EXPECT_TRUE(next.Claim(loop));
}

TEST_F(InstanceGuardTest, ALockFileLeftByACopyThatIsGoneDoesNotBlock) {
  PollLoop loop;
  // A copy that claimed and died without a word (no destructor ran)...
  const fs::path crashed = home_ / "crashed";
  const pid_t child = fork();
  if (child == 0) {
    PollLoop childLoop;
    auto* guard = new InstanceGuard(crashed.string());
    _exit(guard->Claim(childLoop) ? 0 : 1);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(ReadText(crashed / InstanceGuard::kLockFileName), std::to_string(child) + "\n");
  // ... and the lock file an earlier build left, naming a process that is gone.
  const fs::path upgraded = home_ / "upgraded";
  fs::create_directories(upgraded);
  std::ofstream(upgraded / InstanceGuard::kLockFileName) << child << "\nTessel\nhost\n";

  for (const fs::path& home : {crashed, upgraded}) {
    InstanceGuard guard(home.string());
    EXPECT_TRUE(guard.Claim(loop)) << home;
    EXPECT_EQ(ReadText(home / InstanceGuard::kLockFileName), std::to_string(getpid()) + "\n");
  }
}

// A copy started at the same moment may hold the lock before it has opened its socket: the lock
// alone decides, and the second copy keeps asking in the meantime.
TEST_F(InstanceGuardTest, TheLockAloneDecidesWhileTheHolderHasNoSocket) {
  PollLoop loop;
  const fs::path lockFile = home_ / InstanceGuard::kLockFileName;
  {
    const int held = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    InstanceGuard second(home_.string());
    EXPECT_FALSE(second.Claim(loop));
    EXPECT_FALSE(second.Reached()) << "nobody took the request";
    EXPECT_EQ(second.LockPath(), lockFile.string());
    close(held);
  }

  // A holder that ends while the second copy keeps asking leaves the folder to it. The holder
  // here lets go once it has seen the second copy come back for the lock.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    const int held = open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
    const int watch = inotify_init1(IN_CLOEXEC);
    if (held < 0 || flock(held, LOCK_EX | LOCK_NB) != 0 || watch < 0 ||
        inotify_add_watch(watch, lockFile.c_str(), IN_OPEN) < 0)
      _exit(1);
    (void)write(ready[1], "r", 1);
    alignas(inotify_event) char events[4096];
    for (int opens = 0; opens < 2;) {
      const ssize_t n = read(watch, events, sizeof events);
      if (n <= 0) _exit(1);
      for (ssize_t at = 0; at < n; ++opens)
        at += static_cast<ssize_t>(sizeof(inotify_event) +
                                   reinterpret_cast<inotify_event*>(events + at)->len);
    }
    _exit(0);
  }
  ASSERT_GT(holder, 0);
  close(ready[1]);
  char r = 0;
  ASSERT_EQ(read(ready[0], &r, 1), 1);
  close(ready[0]);
  InstanceGuard late(home_.string());
  EXPECT_TRUE(late.Claim(loop));
  // Had the claim given up early, the holder would still be waiting for the second try.
  kill(holder, SIGKILL);
  int status = -1;
  EXPECT_EQ(waitpid(holder, &status, 0), holder);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the holder saw no second try";
}

TEST_F(InstanceGuardTest, TwoCopiesStartedAtOnceNeverBothRun) {
  constexpr int kRounds = 10;
  constexpr int kCopies = 3;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const fs::path home = home_ / std::to_string(round);
    int go[2], report[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(report), 0);
    std::vector<pid_t> copies;
    for (int i = 0; i < kCopies; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        close(go[1]);
        close(report[0]);
        char c;
        (void)read(go[0], &c, 1);  // the end of the pipe starts every copy at once
        PollLoop loop;
        InstanceGuard guard(home.string());
        int activations = 0;
        guard.OnActivate = [&] { ++activations; };
        char verdict;
        // The winner holds on until every other copy has asked it to come to the front.
        if (guard.Claim(loop))
          verdict = RunUntil(loop, [&] { return activations == kCopies - 1; }) ? 'W' : 'w';
        else
          verdict = guard.Reached() ? 'L' : 'l';
        (void)write(report[1], &verdict, 1);
        _exit(0);
      }
      ASSERT_GT(pid, 0);
      copies.push_back(pid);
    }
    close(go[0]);
    close(report[1]);
    close(go[1]);
    std::string verdicts;
    pollfd p{report[0], POLLIN, 0};
    while (verdicts.size() < kCopies && poll(&p, 1, 30'000) == 1) {
      char v[kCopies];
      const ssize_t n = read(report[0], v, sizeof v);
      if (n <= 0) break;
      verdicts.append(v, static_cast<size_t>(n));
    }
    close(report[0]);
    for (pid_t pid : copies) {
      if (verdicts.size() < kCopies) kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    std::sort(verdicts.begin(), verdicts.end());
    // W: ran and was asked to come to the front by each other copy; L: refused, and asked it.
    EXPECT_EQ(verdicts, "LLW");
  }
}

TEST_F(InstanceGuardTest, WhatTheHolderTakesForARequest) {
  PollLoop loop;
  InstanceGuard holder(home_.string());
  int activations = 0;
  holder.OnActivate = [&] { ++activations; };
  ASSERT_TRUE(holder.Claim(loop));
  const struct {
    const char* name;
    std::vector<std::string> writes;
    int requests;
  } cases[] = {
      {"one line", {"activate\n"}, 1},
      {"split over two writes", {"acti", "vate\n"}, 1},
      {"no line end before the end", {"activate"}, 1},
      {"two lines, one with CR LF", {"activate\nactivate\r\n"}, 2},
      {"other lines", {"hello\n", "activ\n", "activated\n"}, 0},
      {"a line with no end in sight", {std::string(4096, 'x') + "activate\n"}, 0},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    activations = 0;
    const int fd = ConnectTo(holder.Key());
    ASSERT_GE(fd, 0);
    loop.RunOnce(loop.Now() + kSecond / 5);  // the holder accepts
    for (const std::string& w : k.writes) {
      (void)send(fd, w.data(), w.size(), MSG_NOSIGNAL);
      loop.RunOnce(loop.Now() + kSecond / 5);  // lets the holder read each part on its own
    }
    shutdown(fd, SHUT_WR);
    // The holder closes its end once it has read everything (or given up on the peer).
    EXPECT_TRUE(RunUntil(loop, [&] { return PeerClosed(fd); }));
    close(fd);
    EXPECT_EQ(activations, k.requests);
  }
}

// The program folder cannot hold the lock: the temporary folder's lock, named by the key, guards
// instead; and where that one is not safely ours either, the copy runs unguarded.
struct Unusable {
  const char* name;
  enum { Anyone, NotRoot, RootOnly } who;
  std::function<void(const fs::path& home, const fs::path& tempLock)> make;
  enum { InFolder, InTemp, Unguarded } lock;
};

class InstanceGuardFallbackTest : public InstanceGuardTest,
                                  public testing::WithParamInterface<Unusable> {};

void LockPathIsAFolder(const fs::path& home, const fs::path&) {
  fs::create_directory(home / InstanceGuard::kLockFileName);
}

const Unusable kUnusable[] = {
    {"ReadOnlyFolder", Unusable::NotRoot,
     [](const fs::path& home, const fs::path&) { chmod(home.c_str(), 0555); }, Unusable::InTemp},
    {"LockFileNobodyMayOpen", Unusable::NotRoot,
     [](const fs::path& home, const fs::path&) {
       const fs::path f = home / InstanceGuard::kLockFileName;
       std::ofstream(f) << "";
       chmod(f.c_str(), 0);
     },
     Unusable::InTemp},
    // Left by another user: it cannot take our pid, but it still takes a lock.
    {"LockFileWeMayOnlyRead", Unusable::NotRoot,
     [](const fs::path& home, const fs::path&) {
       const fs::path f = home / InstanceGuard::kLockFileName;
       std::ofstream(f) << "";
       chmod(f.c_str(), 0444);
     },
     Unusable::InFolder},
    {"LockPathIsAFolder", Unusable::Anyone, LockPathIsAFolder, Unusable::InTemp},
    // Someone planted a link to one of our files where the temporary lock goes.
    {"TemporaryLockIsALink", Unusable::Anyone,
     [](const fs::path& home, const fs::path& tempLock) {
       LockPathIsAFolder(home, tempLock);
       std::ofstream(home / "precious") << "precious\n";
       fs::create_symlink(home / "precious", tempLock);
     },
     Unusable::Unguarded},
    // Someone else's file where the temporary lock goes: they could hold it to keep us out.
    {"TemporaryLockOfAnotherUser", Unusable::RootOnly,
     [](const fs::path& home, const fs::path& tempLock) {
       LockPathIsAFolder(home, tempLock);
       std::ofstream(tempLock) << "";
       ASSERT_EQ(chown(tempLock.c_str(), 65534, 65534), 0);
     },
     Unusable::Unguarded},
};

TEST_P(InstanceGuardFallbackTest, FolderThatCannotHoldTheLock) {
  const Unusable& k = GetParam();
  if (k.who == Unusable::NotRoot && geteuid() == 0)
    GTEST_SKIP() << "root opens and creates files whatever their permission bits say";
  if (k.who == Unusable::RootOnly && geteuid() != 0)
    GTEST_SKIP() << "only root can give a file to another user";
  PollLoop loop;
  InstanceGuard first(home_.string());
  int activations = 0;
  first.OnActivate = [&] { ++activations; };
  const fs::path tempLock = root_ / "tmp" / (first.Key() + ".lock");
  k.make(home_, tempLock);
  ASSERT_TRUE(first.Claim(loop));
  InstanceGuard second(home_.string());
  if (k.lock != Unusable::Unguarded) {
    EXPECT_EQ(first.LockPath(), k.lock == Unusable::InTemp
                                    ? tempLock.string()
                                    : (home_ / InstanceGuard::kLockFileName).string());
    EXPECT_FALSE(second.Claim(loop));
    EXPECT_TRUE(RunUntil(loop, [&] { return activations == 1; }));
  } else {
    EXPECT_EQ(first.LockPath(), "");
    EXPECT_TRUE(second.Claim(loop)) << "unguarded, as when no lock can be had";
    if (fs::exists(home_ / "precious")) {
      EXPECT_EQ(ReadText(home_ / "precious"), "precious\n");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Unusable, InstanceGuardFallbackTest, testing::ValuesIn(kUnusable),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tessel
