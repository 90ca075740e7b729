// The network UPS server's sockets on the daemon's loop, with the host over a fake serial port:
// who gets a connection and who loses it, lines and their bound, replies that the system cannot
// take at once, clients that close their sending side, and wrong passwords answered later. The
// loop's clock can be moved on, so that idle limits and held replies come due without waiting.
#include "service/nut_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/device_list_file.h"
#include "log/event_log.h"
#include "service/poll_loop.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

constexpr int64_t kMs = 1'000'000;
constexpr int64_t kSecond = 1000 * kMs;
const std::string kHelp =
    "Commands: HELP VER NETVER GET LIST SET INSTCMD LOGIN LOGOUT USERNAME PASSWORD PRIMARY FSD "
    "STARTTLS\n";

class FakePort : public SerialPort {
 public:
  void Open(const SerialPortSettings&) override { open = true; }
  void Close() override { open = false; }
  bool IsOpen() const override { return open; }
  bool Send(const uint8_t*, int n) override { return open && n > 0; }
  bool open = false;
};

// The daemon's loop with a clock the test moves on, and a record of the descriptors it watches.
class TestLoop : public PollLoop {
 public:
  int64_t Now() const override { return PollLoop::Now() + skew; }
  void Watch(int fd, bool read, bool write, Callback ready) override {
    watched.insert(fd);
    PollLoop::Watch(fd, read, write, std::move(ready));
  }
  void Unwatch(int fd) override {
    watched.erase(fd);
    PollLoop::Unwatch(fd);
  }
  int64_t skew = 0;
  std::set<int> watched;
};

// The client's end of a connection: a plain socket, non-blocking once connected.
struct Peer {
  explicit Peer(uint16_t port, const std::string& address = "127.0.0.1", int receiveBuffer = 0) {
    sockaddr_storage sa{};
    socklen_t len = 0;
    if (address.find(':') != std::string::npos) {
      auto& a6 = reinterpret_cast<sockaddr_in6&>(sa);
      a6.sin6_family = AF_INET6;
      a6.sin6_port = htons(port);
      inet_pton(AF_INET6, address.c_str(), &a6.sin6_addr);
      len = sizeof a6;
    } else {
      auto& a4 = reinterpret_cast<sockaddr_in&>(sa);
      a4.sin_family = AF_INET;
      a4.sin_port = htons(port);
      inet_pton(AF_INET, address.c_str(), &a4.sin_addr);
      len = sizeof a4;
    }
    fd = ::socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    // The kernel completes the connection; the server's loop need not run for it.
    connected = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), len) == 0;
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
  }
  ~Peer() {
    if (fd >= 0) ::close(fd);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Takes what has arrived, without waiting; ended once the server closed or reset.
  void Take() {
    char buf[64 * 1024];
    for (;;) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n > 0) {
        got.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) ended = true;
      if (n == 0 || errno != EINTR) return;
    }
  }

  int fd = -1;
  bool connected = false;
  std::string got;
  bool ended = false;
};

class NutListenerTest : public ::testing::Test, private HostListener {
 protected:
  NutListenerTest() {
    char tmpl[] = "/tmp/tessel-nut-XXXXXX";
    home_ = mkdtemp(tmpl);
  }
  ~NutListenerTest() override {
    Stop();
    fs::remove_all(home_);
  }

  void Stop() {
    nut_.reset();
    if (host_) host_->RemoveListener(this);
    host_.reset();
  }

  // The host over the fake port with unit 1 listed, and the server as the section says. The
  // host's own clock stands still, so no poll tick changes the unit behind the test's back.
  void Start(const std::string& section) {
    Stop();
    const ProgramPaths paths = MakeProgramPaths(home_);
    std::ofstream(paths.SettingsFile) << "[CommPort]\nComName=/dev/fake-ups\nProtocol=2\n"
                                      << section;
    std::ofstream(home_ + "/upsd.users") << "[op]\n password = x\n instcmds = ALL\n";
    fs::permissions(home_ + "/upsd.users", usersMode_);
    CreateProgramFolders(paths);
    TEquipList list;
    TEquipRec rec;
    rec.Addr = 1;
    AppendDevice(list, rec);
    SaveDeviceList(paths.TreeFile, list);
    host_ = std::make_unique<HostLogic>(paths, port_, clock_, [] { return int64_t{0}; });
    host_->AddListener(this);
    host_->Start();
    report_.clear();
    nut_ = StartNutListener(*host_, loop_, report_);
    if (nut_) nut_->SetAuditSink([this](const std::string& l) { audit_.push_back(l); });
  }
  uint16_t Port() const { return nut_->Port(); }

