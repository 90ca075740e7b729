// The network UPS server's sockets inside the host: switched off unless its section says so, and
// connections beyond the limit, silent ones and over-long lines are cut off.
#include "host/nut_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

bool RunUntil(const std::function<bool()>& cond, int ms) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

class NutServerHost : public ::testing::Test {
 protected:
  NutServerHost() {
    char tmpl[] = "/tmp/tessel-nut-XXXXXX";
    home_ = mkdtemp(tmpl);
  }
  ~NutServerHost() override {
    host_.reset();
    fs::remove_all(home_);
  }

  void StartHost(const std::string& section) {
    std::ofstream(home_ + "/UserParaIni.ini")
        << "[CommPort]\nComName=" << home_ << "/no-such-port\nProtocol=2\n"
        << section;
    std::ofstream(home_ + "/upsd.users") << "[op]\n password = x\n instcmds = ALL\n";
    fs::permissions(home_ + "/upsd.users", fs::perms::owner_read | fs::perms::owner_write);
    if (usersMode_) fs::permissions(home_ + "/upsd.users", *usersMode_);
    host_ = std::make_unique<Host>(MakeProgramPaths(home_));
    QObject::connect(host_.get(), &Host::nutServerReported,
                     [this](const QString& m) { report_ = m.toStdString(); });
    host_->Start();
    if (host_->Nut())
      host_->Nut()->SetAuditSink([this](const std::string& l) { audit_.push_back(l); });
  }

  // A plain socket, for what Qt's sockets cannot do (closing only the sending side).
  int RawConnect() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(host_->Nut()->Port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
  }
  // What arrives until the server closes, with its loop running meanwhile.
  static std::string ReadToEnd(int fd, int ms) {
    std::string got;
    bool end = false;
    RunUntil(
        [&] {
          char buf[512];
          const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
          if (n > 0) got.append(buf, static_cast<size_t>(n));
          end = n == 0;
          return end;
        },
        ms);
    return end ? got : got + "(no end)";
  }

  std::unique_ptr<QTcpSocket> Connect() {
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, host_->Nut()->Port());
    // The kernel completes the connection; the server's loop need not run for it.
    EXPECT_TRUE(s->waitForConnected(5000));
    return s;
  }

  std::string Ask(QTcpSocket& s, const std::string& line) {
    s.write(line.data(), static_cast<qint64>(line.size()));
    RunUntil([&] { return s.canReadLine() || s.state() != QAbstractSocket::ConnectedState; }, 5000);
    return s.readAll().toStdString();
  }

  static bool Closed(QTcpSocket& s, int ms) {
    return RunUntil([&] { return s.state() == QAbstractSocket::UnconnectedState; }, ms);
  }

  std::string home_;
  std::unique_ptr<Host> host_;
  std::string report_;
  std::optional<fs::perms> usersMode_;
  std::vector<std::string> audit_;
};

TEST_F(NutServerHost, OffUnlessItsSectionSwitchesItOn) {
  StartHost("");
  EXPECT_EQ(host_->Nut(), nullptr);
  EXPECT_TRUE(report_.empty());
}

TEST_F(NutServerHost, ServesClientsAndCutsOffTheExtraTheSilentAndTheLongWinded) {
  StartHost("[NutServer]\nEnabled=1\nPort=0\nMaxClients=2\nIdleSeconds=1\n");
  ASSERT_NE(host_->Nut(), nullptr) << report_;
  EXPECT_EQ(report_, "NUT server listening on 127.0.0.1:" + std::to_string(host_->Nut()->Port()));

  auto a = Connect();
  EXPECT_EQ(Ask(*a, "NETVER\r\n"), "1.3\n");
  auto b = Connect();
  auto c = Connect();  // beyond the limit
  EXPECT_TRUE(Closed(*c, 3000));
  EXPECT_EQ(host_->Nut()->ClientCount(), 2);

  // A line that never ends is refused once it passes the bound, and the connection closed.
  const std::string flood(kNutMaxLine + 10, 'A');
  EXPECT_EQ(Ask(*b, flood), "ERR TOO-LONG\n");
  EXPECT_TRUE(Closed(*b, 3000));

  // Silence longer than IdleSeconds ends a connection; talking keeps it.
  auto d = Connect();
  for (int i = 0; i < 3; ++i) {
    RunUntil([] { return false; }, 400);
    EXPECT_EQ(Ask(*d, "NETVER\n"), "1.3\n");
  }
  EXPECT_TRUE(Closed(*a, 3000)) << "a was silent for over a second";
  EXPECT_EQ(d->state(), QAbstractSocket::ConnectedState);
  EXPECT_TRUE(Closed(*d, 3000));
  EXPECT_TRUE(RunUntil([&] { return host_->Nut()->ClientCount() == 0; }, 2000));
}

