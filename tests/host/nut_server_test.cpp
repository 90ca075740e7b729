// The network UPS server's sockets inside the host: switched off unless its section says so, and
// connections beyond the limit, silent ones and over-long lines are cut off.
#include "host/nut_server.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

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
    host_ = std::make_unique<Host>(MakeProgramPaths(home_));
    QObject::connect(host_.get(), &Host::nutServerReported,
                     [this](const QString& m) { report_ = m.toStdString(); });
    host_->Start();
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

}  // namespace
}  // namespace tessel