  // Runs the loop until cond holds; false when it does not within a generous bound.
  bool Pump(const std::function<bool()>& cond,
            std::chrono::seconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
      if (std::chrono::steady_clock::now() > end) return false;
      loop_.RunOnce(loop_.Now() + 20 * kMs);
    }
    return true;
  }
  // Sends it all, the server running meanwhile; false when the connection broke on the way.
  bool Send(Peer& p, const std::string& data) {
    size_t sent = 0;
    const bool whole = Pump([&] {
      while (sent < data.size()) {
        const ssize_t n =
            ::send(p.fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
          sent += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
          return errno != EAGAIN && errno != EWOULDBLOCK;  // broken: stop trying
        }
      }
      return true;
    });
    return whole && sent == data.size();
  }
  // What comes back for one line: up to its line end, or what came before the server closed.
  std::string Ask(Peer& p, const std::string& line) {
    p.got.clear();
    Send(p, line);
    return Await(p);
  }
  std::string Await(Peer& p) {
    Pump([&] {
      p.Take();
      return p.ended || (!p.got.empty() && p.got.back() == '\n');
    });
    return p.got;
  }
  // Once p is served: the server's end of its connection made to buffer little in the system, so
  // that replies that are not read pile up in the server.
  void Narrow(Peer& p) {
    ASSERT_EQ(Ask(p, "NETVER\n"), "1.3\n");
    p.got.clear();
    sockaddr_storage mine{}, theirs{};
    socklen_t mineLen = sizeof mine;
    ::getsockname(p.fd, reinterpret_cast<sockaddr*>(&mine), &mineLen);
    for (int fd : loop_.watched) {
      socklen_t len = sizeof theirs;
      if (::getpeername(fd, reinterpret_cast<sockaddr*>(&theirs), &len) == 0 && len == mineLen &&
          std::memcmp(&mine, &theirs, len) == 0) {
        const int small = 4096;
        ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
        return;
      }
    }
    FAIL() << "the server's end is not watched";
  }
  // Whether the server closes the connection (within the bound), taking what comes before.
  bool Ends(Peer& p) {
    return Pump([&] {
      p.Take();
      return p.ended;
    });
  }
  // The unit answers as on mains.
  void UnitOnline() {
    TUpsInfo& u = host_->Ctx().model.UpsTable[1];
    u.CommState = kCommOk;
    u.RunState = kRunOnline;
  }
  std::vector<std::string> Waits() const {
    std::vector<std::string> out;
    for (const std::string& l : audit_)
      if (l.rfind("NUT: wrong password number ", 0) == 0)
        out.push_back(l.substr(l.find("waits ") + 6));
    return out;
  }

  void EventAppended(const TEventRec& rec) override { events_.push_back(rec); }

  std::string home_;
  fs::perms usersMode_ = fs::perms::owner_read | fs::perms::owner_write;
  FakePort port_;
  ManualClock clock_{45000.0};
  TestLoop loop_;
  std::unique_ptr<HostLogic> host_;
  std::unique_ptr<NutListener> nut_;
  std::string report_;
  std::vector<std::string> audit_;
  std::vector<TEventRec> events_;
};

