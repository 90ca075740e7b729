// The windowed program's host runs the network UPS server on Qt's loop: it reports where it
// listens, answers, holds a wrong password's reply on a Qt timer, and closes with the host.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <fstream>
#include <functional>
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

class HostNutTest : public ::testing::Test {
 protected:
  HostNutTest() {
    char tmpl[] = "/tmp/tessel-host-nut-XXXXXX";
    home_ = mkdtemp(tmpl);
  }
  ~HostNutTest() override { fs::remove_all(home_); }

  void Write(const std::string& section) {
    std::ofstream(home_ + "/UserParaIni.ini")
        << "[CommPort]\nComName=" << home_ << "/no-such-port\nProtocol=2\n"
        << section;
    std::ofstream(home_ + "/upsd.users") << "[op]\n password = x\n instcmds = ALL\n";
    fs::permissions(home_ + "/upsd.users", fs::perms::owner_read | fs::perms::owner_write);
  }

  static int Connect(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
  }
  // Sends the line and takes what comes back up to a line end, or until the server closes
  // (then "(closed)" follows).
  static std::string Ask(int fd, const std::string& line) {
    if (!line.empty()) {
      EXPECT_EQ(::send(fd, line.data(), line.size(), MSG_NOSIGNAL),
                static_cast<ssize_t>(line.size()));
    }
    std::string got;
    bool end = false;
    RunUntil(
        [&] {
          char buf[256];
          const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
          if (n > 0) got.append(buf, static_cast<size_t>(n));
          end = n == 0;
          return end || (!got.empty() && got.back() == '\n');
        },
        5000);
    return end ? got + "(closed)" : got;
  }

  std::string home_;
};

TEST_F(HostNutTest, ServesOnQtsLoopWhenSwitchedOnAndClosesWithTheHost) {
  Write("");
  {
    Host off(MakeProgramPaths(home_));
    bool reported = false;
    QObject::connect(&off, &Host::nutServerReported, [&] { reported = true; });
    off.Start();
    EXPECT_EQ(off.Nut(), nullptr);
    EXPECT_FALSE(reported);
  }

  Write("[NutServer]\nEnabled=1\nPort=0\n");
  Host host(MakeProgramPaths(home_));
  std::vector<std::string> reports;
  QObject::connect(&host, &Host::nutServerReported,
                   [&](const QString& m) { reports.push_back(m.toStdString()); });
  host.Start();
  ASSERT_NE(host.Nut(), nullptr);
  EXPECT_EQ(reports, std::vector<std::string>{"NUT server listening on 127.0.0.1:" +
                                              std::to_string(host.Nut()->Port())});
  std::vector<std::string> audit;
  host.Nut()->SetAuditSink([&](const std::string& l) { audit.push_back(l); });

  const int a = Connect(host.Nut()->Port());
  EXPECT_EQ(Ask(a, "NETVER\n"), "1.3\n");
  EXPECT_EQ(Ask(a, "USERNAME op\n"), "OK\n");
  EXPECT_EQ(Ask(a, "PASSWORD y\n"), "OK\n");
  EXPECT_EQ(Ask(a, "INSTCMD ups1 load.off\n"), "ERR ACCESS-DENIED\n");
  ASSERT_FALSE(audit.empty());
  EXPECT_EQ(audit.back(), "NUT: wrong password number 1 from 127.0.0.1; the reply waits 0.25 s");
  EXPECT_EQ(Ask(a, "LOGOUT\n"), "OK Goodbye\n");
  EXPECT_EQ(Ask(a, ""), "(closed)");
  ::close(a);

  const int b = Connect(host.Nut()->Port());
  EXPECT_EQ(Ask(b, "NETVER\n"), "1.3\n");
  host.Stop();
  EXPECT_EQ(Ask(b, ""), "(closed)");
  EXPECT_FALSE(host.Nut()->Listening());
  ::close(b);
}

}  // namespace
}  // namespace tessel