TEST_F(NutServerHost, LogoutClosesAfterTheReplyAndStopClosesTheServer) {
  StartHost("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(host_->Nut(), nullptr);
  auto a = Connect();
  EXPECT_EQ(Ask(*a, "LOGOUT\n"), "OK Goodbye\n");
  EXPECT_TRUE(Closed(*a, 3000));
  auto b = Connect();
  host_->Stop();
  EXPECT_TRUE(Closed(*b, 3000));
  EXPECT_FALSE(host_->Nut()->Listening());
}

TEST_F(NutServerHost, APortInUseIsReportedAndLeavesTheMonitorRunning) {
  QTcpServer taken;
  ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
  StartHost("[NutServer]\nEnabled=1\nPort=" + std::to_string(taken.serverPort()) + "\n");
  EXPECT_EQ(host_->Nut(), nullptr);
  EXPECT_EQ(report_.rfind("NUT server cannot listen on 127.0.0.1:", 0), 0u) << report_;
  EXPECT_TRUE(host_->Started());
}

TEST_F(NutServerHost, AClientThatStopsSendingGetsEveryReplyBeforeTheClose) {
  StartHost("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(host_->Nut(), nullptr) << report_;
  int answered = 0;
  for (int i = 0; i < 100; ++i) {
    const int fd = RawConnect();
    const std::string ask = "NETVER\nGET VAR ups1 ups.status\nVER";  // the last line unfinished
    ASSERT_EQ(::send(fd, ask.data(), ask.size(), 0), static_cast<ssize_t>(ask.size()));
    ::shutdown(fd, SHUT_WR);
    const std::string got = ReadToEnd(fd, 5000);
    answered += got == "1.3\nERR UNKNOWN-UPS\n";
    EXPECT_EQ(got, "1.3\nERR UNKNOWN-UPS\n") << "try " << i;
    ::close(fd);
    if (HasFailure()) break;
  }
  EXPECT_EQ(answered, 100);
  EXPECT_TRUE(RunUntil([&] { return host_->Nut()->ClientCount() == 0; }, 2000));
}

TEST_F(NutServerHost, ASlotIsFreeAsSoonAsItsClientHasGone) {
  StartHost("[NutServer]\nEnabled=1\nPort=0\nMaxClients=5\n");
  ASSERT_NE(host_->Nut(), nullptr) << report_;
  std::vector<int> fds;
  for (int i = 0; i < 5; ++i) fds.push_back(RawConnect());
  ASSERT_TRUE(RunUntil([&] { return host_->Nut()->ClientCount() == 5; }, 3000));
  int served = 0;
  for (int i = 0; i < 50; ++i) {
    // One leaves and another comes at once, before the server has run.
    ::close(fds[static_cast<size_t>(i % 5)]);
    const int fd = RawConnect();
    fds[static_cast<size_t>(i % 5)] = fd;
    ASSERT_EQ(::send(fd, "NETVER\n", 7, 0), 7);
    std::string got;
    RunUntil(
        [&] {
          char buf[64];
          const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
          if (n > 0) got.append(buf, static_cast<size_t>(n));
          return n == 0 || got == "1.3\n";
        },
        5000);
    served += got == "1.3\n";
    EXPECT_EQ(host_->Nut()->ClientCount(), 5);
  }
  EXPECT_EQ(served, 50);
  for (int fd : fds) ::close(fd);
}

TEST_F(NutServerHost, WrongPasswordsAreAnsweredLaterAndLaterWithoutHoldingUpOthers) {
  StartHost("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(host_->Nut(), nullptr) << report_;
  auto a = Connect();
  auto b = Connect();
  for (const char* l : {"USERNAME op\n", "PASSWORD y\n"}) ASSERT_EQ(Ask(*a, l), "OK\n");
  for (int i = 1; i <= 3; ++i) {
    a->write("INSTCMD ups1 load.off\nNETVER\n");
    // While a's reply waits, b is served, and a's later line waits behind it.
    EXPECT_EQ(Ask(*b, "NETVER\n"), "1.3\n");
    std::string got;
    EXPECT_TRUE(RunUntil(
        [&] {
          got += a->readAll().toStdString();
          return got == "ERR ACCESS-DENIED\n1.3\n";
        },
        10000))
        << got;
  }
  const std::vector<std::string> want = {"0.25 s", "0.50 s", "1.00 s"};
  std::vector<std::string> delays;
  for (const std::string& l : audit_)
    if (l.rfind("NUT: wrong password number ", 0) == 0) delays.push_back(l.substr(l.size() - 6));
  EXPECT_EQ(delays, want);
  EXPECT_EQ(audit_.front(),
            "NUT audit: INSTCMD user=op client=127.0.0.1 ups=ups1 cmd=load.off "
            "result=ACCESS-DENIED (wrong user or password)");
  // The right password is not held back.
  auto c = Connect();
  for (const char* l : {"USERNAME op\n", "PASSWORD x\n"}) ASSERT_EQ(Ask(*c, l), "OK\n");
  EXPECT_EQ(Ask(*c, "INSTCMD ups1 load.off\n"), "ERR UNKNOWN-UPS\n");
}

TEST_F(NutServerHost, AUsersFileOthersMayReadIsReportedWithTheFix) {
  usersMode_ = fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read;
  StartHost("[NutServer]\nEnabled=1\nPort=0\n");
  ASSERT_NE(host_->Nut(), nullptr) << report_;
  EXPECT_NE(report_.find("NUT users file " + home_ + "/upsd.users: other users may read it"),
            std::string::npos)
      << report_;
  EXPECT_NE(report_.find("chmod o-rwx " + home_ + "/upsd.users"), std::string::npos);
}

TEST_F(NutServerHost, ListensOnHostNamesAndSeveralAddresses) {
  StartHost("[NutServer]\nEnabled=1\nPort=0\nListen=localhost\n");
  ASSERT_NE(host_->Nut(), nullptr) << report_;
  EXPECT_NE(host_->Nut()->Where().find("127.0.0.1:"), std::string::npos);
  EXPECT_EQ(Ask(*Connect(), "NETVER\n"), "1.3\n");
  host_.reset();

  // The IPv6 loopback only where the machine has it.
  QTcpServer probe;
  const bool v6 = probe.listen(QHostAddress::LocalHostIPv6, 0);
  probe.close();
  StartHost(std::string("[NutServer]\nEnabled=1\nPort=0\nListen=127.0.0.1") +
            (v6 ? ", ::1\n" : "\n"));
  ASSERT_NE(host_->Nut(), nullptr) << report_;
  const std::string port = std::to_string(host_->Nut()->Port());
  EXPECT_EQ(report_, "NUT server listening on 127.0.0.1:" + port + (v6 ? ", [::1]:" + port : ""));
  if (v6) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHostIPv6, host_->Nut()->Port());
    ASSERT_TRUE(s.waitForConnected(5000));
    EXPECT_EQ(Ask(s, "NETVER\n"), "1.3\n");
  }
  host_.reset();

  StartHost("[NutServer]\nEnabled=1\nPort=0\nListen=127.0.0.1 no-such-host.invalid\n");
  EXPECT_EQ(host_->Nut(), nullptr);
  EXPECT_NE(report_.find("cannot resolve no-such-host.invalid"), std::string::npos) << report_;
}

}  // namespace
}  // namespace tessel