TEST_F(NutListenerTest, ReportsWhereItListensAndWhatItIgnored) {
  Start("");
  EXPECT_EQ(nut_, nullptr);
  EXPECT_TRUE(report_.empty()) << "off unless its section switches it on";

  Start("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(nut_, nullptr) << report_;
  EXPECT_TRUE(nut_->Listening());
  EXPECT_EQ(report_, "NUT server listening on 127.0.0.1:" + std::to_string(Port()));

  usersMode_ |= fs::perms::others_read;
  Start("[NutServer]\nEnabled=1\nPort=0\nModelCode=XYZ\n");
  ASSERT_NE(nut_, nullptr) << report_;
  const std::string users = home_ + "/upsd.users";
  EXPECT_EQ(report_, "NUT users file " + users + ": other users may read it and its passwords; " +
                         "fix with: chmod o-rwx " + users +
                         "\nNUT server: XYZ is no model code; parameters cannot be written\n" +
                         "NUT server listening on 127.0.0.1:" + std::to_string(Port()));
}

TEST_F(NutListenerTest, WhatCannotBeListenedOnIsReportedAndLeavesTheMonitorRunning) {
  const int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  socklen_t len = sizeof a;
  ::getsockname(taken, reinterpret_cast<sockaddr*>(&a), &len);
  const std::string port = std::to_string(ntohs(a.sin_port));

  struct Case {
    std::string listen, port, report;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1", port,
       "NUT server cannot listen on 127.0.0.1:" + port + ": 127.0.0.1: Address already in use"},
      // Every numeric address must be served.
      {"127.0.0.1 192.0.2.1", "0",
       "NUT server cannot listen on 127.0.0.1 192.0.2.1:0: 192.0.2.1: Cannot assign requested "
       "address"},
      {"127.0.0.1, no-such-host.invalid", "0",
       "NUT server cannot listen on 127.0.0.1, no-such-host.invalid:0: cannot resolve "
       "no-such-host.invalid: "},
      {" , ", "0", "NUT server cannot listen on ,:0: no address to listen on"},
  };
  for (const Case& c : cases) {
    Start("[NutServer]\nEnabled=1\nListen=" + c.listen + "\nPort=" + c.port + "\n");
    EXPECT_EQ(nut_, nullptr) << c.listen;
    EXPECT_EQ(report_.substr(0, c.report.size()), c.report);
    EXPECT_TRUE(host_->Started());
    EXPECT_TRUE(loop_.watched.empty()) << c.listen << ": what did bind is closed again";
  }
  ::close(taken);
}

TEST_F(NutListenerTest, ListensOnHostNamesAndSeveralAddressesOnOnePort) {
  Start("[NutServer]\nEnabled=1\nPort=0\nListen=localhost 127.0.0.1\n");
  ASSERT_NE(nut_, nullptr) << report_;
  EXPECT_NE(nut_->Where().find("127.0.0.1:"), std::string::npos);
  {
    Peer p(Port());
    EXPECT_EQ(Ask(p, "NETVER\n"), "1.3\n");
  }

  // Port 0: the first address picks one, the others take the same.
  Start("[NutServer]\nEnabled=1\nPort=0\nListen=127.0.0.1,127.0.0.2\n");
  ASSERT_NE(nut_, nullptr) << report_;
  const std::string port = std::to_string(Port());
  EXPECT_EQ(nut_->Where(), "127.0.0.1:" + port + ", 127.0.0.2:" + port);
  for (const char* address : {"127.0.0.1", "127.0.0.2"}) {
    Peer p(Port(), address);
    EXPECT_EQ(Ask(p, "NETVER\n"), "1.3\n") << address;
  }

  // The IPv6 loopback only where the machine has it.
  const int probe = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 a6{};
  a6.sin6_family = AF_INET6;
  a6.sin6_addr = in6addr_loopback;
  const bool v6 = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&a6), sizeof a6) == 0;
  if (probe >= 0) ::close(probe);
  if (!v6) return;
  Start("[NutServer]\nEnabled=1\nPort=0\nListen=127.0.0.1 ::1\n");
  ASSERT_NE(nut_, nullptr) << report_;
  const std::string port6 = std::to_string(Port());
  EXPECT_EQ(report_, "NUT server listening on 127.0.0.1:" + port6 + ", [::1]:" + port6);
  Peer p(Port(), "::1");
  EXPECT_EQ(Ask(p, "NETVER\n"), "1.3\n");

  // Of a name's addresses one is enough: localhost with its IPv4 port taken still listens.
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  bool both = false;
  if (::getaddrinfo("localhost", nullptr, &hints, &found) == 0) {
    for (const addrinfo* ai = found; ai; ai = ai->ai_next) both = both || ai->ai_family == AF_INET6;
    ::freeaddrinfo(found);
  }
  if (!both) return;
  const int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a4{};
  a4.sin_family = AF_INET;
  a4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&a4), sizeof a4), 0);
  ASSERT_EQ(::listen(taken, 1), 0);
  socklen_t len = sizeof a4;
  ::getsockname(taken, reinterpret_cast<sockaddr*>(&a4), &len);
  const std::string takenPort = std::to_string(ntohs(a4.sin_port));
  Start("[NutServer]\nEnabled=1\nListen=localhost\nPort=" + takenPort + "\n");
  ASSERT_NE(nut_, nullptr) << report_;
  EXPECT_EQ(nut_->Where(), "[::1]:" + takenPort);
  ::close(taken);
}

