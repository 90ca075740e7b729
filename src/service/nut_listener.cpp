#include "service/nut_listener.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "log/event_log.h"
#include "model/param_items.h"

namespace tessel {

namespace {

constexpr size_t kMaxFailureRecords = 4096;
// Read from one client per wake-up at most, so that a fast sender cannot grow its buffer here
// without bound; the loop comes back while more is waiting.
constexpr size_t kReadChunk = 64 * 1024;
// How long a dropped client that keeps sending is read after its replies went out.
constexpr int64_t kLingerNs = 2'000'000'000;

// Input waiting to be read.
bool InputWaiting(int fd) {
  char b;
  return ::recv(fd, &b, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

std::string Reason(int err) {
  char buf[128];
  return strerror_r(err, buf, sizeof buf);
}

std::string Seconds(int64_t ns) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f s", static_cast<double>(ns) / 1e9);
  return buf;
}

// The numeric form of an address, without the port ("127.0.0.1", "::1", "fe80::1%eth0").
std::string NumericHost(const sockaddr* sa, socklen_t len) {
  char host[NI_MAXHOST];
  if (::getnameinfo(sa, len, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) return "?";
  return host;
}

uint16_t PortOf(const sockaddr_storage& sa) {
  if (sa.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(sa).sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in&>(sa).sin_port);
}

void SetPort(sockaddr_storage& sa, uint16_t port) {
  if (sa.ss_family == AF_INET6)
    reinterpret_cast<sockaddr_in6&>(sa).sin6_port = htons(port);
  else
    reinterpret_cast<sockaddr_in&>(sa).sin_port = htons(port);
}

}  // namespace

struct NutListener::Client {
  int fd = -1;
  EventLoop::TimerId timer = 0;
  int64_t armedFor = -1;                       // the time the timer is armed for; -1 not armed
  bool watchRead = false, watchWrite = false;  // what the loop watches
  NutSession session;
  std::string in;  // received and not yet handled: an unfinished line, or lines behind a held reply
  std::string out;  // replies the system has not taken yet, from outFrom on
  size_t outFrom = 0;
  int64_t heardAt = 0;     // when the client last sent something
  int64_t holdUntil = -1;  // when the reply to a wrong password goes out; -1 when none is held
  std::string held;        // that reply
  bool heldClose = false;
  bool ended = false;    // the client has closed its sending side
  bool closing = false;  // dropped: what is queued goes out, then the socket is closed
  bool shut = false;     // closing: everything went out and the sending side is shut
  int64_t closeBy = -1;  // closing: cut off then, taken or not

  size_t Unsent() const { return out.size() - outFrom; }
};

NutListener::NutListener(HostLogic& host, EventLoop& loop) : host_(host), loop_(loop) {
  host_.AddListener(this);
}

NutListener::~NutListener() {
  Close();
  host_.RemoveListener(this);
}

void NutListener::PortStateChanged(bool open) {
  if (protocol_) protocol_->SetLineOpen(open);
}

std::string NutListener::ListenOn(const sockaddr* sa, unsigned len) {
  const int fd = ::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return Reason(errno);
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // IPv6 only, so that "0.0.0.0 ::" can be listed as two entries.
  if (sa->sa_family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  if (::bind(fd, sa, len) != 0 || ::listen(fd, SOMAXCONN) != 0) {
    const int err = errno;
    ::close(fd);
    return Reason(err);
  }
  sockaddr_storage bound{};
  socklen_t boundLen = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLen);
  const uint16_t port = PortOf(bound);
  const std::string host = NumericHost(reinterpret_cast<const sockaddr*>(&bound), boundLen);
  servers_.push_back(
      {fd, (bound.ss_family == AF_INET6 ? "[" + host + "]" : host) + ":" + std::to_string(port)});
  if (port_ == 0) port_ = port;
  loop_.Watch(fd, true, false, [this, fd] { Accept(fd); });
  return "";
}

std::string NutListener::Listen(const NutServerConfig& config, NutUsers users) {
  Close();
  config_ = config;
  const std::vector<std::string> entries = SplitNutListen(config.Listen);
  if (entries.empty()) return "no address to listen on";
  protocol_.reset();  // its hook in the command requests goes before the new one's comes
  protocol_ = std::make_unique<NutProtocol>(host_.Ctx(), std::move(users));
  protocol_->SetLineOpen(host_.PortIsOpen());
  protocol_->SetConfiguredModel(config.ModelCode);
  protocol_->OnAudit = [this](const std::string& line) { Audit(line); };
  protocol_->OnUnitEvent = [this](int addr, int code) {
    host_.Core().EventLog().LogNetworkRequest(code, static_cast<uint8_t>(addr));
  };
  // With port 0 the first address picks a free port and the others take the same.
  auto port = static_cast<uint16_t>(config.Port);
  std::vector<std::string> done;
  std::string error;
  for (const std::string& entry : entries) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    const bool numeric = ::getaddrinfo(entry.c_str(), nullptr, &hints, &found) == 0;
    if (!numeric) {
      hints.ai_flags = AI_ADDRCONFIG;
      const int rc = ::getaddrinfo(entry.c_str(), nullptr, &hints, &found);
      if (rc != 0) {
        error = "cannot resolve " + entry + ": " +
                (rc == EAI_SYSTEM ? Reason(errno) : gai_strerror(rc));
        break;
      }
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
    // A numeric address must be served; of a name's addresses, one is enough (localhost has an
    // IPv6 address also where IPv6 is switched off).
    std::string firstError;
    int bound = 0;
    for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
      if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
      const std::string host = NumericHost(ai->ai_addr, ai->ai_addrlen);
      if (std::find(done.begin(), done.end(), host) != done.end()) {
        ++bound;
        continue;
      }
      sockaddr_storage sa{};
      std::memcpy(&sa, ai->ai_addr, std::min<size_t>(ai->ai_addrlen, sizeof sa));
      SetPort(sa, port);
      const std::string e = ListenOn(reinterpret_cast<const sockaddr*>(&sa), ai->ai_addrlen);
      if (e.empty()) {
        done.push_back(host);
        if (port == 0) port = port_;
        ++bound;
      } else if (firstError.empty()) {
        firstError = host + ": " + e;
      }
    }
    if (bound == 0 || (numeric && !firstError.empty())) {
      error = firstError.empty() ? "no address of " + entry + " to listen on" : firstError;
      break;
    }
  }
  if (!error.empty()) {
    Close();
    return error;
  }
  return "";
}

void NutListener::Close() {
  while (!clients_.empty()) Drop(clients_.back().get());
  for (const std::unique_ptr<Client>& c : closing_) CloseSocket(c.get());
  closing_.clear();
  for (const Server& s : servers_) {
    loop_.Unwatch(s.fd);
    ::close(s.fd);
  }
  servers_.clear();
  port_ = 0;
  if (acceptPause_) loop_.RemoveTimer(acceptPause_);
  acceptPause_ = 0;
  starved_ = false;
}

std::string NutListener::Where() const {
  std::string out;
  for (const Server& s : servers_) out += (out.empty() ? "" : ", ") + s.where;
  return out;
}

void NutListener::Audit(const std::string& line) const {
  if (audit_) {
    audit_(line);
    return;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void NutListener::WatchServers(bool on) {
  for (const Server& s : servers_) {
    if (on) {
      const int fd = s.fd;
      loop_.Watch(fd, true, false, [this, fd] { Accept(fd); });
    } else {
      loop_.Unwatch(s.fd);
    }
  }
}

void NutListener::Accept(int serverFd) {
  for (;;) {
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    const int fd =
        ::accept4(serverFd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      if (err == EAGAIN || err == EWOULDBLOCK) return;
      if (err == EMFILE || err == ENFILE || err == ENOBUFS || err == ENOMEM) {
        // The connection stays in the backlog and the socket readable: without a pause the loop
        // would spin until a descriptor is free.
        if (!starved_)
          Audit("NUT server: cannot accept connections: " + Reason(err) +
                "; trying again every second");
        starved_ = true;
        WatchServers(false);
        if (!acceptPause_) acceptPause_ = loop_.AddTimer([this] { WatchServers(true); });
        loop_.Arm(acceptPause_, loop_.Now() + kAcceptPauseNs);
        return;
      }
      if (err == EBADF || err == EINVAL || err == ENOTSOCK || err == EFAULT) return;
      continue;  // that connection failed on the way (reset, refused by a firewall rule)
    }
    starved_ = false;
    if (ClientCount() >= config_.MaxClients) ReapGone();
    if (ClientCount() >= config_.MaxClients) {
      ::close(fd);
      continue;
    }
    auto c = std::make_unique<Client>();
    Client* raw = c.get();
    c->fd = fd;
    c->session.Peer = NumericHost(reinterpret_cast<const sockaddr*>(&sa), len);
    c->heardAt = loop_.Now();
    c->timer = loop_.AddTimer([this, raw] { Due(raw); });
    clients_.push_back(std::move(c));
    Rewatch(raw);
    Rearm(raw);
  }
}

void NutListener::ReapGone() {
  std::vector<Client*> gone;
  for (const std::unique_ptr<Client>& c : clients_) {
    if (c->holdUntil >= 0) continue;  // a reply is owed to it first
    // Nothing left to read and the end of the stream next: the client has closed its side, and
    // every line it sent was answered when it was read.
    char b;
    const ssize_t n = ::recv(c->fd, &b, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
      gone.push_back(c.get());
  }
  for (Client* c : gone) Drop(c, false);
}

int64_t NutListener::IdleNs() const {
  return static_cast<int64_t>(config_.IdleSeconds) * 1'000'000'000;
}

void NutListener::Rewatch(Client* c) {
  // Nothing is read while a reply is held: the lines behind it wait in the system's buffers, so a
  // client cannot pile up more here.
  const bool read = !c->ended && c->holdUntil < 0;
  const bool write = c->Unsent() > 0;
  if (read == c->watchRead && write == c->watchWrite) return;
  c->watchRead = read;
  c->watchWrite = write;
  if (!read && !write) {
    loop_.Unwatch(c->fd);
    return;
  }
  loop_.Watch(c->fd, read, write, [this, c] { Ready(c); });
}

void NutListener::Rearm(Client* c) {
  const int64_t at = c->closing          ? c->closeBy
                     : c->holdUntil >= 0 ? c->holdUntil
                                         : c->heardAt + IdleNs();
  // A timer armed earlier is left as it is: it finds nothing due and is armed again then, so that
  // a client that talks costs no timer calls.
  if (c->armedFor >= 0 && c->armedFor <= at) return;
  c->armedFor = at;
  loop_.Arm(c->timer, at);
}

void NutListener::Due(Client* c) {
  c->armedFor = -1;
  const int64_t now = loop_.Now();
  if (c->closing) {
    if (now >= c->closeBy) {
      Finish(c);
      return;
    }
  } else if (c->holdUntil >= 0) {
    if (now >= c->holdUntil) {
      Release(c);
      return;
    }
  } else if (now - c->heardAt >= IdleNs()) {
    Drop(c);
    return;
  }
  Rearm(c);
}

void NutListener::Ready(Client* c) {
  if (c->closing) {
    Linger(c);
    return;
  }
  if (c->Unsent() > 0 && !Send(c)) {
    Drop(c);
    return;
  }
  if (c->watchRead && !Read(c)) return;
  if (!Process(c)) return;
  Rewatch(c);
  Rearm(c);
}

bool NutListener::Read(Client* c) {
  char buf[16 * 1024];
  size_t total = 0;
  while (total < kReadChunk) {
    const ssize_t n = ::recv(c->fd, buf, sizeof buf, 0);
    if (n > 0) {
      c->in.append(buf, static_cast<size_t>(n));
      total += static_cast<size_t>(n);
    } else if (n == 0) {
      c->ended = true;
      break;
    } else if (errno != EINTR) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      Drop(c);  // reset
      return false;
    }
  }
  if (total > 0) c->heardAt = loop_.Now();
  return true;
}

bool NutListener::Process(Client* c) {
  bool close = false;
  // Room for the CR of a line of full length.
  const size_t bound = kNutMaxLine + 1;
  if (c->holdUntil < 0 && (c->in.find('\n') != std::string::npos || c->in.size() > bound)) {
    std::string replies;
    size_t pos = 0;
    host_.CatchUp();
    while (!close) {
      const size_t nl = c->in.find('\n', pos);
      if (nl == std::string::npos) {
        // A line that cannot end within the bound is refused before it is read to its end.
        if (c->in.size() - pos > bound) {
          replies += protocol_->Handle(c->session, std::string(kNutMaxLine + 1, 'x'));
          close = true;
        }
        break;
      }
      std::string_view line(c->in.data() + pos, nl - pos);
      pos = nl + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      std::string reply = protocol_->Handle(c->session, line);
      close = c->session.Close;
      if (c->session.AuthFailed) {
        c->held = std::move(reply);
        c->heldClose = close;
        c->holdUntil = loop_.Now() + FailureDelay(c->session.Peer);
        close = false;
        break;
      }
      replies += reply;
    }
    c->in.erase(0, pos);
    host_.Rearm();
    c->out += replies;
  }
  if (c->Unsent() > 0 && !Send(c)) {
    Drop(c);
    return false;
  }
  // A client that sends without reading what comes back would have the replies pile up here.
  if (c->Unsent() > kMaxUnsentBytes) {
    Drop(c);
    return false;
  }
  // After the reply is out; and a client that closed its side has had a reply to every line it
  // finished (an unfinished last line has none).
  if (close || (c->ended && c->holdUntil < 0)) {
    Drop(c, false);
    return false;
  }
  return true;
}

void NutListener::Release(Client* c) {
  c->holdUntil = -1;
  c->heardAt = loop_.Now();  // it was waiting for this server, not silent
  c->out += c->held;
  c->held.clear();
  if (c->heldClose) {
    Drop(c, false);
    return;
  }
  if (!Process(c)) return;
  Rewatch(c);
  Rearm(c);
}

bool NutListener::Send(Client* c) {
  while (c->Unsent() > 0) {
    const ssize_t n =
        ::send(c->fd, c->out.data() + c->outFrom, c->Unsent(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c->outFrom += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else if (n < 0 && errno != EINTR) {
      return false;
    }
  }
  if (c->outFrom == c->out.size()) {
    c->out.clear();
    c->outFrom = 0;
  } else if (c->outFrom >= c->out.size() / 2) {
    c->out.erase(0, c->outFrom);  // taken in parts: keep the buffer from only growing
    c->outFrom = 0;
  }
  return true;
}

int64_t NutListener::FailureDelay(const std::string& peer) {
  const int64_t now = loop_.Now();
  if (failures_.size() >= kMaxFailureRecords) {
    for (auto it = failures_.begin(); it != failures_.end();)
      it = now - it->second.last > kForgetNs ? failures_.erase(it) : std::next(it);
    if (failures_.size() >= kMaxFailureRecords) failures_.erase(failures_.begin());
  }
  Failures& f = failures_[peer];
  if (f.count > 0 && now - f.last > kForgetNs) f = Failures{};
  ++f.count;
  f.last = now;
  const int64_t delay = std::min<int64_t>(kFirstDelayNs << std::min(f.count - 1, 20), kMaxDelayNs);
  const int64_t release = std::min(std::max(now, f.nextFree) + delay, now + kMaxHoldNs);
  f.nextFree = release;
  Audit("NUT: wrong password number " + std::to_string(f.count) + " from " + peer +
        "; the reply waits " + Seconds(release - now));
  return release - now;
}

void NutListener::Drop(Client* c, bool abort) {
  auto it = std::find_if(clients_.begin(), clients_.end(),
                         [c](const std::unique_ptr<Client>& p) { return p.get() == c; });
  if (it == clients_.end()) return;
  // The slot is free from here on, even while the last replies are still going out.
  std::unique_ptr<Client> gone = std::move(*it);
  clients_.erase(it);
  if (protocol_) protocol_->Forget(gone->session);
  if (abort || !Send(gone.get()) ||
      (gone->Unsent() == 0 && (gone->ended || !InputWaiting(gone->fd)))) {
    CloseSocket(gone.get());
    return;
  }
  // Closed once what is queued went out; cut off if the client does not take it within a while.
  gone->closing = true;
  gone->holdUntil = -1;
  gone->held.clear();
  gone->in.clear();
  gone->closeBy = loop_.Now() + IdleNs();
  Client* raw = gone.get();
  closing_.push_back(std::move(gone));
  Linger(raw);
}

void NutListener::Linger(Client* c) {
  // Closing a socket with unread input resets the connection, and the replies not yet delivered
  // go with it: once they are out, the sending side is shut and whatever the client still sends
  // is read and thrown away until it closes too, for a short while at most.
  bool done = !Send(c);
  if (!done && !c->ended) {
    char buf[16 * 1024];
    for (size_t total = 0; total < kReadChunk;) {
      const ssize_t n = ::recv(c->fd, buf, sizeof buf, 0);
      if (n > 0) {
        total += static_cast<size_t>(n);
      } else if (n == 0) {
        c->ended = true;
        break;
      } else if (errno != EINTR) {
        done = errno != EAGAIN && errno != EWOULDBLOCK;
        break;
      }
    }
  }
  if (!done && c->Unsent() == 0) {
    if (c->ended) {
      done = true;
    } else if (!c->shut) {
      ::shutdown(c->fd, SHUT_WR);
      c->shut = true;
      c->closeBy = std::min(c->closeBy, loop_.Now() + kLingerNs);
    }
  }
  if (done) {
    Finish(c);
    return;
  }
  Rewatch(c);
  Rearm(c);
}

void NutListener::Finish(Client* c) {
  auto it = std::find_if(closing_.begin(), closing_.end(),
                         [c](const std::unique_ptr<Client>& p) { return p.get() == c; });
  if (it == closing_.end()) return;
  std::unique_ptr<Client> gone = std::move(*it);
  closing_.erase(it);
  CloseSocket(gone.get());
}

void NutListener::CloseSocket(Client* c) {
  loop_.Unwatch(c->fd);
  loop_.RemoveTimer(c->timer);
  ::close(c->fd);
  c->fd = -1;
}

std::unique_ptr<NutListener> StartNutListener(HostLogic& host, EventLoop& loop,
                                              std::string& report) {
  report.clear();
  const ProgramPaths& paths = host.Paths();
  const NutServerConfig config = ReadNutServerConfig(paths.SettingsFile, paths.Home);
  if (!config.Enabled) return nullptr;
  NutUsers users = LoadNutUsers(config.UsersFile);
  for (const std::string& p : users.Problems)
    report += "NUT users file " + config.UsersFile + ": " + p + "\n";
  if (!config.ModelCode.empty() && !IsAcceptedModelCode(config.ModelCode))
    report +=
        "NUT server: " + config.ModelCode + " is no model code; parameters cannot be written\n";
  auto nut = std::make_unique<NutListener>(host, loop);
  const std::string error = nut->Listen(config, std::move(users));
  if (!error.empty()) {
    report += "NUT server cannot listen on " + config.Listen + ":" + std::to_string(config.Port) +
              ": " + error;
    return nullptr;
  }
  report += "NUT server listening on " + nut->Where();
  return nut;
}

}  // namespace tessel
