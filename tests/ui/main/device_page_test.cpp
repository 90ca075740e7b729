// The real-time device page: what each device state shows, the battery pipe's rules, the trend
// charts' clearing, and values from the line that are not numbers.
#include "ui/main/device_page.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <cmath>
#include <limits>
#include <memory>

#include "model/texts.h"
#include "ui/widgets/charge_pipe.h"
#include "ui/widgets/mode_diagram.h"
#include "ui/widgets/value_text.h"

namespace tessel {
namespace {

constexpr uint8_t kEnglish = 0;
constexpr uint8_t kChinese = 1;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TUpsInfo Record(uint8_t comm, int32_t run, uint8_t alarms = 0) {
  TUpsInfo u;
  u.Addr = 5;
  u.CommState = comm;
  u.RunState = run;
  u.AlarmCount = alarms;
  return u;
}

TEST(DeviceLook, NodeFollowsThePortTheLinkAndTheAlarms) {
  struct Case {
    const char* what;
    bool portOpen;
    TUpsInfo u;
    bool changes;
    int image;
    std::string state;
  };
  const std::string online = StateText(kRunOnline, kEnglish);
  const Case cases[] = {
      {"port closed", false, Record(kCommOk, kRunOnline), true, kImageQuiet, "Communication lost"},
      {"normal", true, Record(kCommOk, kRunOnline), true, kImageOk, online},
      {"one alarm", true, Record(kCommOk, kRunOnline, 1), true, kImageTrouble, online},
      {"maintenance bypass", true, Record(kCommOk, kRunMaintBypass), true, kImageTrouble,
       StateText(kRunMaintBypass, kEnglish)},
      {"no state yet", true, Record(kCommOk, kRunUnknown), true, kImageOk, ""},
      {"error", true, Record(kCommError, kRunOnline), true, kImageTrouble, "Communication Error"},
      {"lost", true, Record(kCommLost, kRunOnline), true, kImageQuiet, "Communication lost"},
      {"unknown link state", true, Record(7, kRunOnline), false, kImageQuiet, ""},
  };
  for (const Case& c : cases) {
    const NodeLook look = LookOfNode(c.u, c.portOpen, kEnglish);
    EXPECT_EQ(look.changes, c.changes) << c.what;
    EXPECT_EQ(look.image, c.image) << c.what;
    EXPECT_EQ(look.state, c.state) << c.what;
  }
  EXPECT_EQ(LookOfNode(Record(kCommLost, 0), true, kChinese).state, "通讯中断");
}

TEST(DeviceLook, PictureOfEachState) {
  const std::pair<int32_t, int> cases[] = {
      {kRunBypass, 2}, {kRunOnline, 1}, {kRunBattery, 3},  {kRunSelfTest, 5},
      {kRunEco, 4},    {kRunFault, 6},  {kRunUnknown, -1}, {kRunStandby, 0},
      {kRunEpo, 0},    {0, 0},          {kStateLost, 0},   {-7, 0}};
  for (const auto& [state, picture] : cases) EXPECT_EQ(DiagramOfState(state), picture) << state;
}

TEST(DeviceLook, ChargePipeRules) {
  struct Case {
    const char* what;
    uint8_t protocol;
    uint8_t comm;
    int32_t run;
    uint16_t cmmState1, cmmAlarm2;
    double curr1, curr2;
    ChargeFlow flow;
  };
  const Case cases[] = {
      {"charging fast", 0, kCommOk, kRunOnline, 0x0100, 0, 0, 25, {true, true, true, 60}},
      {"charging 3 A", 2, kCommOk, kRunOnline, 0x0100, 0, 0, 3.7, {true, true, true, 434}},
      {"charge bit, no current", 3, kCommOk, kRunOnline, 0x0100, 0, 5, 0, {true, false, true, 500}},
      {"discharging below 1 A", 0, kCommOk, kRunBattery, 0, 0, 0.9, 0, {true, true, false, 500}},
      {"discharging 200 A", 0, kCommOk, kRunBattery, 0, 0, 200, 0, {true, true, false, 20}},
      {"still", 0, kCommOk, kRunOnline, 0, 0, 0, 0, {true, false, false, 500}},
      {"three-phase protocol", 1, kCommOk, kRunBattery, 0, 0, 50, 0, {}},
      {"not communicating", 0, kCommError, kRunBattery, 0, 0, 50, 0, {}},
      {"battery cut off", 0, kCommOk, kRunBattery, 0, 0x2000, 50, 0, {true, false, false, 500}},
      {"fault", 2, kCommOk, kRunFault, 0x0100, 0, 0, 9, {true, false, false, 500}},
      {"EPO", 2, kCommOk, kRunEpo, 0, 0, 9, 0, {true, false, false, 500}},
      {"NaN current", 0, kCommOk, kRunBattery, 0, 0, kNaN, 0, {true, false, false, 500}},
      {"huge current", 0, kCommOk, kRunOnline, 0x0100, 0, 0, 1e300, {true, true, true, 60}},
      {"infinite current", 0, kCommOk, kRunBattery, 0, 0, kInf, 0, {true, true, false, 20}},
  };
  for (const Case& c : cases) {
    TUpsInfo u = Record(c.comm, c.run);
    u.CmmState1 = c.cmmState1;
    u.CmmAlarm2 = c.cmmAlarm2;
    u.BattCurr1 = c.curr1;
    u.BattCurr2 = c.curr2;
    const ChargeFlow f = ChargeFlowOf(u, c.protocol, false);
    EXPECT_EQ(f.visible, c.flow.visible) << c.what;
    EXPECT_EQ(f.running, c.flow.running) << c.what;
    EXPECT_EQ(f.reverse, c.flow.reverse) << c.what;
    if (f.running) {
      EXPECT_EQ(f.intervalMs, c.flow.intervalMs) << c.what;
    }
  }
  // A stopped pipe keeps the way it ran.
  TUpsInfo u = Record(kCommOk, kRunFault);
  EXPECT_TRUE(ChargeFlowOf(u, 0, true).reverse);
}

TEST(DeviceLook, TextsOfValuesCodesAndSupplies) {
  EXPECT_EQ(FixedText(229.96, 1), "230.0");
  EXPECT_EQ(FixedText(-0.04, 1), "0.0");
  EXPECT_EQ(FixedText(kNaN, 1), "--");
  EXPECT_EQ(FixedText(-kInf, 0), "--");
  EXPECT_EQ(WordPair(0x00ab, 0xF001), "00AB-F001");
  EXPECT_EQ(InputSupplyText(2, kEnglish), "Battery Supply");
  EXPECT_EQ(InputSupplyText(3, kEnglish), "");
  EXPECT_EQ(UpsSupplyText(2, false, kChinese), "旁路供电");
  EXPECT_EQ(UpsSupplyText(2, true, kEnglish), "ECO");
  EXPECT_EQ(UpsSupplyText(1, true, kEnglish), "Inverter Supply");
}

class DevicePageTest : public ::testing::Test {
 protected:
  template <class T>
  T* Find(const char* name) const {
    QWidget* root = page.RealTimePage();
    T* found = root->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QString Text(const char* name) const {
    QWidget* w = Find<QWidget>(name);
    if (auto* value = qobject_cast<ValueText*>(w)) return value->text();
    return qobject_cast<QLabel*>(w)->text();
  }

  DevicePage page;
};

TEST_F(DevicePageTest, StatesSwitchThePictureAndTheTexts) {
  TUpsInfo u = Record(kCommOk, kRunOnline);
  u.InputSupply = 1;
  u.UpsSupply = 1;
  u.CmmState1 = 0x1234;
  u.CmmState2 = 0xabcd;
  u.SysState = 0x0F;
  page.Show(u, 2, kEnglish);
  EXPECT_EQ(page.ShownDiagram(), 1);
  EXPECT_EQ(Text("stComStatus"), QString::fromStdString(StateText(kRunOnline, kEnglish)));
  EXPECT_EQ(Text("stInputPowerSupply"), "Mains Supply");
  EXPECT_EQ(Text("stUpsPowerSupply"), "Inverter Supply");
  EXPECT_EQ(Text("lblCMMState"), "1234-ABCD");
  EXPECT_EQ(Text("lbSysState"), "000F");
  EXPECT_EQ(Find<QGroupBox>("grpCode")->width(), 222);

  // Online to bypass switches the picture; supply codes out of range keep the old texts.
  u.RunState = kRunBypass;
  u.InputSupply = 9;
  u.UpsSupply = 2;
  page.Show(u, 3, kChinese);
  EXPECT_EQ(page.ShownDiagram(), 2);
  EXPECT_EQ(Text("stInputPowerSupply"), "Mains Supply");
  EXPECT_EQ(Text("stUpsPowerSupply"), "旁路供电");
  EXPECT_EQ(Find<QGroupBox>("grpCode")->width(), 170);
  EXPECT_EQ(Text("lbSysState"), "");

  // No data: no picture, the lost text.
  u.RunState = kRunUnknown;
  page.Show(u, 3, kEnglish);
  EXPECT_EQ(page.ShownDiagram(), -1);
  EXPECT_EQ(Text("stComStatus"), "Communication lost");
}

TEST_F(DevicePageTest, SameStateKeepsThePictureRunning) {
  TUpsInfo u = Record(kCommOk, kRunBattery);
  page.Show(u, 0, kEnglish);
  auto* battery = Find<ModeDiagram>("GIFBattMode");
  battery->Advance();
  battery->Advance();
  const int frame = battery->Frame();
  ASSERT_NE(frame, 0);
  page.Show(u, 0, kEnglish);
  EXPECT_EQ(battery->Frame(), frame);

  u.BattCurr1 = 30;
  page.Show(u, 0, kEnglish);
  const int phase = page.Pipe().Phase();
  const_cast<ChargePipe&>(page.Pipe()).Step();
  page.Show(u, 0, kEnglish);  // the same flow again does not restart it
  EXPECT_NE(page.Pipe().Phase(), phase);
  EXPECT_TRUE(page.Pipe().IsRunning());
  EXPECT_FALSE(page.Pipe().isHidden());
  page.Show(u, 1, kEnglish);
  EXPECT_TRUE(page.Pipe().isHidden());
}

TEST_F(DevicePageTest, ChartsStartAfreshAt120PointsAndForAnotherDevice) {
  TUpsInfo u = Record(kCommOk, kRunOnline);
  u.InputV_A = 230;
  for (int i = 0; i < 119; ++i) page.Show(u, 2, kEnglish);
  EXPECT_EQ(page.ChartPointCount(1), 119);
  EXPECT_EQ(page.ChartPointCount(2), 119);
  page.Show(u, 2, kEnglish);
  EXPECT_EQ(page.ChartPointCount(1), 0);
  EXPECT_EQ(page.ChartPointCount(2), 0);

  for (int i = 0; i < 10; ++i) page.Show(u, 2, kEnglish);
  u.Addr = 6;
  page.Show(u, 2, kEnglish);
  EXPECT_EQ(page.ChartPointCount(1), 1);
}

TEST_F(DevicePageTest, ValuesThatAreNotNumbersDoNotStopTheRefresh) {
  TUpsInfo u = Record(kCommOk, kRunOnline);
  u.InputV_A = kNaN;
  u.InputV_B = kInf;
  u.OutputV_A = -kInf;
  u.LoadPer_A = kNaN;
  u.LoadPer_B = 1e300;
  u.OutputFreq = kNaN;
  u.BattCurr1 = kNaN;
  u.AlarmCount = 255;  // more than a record holds
  u.AlarmCodes.fill(1);
  page.Show(u, 2, kEnglish);
  EXPECT_EQ(Text("stInputV_A"), "-- V");
  EXPECT_EQ(Text("stInputV_B"), "-- V");
  EXPECT_EQ(Text("stOutputV_A"), "-- V");
  EXPECT_EQ(Text("stLoadPer_A"), "-- %");
  EXPECT_EQ(Text("stOutputFreq"), "--");
  EXPECT_EQ(page.ShownDiagram(), 1);  // the steps after the values still ran
  const QString alarms = Find<QPlainTextEdit>("MemoAlarm")->toPlainText();
  EXPECT_EQ(alarms.split('\n').size(), kMaxAlarms);
  EXPECT_EQ(page.ChartPointCount(1), 1);
}

}  // namespace
}  // namespace tessel