TEST_F(NutListenerTest, CutsOffTheExtraAndTheSilentButNotTheTalkative) {
  Start("[NutServer]\nEnabled=1\nPort=0\nMaxClients=2\nIdleSeconds=300\n");
  ASSERT_NE(nut_, nullptr) << report_;
  Peer a(Port());
  EXPECT_EQ(Ask(a, "NETVER\r\n"), "1.3\n");
  Peer b(Port());
  EXPECT_EQ(Ask(b, "NETVER\n"), "1.3\n");
  const int64_t limit = loop_.Now() + 50 * kMs;
  loop_.RunOnce(limit);
  EXPECT_GE(loop_.Now(), limit) << "nothing wakes the loop while the clients are silent";
  Peer c(Port());  // beyond the limit
  EXPECT_TRUE(Ends(c));
  EXPECT_EQ(c.got, "");
  EXPECT_EQ(nut_->ClientCount(), 2);

  // Silence longer than IdleSeconds ends a connection; talking keeps it.
  loop_.skew += 200 * kSecond;
  EXPECT_EQ(Ask(a, "NETVER\n"), "1.3\n");
  loop_.skew += 200 * kSecond;
  EXPECT_TRUE(Ends(b)) << "silent for 400 s";
  EXPECT_FALSE(a.ended);
  EXPECT_EQ(Ask(a, "NETVER\n"), "1.3\n") << "silent for 200 s only";
  Peer d(Port());  // b's slot
  EXPECT_EQ(Ask(d, "NETVER\n"), "1.3\n");
  loop_.skew += 301 * kSecond;
  EXPECT_TRUE(Ends(a));
  EXPECT_TRUE(Ends(d));
  EXPECT_EQ(nut_->ClientCount(), 0);
}

