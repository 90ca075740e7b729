// The network UPS server's sockets, on plain non-blocking sockets driven by an EventLoop, so that
// the daemon and the windows run the same server. It accepts clients on the configured addresses,
// cuts lines, hands each to NutProtocol with the poll ticks caught up, and closes connections that
// send over-long lines, stay silent too long, do not read their replies, or come beyond the client
// limit. A client that stops sending still gets the replies to every line it sent. Replies to
// requests with a wrong password are held back for a time that grows with each failure from that
// address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/host_logic.h"
#include "nut/nut_config.h"
#include "nut/nut_protocol.h"
#include "service/event_loop.h"

struct sockaddr;

namespace tessel {

class NutListener : private HostListener {
 public:
  // A client with more than this waiting to go out is not reading its replies.
  static constexpr size_t kMaxUnsentBytes = 1 << 20;
  // The reply to a wrong password waits kFirstDelayNs, doubling with each further failure from
  // the same address up to kMaxDelayNs; the failures of one address wait in turn, none longer
  // than kMaxHoldNs. An address without failures for kForgetNs starts afresh.
  static constexpr int64_t kFirstDelayNs = 250'000'000;
  static constexpr int64_t kMaxDelayNs = 5'000'000'000;
  static constexpr int64_t kMaxHoldNs = 30'000'000'000;
  static constexpr int64_t kForgetNs = 600'000'000'000;
  // When the process runs out of descriptors, accepting waits this long before it tries again.
  static constexpr int64_t kAcceptPauseNs = 1'000'000'000;

  // host and loop outlive it; it hears the port's state from host while it lives.
  NutListener(HostLogic& host, EventLoop& loop);
  ~NutListener() override;
  NutListener(const NutListener&) = delete;
  NutListener& operator=(const NutListener&) = delete;

  // Listens as the configuration says. Empty on success, else why not.
  std::string Listen(const NutServerConfig& config, NutUsers users);
  // Closes every connection (what was not sent yet is dropped) and stops listening.
  void Close();
  bool Listening() const { return !servers_.empty(); }
  uint16_t Port() const { return port_; }
  // Where it listens: "127.0.0.1:3493", "[::1]:3493", separated by ", ".
  std::string Where() const;
  int ClientCount() const { return static_cast<int>(clients_.size()); }
  NutProtocol* Protocol() { return protocol_.get(); }
  // Where the audit lines go; standard error unless set.
  void SetAuditSink(std::function<void(const std::string&)> sink) { audit_ = std::move(sink); }

 private:
  struct Client;
  struct Server {
    int fd = -1;
    std::string where;  // "127.0.0.1:3493"
  };
  struct Failures {
    int count = 0;
    int64_t last = 0;      // when the last failure came
    int64_t nextFree = 0;  // when the reply to the last failure goes out
  };

  // HostListener
  void PortStateChanged(bool open) override;

  std::string ListenOn(const sockaddr* sa, unsigned len);
  void WatchServers(bool on);
  void Accept(int serverFd);
  // Frees the slots of clients that have gone while the loop had not run yet.
  void ReapGone();

  int64_t IdleNs() const;
  // The loop's calls: the client's socket is ready, its timer is due.
  void Ready(Client* c);
  void Due(Client* c);
  // Each returns false when the client was dropped meanwhile (it is gone then).
  bool Read(Client* c);
  bool Process(Client* c);
  void Release(Client* c);
  // Hands what is queued to the system; false on a connection error.
  static bool Send(Client* c);
  // What the loop must tell about this client, and when it must wake for it.
  void Rewatch(Client* c);
  void Rearm(Client* c);
  // Ends a connection: abort drops what was not sent yet; otherwise it goes out first.
  void Drop(Client* c, bool abort = true);
  // A dropped client: more of its queue goes out, its input is thrown away.
  void Linger(Client* c);
  void Finish(Client* c);
  void CloseSocket(Client* c);
  // The time the reply to a failed password from peer waits, in ns.
  int64_t FailureDelay(const std::string& peer);
  void Audit(const std::string& line) const;

  HostLogic& host_;
  EventLoop& loop_;
  NutServerConfig config_;
  std::vector<Server> servers_;
  uint16_t port_ = 0;
  EventLoop::TimerId acceptPause_ = 0;  // only while descriptors ran out
  bool starved_ = false;
  std::unique_ptr<NutProtocol> protocol_;
  std::vector<std::unique_ptr<Client>> clients_;
  // Dropped clients whose last replies are still going out; their slots are free.
  std::vector<std::unique_ptr<Client>> closing_;
  std::map<std::string, Failures> failures_;
  std::function<void(const std::string&)> audit_;
};

// Reads the server's settings section; when it switches the server on, listens and returns the
// server (nullptr otherwise or when it cannot listen). report: the lines to show whoever started
// the program (users-file problems, model code, "NUT server listening on ..." or "NUT server
// cannot listen on ...: ..."), empty when the server is off.
std::unique_ptr<NutListener> StartNutListener(HostLogic& host, EventLoop& loop,
                                              std::string& report);

}  // namespace tessel
