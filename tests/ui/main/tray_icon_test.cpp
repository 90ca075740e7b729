// The tray icon over a real host: units whose state changes make one notification each, the tile
// shows the worst of them, and a closed port shows nothing known.
#include "ui/main/tray_icon.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/device_list_file.h"
#include "host/host.h"
#include "log/temp_folder.h"
#include "ui/common/app_icon.h"
#include "ui/run_until.h"

namespace tessel {
namespace {

TEST(TrayAlerts, UnitStateToAlert) {
  const struct {
    uint8_t comm;
    int32_t run;
    UnitAlert expected;
  } cases[] = {
      {kCommOk, kRunOnline, UnitAlert::Normal},  {kCommOk, kRunSelfTest, UnitAlert::Normal},
      {kCommOk, kRunUnknown, UnitAlert::Normal}, {kCommOk, kRunBattery, UnitAlert::Battery},
      {kCommOk, kRunFault, UnitAlert::Fault},    {kCommOk, kRunEpo, UnitAlert::Fault},
      {kCommLost, kRunBattery, UnitAlert::Lost}, {kCommError, kRunBattery, UnitAlert::Battery}};
  for (const auto& k : cases) {
    TUpsInfo u;
    u.CommState = k.comm;
    u.RunState = k.run;
    EXPECT_EQ(AlertOf(u), k.expected) << int(k.comm) << "/" << k.run;
  }
}

TEST(TrayAlerts, TrackerReportsChangesAndTheWorst) {
  using A = UnitAlert;
  AlertTracker t;
  // At start: silent units, then their first answers, are no news; the tile still shows them.
  EXPECT_TRUE(t.Update({{1, A::Lost}, {2, A::Lost}}).empty());
  EXPECT_EQ(t.Worst(), A::Lost);
  EXPECT_TRUE(t.Update({{1, A::Normal}, {2, A::Normal}}).empty());
  EXPECT_EQ(t.Worst(), A::Normal);
  auto c = t.Update({{1, A::Battery}, {2, A::Normal}});
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].addr, 1);
  EXPECT_EQ(c[0].now, A::Battery);
  EXPECT_EQ(t.Worst(), A::Battery);
  EXPECT_TRUE(t.Update({{1, A::Battery}, {2, A::Normal}}).empty());  // no change, no news
  c = t.Update({{1, A::Normal}, {2, A::Fault}});
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].before, A::Battery);
  EXPECT_EQ(c[0].now, A::Normal);
  EXPECT_EQ(c[1].now, A::Fault);
  EXPECT_EQ(t.Worst(), A::Fault);
  c = t.Update({{1, A::Lost}, {2, A::Fault}});  // silent after it had answered: news
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].now, A::Lost);
  t.Update({{1, A::Normal}});  // unit 2 left the tree: forgotten
  EXPECT_EQ(t.Worst(), A::Normal);
  AlertTracker fresh;
  EXPECT_EQ(fresh.Update({{3, A::Battery}}).size(), 1u);  // on battery from the first look
}

class TrayIconTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    std::ofstream(home_ / "UserParaIni.ini")
        << "[CommPort]\nComName=" << name << "\nProtocol=2\n[Language]\nLanguage=0\n";
    std::filesystem::create_directories(home_ / "Record");
    TEquipList list;
    for (int a : {1, 2}) {
      TEquipRec rec;
      rec.Addr = static_cast<uint8_t>(a);
      rec.Name = MakeNameField("UPS-" + std::to_string(a));
      AppendDevice(list, rec);
    }
    ASSERT_TRUE(SaveDeviceList((home_ / "Record" / "TreeNode.dat").string(), list));
    host_ = std::make_unique<Host>(MakeProgramPaths(home_.Path().string()));
    tray_ = std::make_unique<TrayIcon>(
        *host_, [this] { ++shown_; }, [] {});
    tray_->Notify = [this](const QString&, const QString& text) { notices_ << text; };
    host_->Start();
  }
  void TearDown() override {
    tray_.reset();
    if (host_) host_->Stop();
    host_.reset();
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  // The host signals a change of the unit, as the scheduler does after an answer.
  void Change(uint8_t addr, uint8_t comm, int32_t run) {
    TUpsInfo& u = host_->Ctx().model.UpsTable[addr];
    u.CommState = comm;
    u.RunState = run;
    emit host_->deviceUpdated(addr);
    QApplication::processEvents();
  }

  testing::TempFolder home_;
  int master_ = -1, slave_ = -1;
  std::unique_ptr<Host> host_;
  std::unique_ptr<TrayIcon> tray_;
  QStringList notices_;
  int shown_ = 0;
};

TEST_F(TrayIconTest, NotifiesEachChangeOnceAndShowsTheWorst) {
  Change(1, kCommOk, kRunOnline);
  Change(2, kCommOk, kRunOnline);
  EXPECT_TRUE(notices_.isEmpty());
  EXPECT_EQ(tray_->Shown(), UnitAlert::Normal);

  Change(1, kCommOk, kRunBattery);
  Change(1, kCommOk, kRunBattery);
  Change(2, kCommLost, kRunOnline);
  EXPECT_EQ(notices_, QStringList({"UPS-1 is on battery", "UPS-2 is not answering"}));
  EXPECT_EQ(tray_->Shown(), UnitAlert::Lost);

  Change(2, kCommOk, kRunFault);
  EXPECT_EQ(tray_->Shown(), UnitAlert::Fault);
  Change(1, kCommOk, kRunOnline);
  Change(2, kCommOk, kRunOnline);
  EXPECT_EQ(notices_.mid(2), QStringList({"UPS-2 has a fault", "UPS-1 is back to normal",
                                          "UPS-2 is back to normal"}));
  EXPECT_EQ(tray_->Shown(), UnitAlert::Normal);

  host_->Ctx().settings.Language = 1;
  Change(1, kCommOk, kRunBattery);
  EXPECT_EQ(notices_.back(), QString::fromUtf8("UPS-1 电池供电"));
}

TEST_F(TrayIconTest, ClosedPortShowsNothingKnownAndTellsNothing) {
  Change(1, kCommOk, kRunOnline);
  host_->ClosePort();
  QApplication::processEvents();
  Change(1, kCommOk, kRunBattery);
  EXPECT_TRUE(notices_.isEmpty());
  EXPECT_EQ(tray_->Shown(), UnitAlert::Lost);
}

TEST(AppIcon, PaintedAndScalableAgree) {
  const QImage img = DrawAppIcon(64);
  EXPECT_EQ(img.pixelColor(6, 32), kIconNormal);         // the tile
  EXPECT_EQ(img.pixelColor(32, 1).alpha(), 0);           // the transparent ground
  EXPECT_EQ(img.pixelColor(12, 32), QColor(Qt::white));  // the battery's outline
  EXPECT_EQ(DrawAppIcon(64, Qt::red).pixelColor(6, 32), QColor(Qt::red));
  const QString svg = AppIconSvg();
  EXPECT_TRUE(svg.contains(R"(viewBox="0 0 64 64")"));
  EXPECT_TRUE(svg.contains(kIconNormal.name()));
  EXPECT_TRUE(svg.contains(R"(<rect x="12" y="20" width="36" height="24" rx="3")"));
}

}  // namespace
}  // namespace tessel
