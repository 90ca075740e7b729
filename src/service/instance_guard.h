// One running copy per program folder and user, shared by the windowed program and the daemon. A
// second copy with the same folder asks the first to come to the front and ends; copies with
// different folders run side by side.
//
// The claim is an flock(2) on a lock file in the program folder: taken atomically, held for the
// life of the process and released by the kernel when it dies, so a file left by a copy that
// crashed never blocks and two copies started at the same moment never both run. An AF_UNIX
// socket named by the key, opened only by the lock's holder, carries the requests to come to the
// front.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "service/event_loop.h"

namespace tessel {

class InstanceGuard {
 public:
  // The lock file's name in the program folder.
  static constexpr const char* kLockFileName = "tessel.lock";

  // home: the program folder (any spelling of the same folder gives the same key; it need not
  // exist yet).
  explicit InstanceGuard(const std::string& home);
  ~InstanceGuard();
  InstanceGuard(const InstanceGuard&) = delete;
  InstanceGuard& operator=(const InstanceGuard&) = delete;

  // True when this is the first copy: it then holds the lock and listens for activation requests
  // on loop, which must outlive this guard. False when another copy runs; that copy has been
  // asked to come to the front (Reached() says whether the request got there). Blocks for up to
  // 3 s while a copy that holds the lock has not opened its socket yet.
  bool Claim(EventLoop& loop);

  // Raised in the first copy, on the loop, when a second copy asked it to come to the front.
  std::function<void()> OnActivate;

  // "tessel-<uid>-<first 16 hex digits of the SHA-1 of the canonical folder path>".
  const std::string& Key() const { return key_; }
  // The lock file held (or, after a refused claim, held by the other copy): in the program
  // folder, or in the temporary folder when the program folder cannot hold one. Empty when
  // neither could, and the copy runs unguarded.
  const std::string& LockPath() const { return lockPath_; }
  // After a refused claim: whether the running copy took the request to come to the front.
  bool Reached() const { return reached_; }

 private:
  enum class Take { Taken, Held, Unusable };
  Take TakeLock(const std::string& path, bool mustOwn);
  bool TellRunningCopy();
  void Listen();
  void Accept();
  void Read(int fd);
  void Drop(int fd);

  std::string home_;
  std::string key_;
  std::string lockPath_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  bool claimed_ = false;
  bool reached_ = false;
  EventLoop* loop_ = nullptr;
  std::map<int, std::string> peers_;  // accepted connections and what they sent of a line so far
};

// What a second copy says before it ends: "Tessel is already running for HOME; asked it to come
// to the front." (without the second half when the request did not get there).
std::string AlreadyRunningText(const std::string& home, bool reached);

}  // namespace tessel