TEST_F(NutListenerTest, LinesUpToTheBoundAreAnsweredLongerOnesEndTheConnection) {
  Start("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(nut_, nullptr) << report_;
  const std::string full = "NETVER" + std::string(kNutMaxLine - 6, ' ');
  std::string helps, helpReplies;
  for (int i = 0; i < 1000; ++i) {
    helps += "HELP\n";
    helpReplies += kHelp;
  }
  struct Case {
    const char* what;
    std::vector<std::string> parts;  // sent one after the other, the server reading between
    std::string reply;
    bool ends;
  };
  const std::vector<Case> cases = {
      {"a line of full length", {full + "\n"}, "1.3\n", false},
      {"its CR and LF coming apart", {full + "\r", "\n"}, "1.3\n", false},
      {"one character more", {full + "x\n"}, "ERR TOO-LONG\n", true},
      {"a line that does not end", {std::string(kNutMaxLine + 10, 'A')}, "ERR TOO-LONG\n", true},
      // Refused at once, while the replies to the lines before it still wait for a client that
      // has not read them: the rest of the flood is read and thrown away, since closing with
      // unread input would reset the connection and the replies not yet delivered with it.
      {"a flood without line ends",
       {helps + std::string(1 << 20, 'A')},
       helpReplies + "ERR TOO-LONG\n",
       true},
  };
  for (const Case& c : cases) {
    Peer p(Port(), "127.0.0.1", 4096);
    ASSERT_EQ(Ask(p, "NETVER\n"), "1.3\n");
    p.got.clear();
    for (const std::string& part : c.parts) {
      Send(p, part);
      loop_.RunOnce(loop_.Now() + 1000 * kMs);
    }
    if (c.ends) {
      EXPECT_TRUE(Ends(p)) << c.what;
    } else {
      Pump([&] {
        p.Take();
        return p.got.size() >= c.reply.size();
      });
    }
    EXPECT_TRUE(p.got == c.reply) << c.what << ": " << p.got.size() << " bytes";
    EXPECT_EQ(p.ended, c.ends) << c.what;
  }
}

TEST_F(NutListenerTest, LogoutClosesAfterTheReplyAndCloseEndsEveryConnection) {
  Start("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(nut_, nullptr) << report_;
  Peer a(Port());
  EXPECT_EQ(Ask(a, "LOGOUT\n"), "OK Goodbye\n");
  EXPECT_TRUE(Ends(a));
  Peer b(Port());
  EXPECT_EQ(Ask(b, "NETVER\n"), "1.3\n");
  const uint16_t port = Port();
  nut_->Close();
  EXPECT_TRUE(Ends(b));
  EXPECT_FALSE(nut_->Listening());
  EXPECT_EQ(nut_->ClientCount(), 0);
  EXPECT_TRUE(loop_.watched.empty());
  Peer c(port);
  EXPECT_FALSE(c.connected);
}

TEST_F(NutListenerTest, AClientThatStopsSendingGetsEveryReplyBeforeTheClose) {
  Start("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(nut_, nullptr) << report_;
  int answered = 0;
  for (int i = 0; i < 100; ++i) {
    Peer p(Port());
    ASSERT_TRUE(Send(p, "NETVER\nGET VAR ups9 ups.status\nVER"));  // the last line unfinished
    ::shutdown(p.fd, SHUT_WR);
    EXPECT_TRUE(Ends(p));
    answered += p.got == "1.3\nERR UNKNOWN-UPS\n";
    EXPECT_EQ(p.got, "1.3\nERR UNKNOWN-UPS\n") << "try " << i;
    if (HasFailure()) break;
  }
  EXPECT_EQ(answered, 100);
  EXPECT_EQ(nut_->ClientCount(), 0);

  // A held reply and the lines behind it are answered too.
  Peer held(Port());
  ASSERT_TRUE(Send(held, "USERNAME op\nPASSWORD y\nINSTCMD ups1 load.off\nNETVER\n"));
  ::shutdown(held.fd, SHUT_WR);
  ASSERT_TRUE(Pump([&] { return !Waits().empty(); }));
  loop_.skew += kSecond;
  EXPECT_TRUE(Ends(held));
  EXPECT_EQ(held.got, "OK\nOK\nERR ACCESS-DENIED\n1.3\n");

  // More replies than the system's buffers take: the rest goes out after the client's slot is
  // free, while it reads.
  std::string ask, want;
  for (int i = 0; i < 4000; ++i) {
    ask += "HELP\nNETVER\n";
    want += kHelp + "1.3\n";
  }
  Peer big(Port(), "127.0.0.1", 4096);
  Narrow(big);
  ASSERT_TRUE(Send(big, ask));
  ::shutdown(big.fd, SHUT_WR);
  ASSERT_TRUE(Pump([&] { return nut_->ClientCount() == 0; }));
  EXPECT_TRUE(Ends(big));
  EXPECT_EQ(big.got.size(), want.size());
  EXPECT_TRUE(big.got == want);
}

TEST_F(NutListenerTest, RepliesTheSystemCannotTakeAtOnceGoOutWholeAndInOrder) {
  Start("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(nut_, nullptr) << report_;
  // Well under the limit, well over what the system buffers for a client that reads little.
  std::string ask, want;
  for (int i = 0; i < 4000; ++i) {
    ask += "HELP\nNETVER\n";
    want += kHelp + "1.3\n";
  }
  Peer slow(Port(), "127.0.0.1", 4096);
  Narrow(slow);
  ASSERT_TRUE(Send(slow, ask));
  // Every request with the server before the client reads.
  Pump([&] {
    int queued = 0;
    return ::ioctl(slow.fd, SIOCOUTQ, &queued) == 0 && queued == 0;
  });
  for (int i = 0; i < 5; ++i) loop_.RunOnce(loop_.Now() + 20 * kMs);
  EXPECT_TRUE(Pump([&] {
    slow.Take();
    return slow.got.size() >= want.size() || slow.ended;
  }));
  EXPECT_EQ(slow.got.size(), want.size());
  EXPECT_TRUE(slow.got == want);
  EXPECT_EQ(Ask(slow, "NETVER\n"), "1.3\n");

  // A client that never reads is cut off once over a MiB of replies waits for it.
  Peer deaf(Port(), "127.0.0.1", 4096);
  Narrow(deaf);
  std::string flood;
  for (size_t n = 0; n < 2 * NutListener::kMaxUnsentBytes; n += kHelp.size()) flood += "HELP\n";
  Send(deaf, flood);
  EXPECT_TRUE(Pump([&] { return nut_->ClientCount() == 1; }));
  EXPECT_TRUE(Ends(deaf));
  EXPECT_LT(deaf.got.size(), 2 * NutListener::kMaxUnsentBytes);
  EXPECT_EQ(Ask(slow, "NETVER\n"), "1.3\n");
}

TEST_F(NutListenerTest, ASlotIsFreeAsSoonAsItsClientHasGone) {
  Start("[NutServer]\nEnabled=1\nPort=0\nMaxClients=5\n");
  ASSERT_NE(nut_, nullptr) << report_;
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < 5; ++i) peers.push_back(std::make_unique<Peer>(Port()));
  ASSERT_TRUE(Pump([&] { return nut_->ClientCount() == 5; }));
  int served = 0;
  for (int i = 0; i < 50; ++i) {
    // One leaves and another comes at once, before the server has run.
    std::unique_ptr<Peer>& slot = peers[static_cast<size_t>(i % 5)];
    slot.reset();
    slot = std::make_unique<Peer>(Port());
    served += Ask(*slot, "NETVER\n") == "1.3\n";
    EXPECT_EQ(nut_->ClientCount(), 5);
  }
  EXPECT_EQ(served, 50);
}

TEST_F(NutListenerTest, WrongPasswordsAreAnsweredLaterAndLaterWithoutHoldingUpOthers) {
  Start("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(nut_, nullptr) << report_;
  // Ten connections from one address fail at once: each reply waits behind the one before, the
  // first a quarter second, each next failure twice as long up to 5 s, none more than 30 s.
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < 10; ++i) {
    peers.push_back(std::make_unique<Peer>(Port()));
    for (const char* l : {"USERNAME op\n", "PASSWORD y\n"})
      ASSERT_EQ(Ask(*peers.back(), l), "OK\n");
    peers.back()->got.clear();
  }
  for (auto& p : peers) ASSERT_TRUE(Send(*p, "INSTCMD ups1 load.off\nNETVER\n"));
  ASSERT_TRUE(Pump([&] { return Waits().size() == 10; }));
  EXPECT_EQ(Waits(),
            (std::vector<std::string>{"0.25 s", "0.75 s", "1.75 s", "3.75 s", "7.75 s", "12.75 s",
                                      "17.75 s", "22.75 s", "27.75 s", "30.00 s"}));
  EXPECT_EQ(audit_.front(),
            "NUT audit: INSTCMD user=op client=127.0.0.1 ups=ups1 cmd=load.off "
            "result=ACCESS-DENIED (wrong user or password)");

  // Meanwhile others are served, the right password is not held back, and the held lines wait.
  Peer other(Port());
  EXPECT_EQ(Ask(other, "NETVER\n"), "1.3\n");
  for (const char* l : {"USERNAME op\n", "PASSWORD x\n"}) ASSERT_EQ(Ask(other, l), "OK\n");
  EXPECT_EQ(Ask(other, "INSTCMD ups1 load.off\n"), "ERR DATA-STALE\n");
  auto answered = [&] {
    int n = 0;
    for (auto& p : peers) {
      p->Take();
      n += p->got == "ERR ACCESS-DENIED\n1.3\n";
    }
    return n;
  };
  loop_.skew += 300 * kMs;
  EXPECT_TRUE(Pump([&] { return answered() >= 1; }));
  EXPECT_LT(answered(), 10);
  loop_.skew += 30 * kSecond;
  EXPECT_TRUE(Pump([&] { return answered() == 10; }));

  // The next failure waits its own 5 s; ten minutes without one and the address starts afresh.
  Peer again(Port());
  for (const char* l : {"USERNAME op\n", "PASSWORD z\n"}) ASSERT_EQ(Ask(again, l), "OK\n");
  again.got.clear();
  ASSERT_TRUE(Send(again, "INSTCMD ups1 load.off\n"));
  ASSERT_TRUE(Pump([&] { return Waits().size() == 11; }));
  EXPECT_EQ(audit_.back(), "NUT: wrong password number 11 from 127.0.0.1; the reply waits 5.00 s");
  loop_.skew += 5 * kSecond + 600 * kSecond;
  EXPECT_EQ(Await(again), "ERR ACCESS-DENIED\n");
  again.got.clear();
  ASSERT_TRUE(Send(again, "INSTCMD ups1 load.off\n"));
  ASSERT_TRUE(Pump([&] { return Waits().size() == 12; }));
  EXPECT_EQ(audit_.back(), "NUT: wrong password number 1 from 127.0.0.1; the reply waits 0.25 s");
}

TEST_F(NutListenerTest, TheLineStateAndTheUnitEventsReachTheServer) {
  Start("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(nut_, nullptr) << report_;
  ASSERT_TRUE(host_->PortIsOpen());
  UnitOnline();
  Peer p(Port());
  EXPECT_EQ(Ask(p, "GET VAR ups1 ups.status\n"), "VAR ups1 ups.status \"OL\"\n");
  for (const char* l : {"USERNAME op\n", "PASSWORD x\n"}) ASSERT_EQ(Ask(p, l), "OK\n");
  events_.clear();
  EXPECT_EQ(Ask(p, "INSTCMD ups1 load.off\n"), "OK\n");
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].Code, kEventNetLoadOff);
  EXPECT_EQ(events_[0].Address, 1);
  EXPECT_EQ(audit_.back(),
            "NUT audit: INSTCMD user=op client=127.0.0.1 ups=ups1 cmd=load.off result=OK");

  // A closed line makes every unit stale, whatever the table still holds.
  host_->ClosePort();
  UnitOnline();
  EXPECT_EQ(Ask(p, "GET VAR ups1 ups.status\n"), "ERR DATA-STALE\n");
  ASSERT_EQ(host_->OpenPort(), "");
  UnitOnline();
  EXPECT_EQ(Ask(p, "GET VAR ups1 ups.status\n"), "VAR ups1 ups.status \"OL\"\n");
}

// The soft limit on descriptors, lowered to what is in use for as long as it lives.
class NoSpareDescriptors {
 public:
  NoSpareDescriptors() {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    // The lowest free number: nothing at or above it may open.
    const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (lowest < 0) return;
    ::close(lowest);
    rlimit low = saved_;
    low.rlim_cur = static_cast<rlim_t>(lowest);
    ok_ = ::setrlimit(RLIMIT_NOFILE, &low) == 0;
  }
  ~NoSpareDescriptors() { Lift(); }
  void Lift() {
    if (ok_) ::setrlimit(RLIMIT_NOFILE, &saved_);
    ok_ = false;
  }
  bool Ok() const { return ok_; }

 private:
  rlimit saved_{};
  bool ok_ = false;
};

TEST_F(NutListenerTest, RunningOutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
  Start("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(nut_, nullptr) << report_;
  Peer first(Port());
  EXPECT_EQ(Ask(first, "NETVER\n"), "1.3\n");
  ASSERT_EQ(loop_.watched.size(), 2u);  // the listening socket and first
  Peer waiting(Port());                 // in the backlog until the server can take it
  NoSpareDescriptors limit;
  ASSERT_TRUE(limit.Ok());
  ASSERT_TRUE(Pump([&] { return loop_.watched.size() == 1; }))
      << "the listening socket is left alone while no descriptor is free";
  EXPECT_EQ(audit_.back().rfind("NUT server: cannot accept connections: Too many open files", 0),
            0u)
      << audit_.back();
  EXPECT_EQ(Ask(first, "NETVER\n"), "1.3\n") << "the clients it has are served meanwhile";

  // Tried again a second later: still none, and said only once.
  const size_t said = audit_.size();
  loop_.skew += NutListener::kAcceptPauseNs;
  for (int i = 0; i < 5; ++i) loop_.RunOnce(loop_.Now() + 20 * kMs);
  EXPECT_EQ(loop_.watched.size(), 1u);
  EXPECT_EQ(audit_.size(), said);

  limit.Lift();
  loop_.skew += NutListener::kAcceptPauseNs;
  EXPECT_EQ(Ask(waiting, "NETVER\n"), "1.3\n");
  EXPECT_EQ(nut_->ClientCount(), 2);
}

}  // namespace
}  // namespace tessel
