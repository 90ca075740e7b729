// The settings and control windows over a real host on a pseudo-terminal: what each shows, and the
// exact request each queues, or the message and nothing queued.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/device_list_file.h"
#include "host/host.h"
#include "log/temp_folder.h"
#include "ui/control/data_set_dialog.h"
#include "ui/control/password_dialog.h"
#include "ui/control/self_test_dialog.h"
#include "ui/control/turn_on_dialog.h"
#include "ui/control/user_set_window.h"
#include "ui/fake_prompter.h"

namespace tessel {
namespace {

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    std::ofstream(home_ / "UserParaIni.ini")
        << "[CommPort]\nComName=" << name << "\nProtocol=2\n[Language]\nLanguage=0\n";
    std::filesystem::create_directories(home_ / "Record");
    host_ = std::make_unique<Host>(MakeProgramPaths(home_.Path().string()));
    host_->Start();
    ASSERT_TRUE(host_->PortIsOpen());
    // Polling would take the slots as soon as they are filled: the tests read them first.
    host_->Core().Master().SetManualMode(true);
    TUpsInfo& u = Unit();
    u.CommState = kCommOk;
    u.Params.VoltLevel = 230;
    u.Params.BattCap = 100;
    u.Params.ParaNum = 3;
    u.Params.EodV = 175;
  }
  void TearDown() override {
    if (host_) host_->Stop();
    host_.reset();
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  Context& Ctx() { return host_->Ctx(); }
  TUpsInfo& Unit() { return Ctx().model.UpsTable[5]; }
  const TCmdRequest& Slot(int i) { return Ctx().cmd.CmdSlots[i]; }
  std::function<uint8_t()> Selected() {
    return [this] { return sel_; };
  }
  QStringList Told() {
    QStringList out;
    for (const auto& m : prompter_.Told) out << m.Text;
    prompter_.Told.clear();
    return out;
  }
  bool NothingQueued() {
    for (const TCmdRequest& s : Ctx().cmd.CmdSlots)
      if (s.Pending != 0) return false;
    return true;
  }

  testing::TempFolder home_;
  int master_ = -1, slave_ = -1;
  std::unique_ptr<Host> host_;
  FakePrompter prompter_;
  uint8_t sel_ = 5;
};

void ExpectWrite(const TCmdRequest& s, uint8_t addr, int reg, uint16_t value) {
  EXPECT_EQ(s.Pending, 255) << reg;
  EXPECT_EQ(s.Addr, addr) << reg;
  EXPECT_EQ(s.Func, 6) << reg;
  EXPECT_EQ(s.Reg, reg);
  EXPECT_EQ(s.Value, value) << reg;
}

// ---- settings password ---------------------------------------------------------------------

TEST_F(ControlTest, PasswordAcceptsTheCodesAndKeepsTheModelOnRefusal) {
  const struct {
    std::vector<const char*> typed;
    int result;  // QDialog::Accepted, Rejected, or -1 still open
    int messages;
    const char* model;
  } cases[] = {
      {{" ZEV305LB "}, QDialog::Accepted, 0, "ZEV305LB"},
      {{"zev305"}, -1, 1, "RTK8150"},
      {{"a", "b", "c"}, QDialog::Rejected, 3, "RTK8150"},
      {{"a", "b", "ZEV702"}, QDialog::Accepted, 2, "ZEV702"},
  };
  for (const auto& k : cases) {
    std::string model = "RTK8150";
    TfrmPSW psw(model, 0, prompter_);
    psw.show();
    auto* edit = psw.findChild<QLineEdit*>("edtPSW");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->maxLength(), 10);
    for (const char* t : k.typed) {
      edit->setText(t);
      QTest::keyClick(edit, Qt::Key_Return);  // Enter only moves to OK
      EXPECT_TRUE(psw.isVisible());
      psw.findChild<QPushButton*>("btnOK")->click();
    }
    EXPECT_EQ(psw.isVisible() ? -1 : psw.result(), k.result) << k.typed.back();
    const QStringList told = Told();
    EXPECT_EQ(told.size(), k.messages) << k.typed.back();
    if (!told.isEmpty()) {
      EXPECT_EQ(told[0], "Password is invalid.");
    }
    EXPECT_EQ(model, k.model);
  }
}

// ---- parameter setting ---------------------------------------------------------------------

class DataSetTest : public ControlTest {
 public:
  template <class T>
  T* Find(const char* name) {
    return dialog_->findChild<T*>(name);
  }

 protected:
  void Open() {
    dialog_ = std::make_unique<TFrmDataSet>(*host_, prompter_, Selected());
    dialog_->show();
  }
  void ShowItem(int row) {
    auto* list = dialog_->findChild<QListWidget*>("ListBox1");
    list->setCurrentRow(-1);
    list->setCurrentRow(row);
  }
  void Set() { Find<QPushButton>("btnSetTo")->click(); }
  std::unique_ptr<TFrmDataSet> dialog_;
};

TEST_F(DataSetTest, ListAndValueAreaFollowTheModelAndTheItem) {
  Open();
  EXPECT_EQ(Find<QListWidget>("ListBox1")->count(), 19);
  EXPECT_EQ(Find<QListWidget>("ListBox1")->item(15)->text(), "Staus Control");
  auto* area = Find<QGroupBox>("grpSetting");
  EXPECT_FALSE(area->isVisible());

  ShowItem(1);
  EXPECT_TRUE(area->isVisible());
  EXPECT_EQ(area->height(), TFrmDataSet::kListAreaHeight);
  EXPECT_TRUE(Find<QComboBox>("ComboBox1")->isVisible());
  EXPECT_FALSE(Find<QLineEdit>("Edit1")->isVisible());
  EXPECT_EQ(Find<QComboBox>("ComboBox1")->currentText(), "400V");

  ShowItem(11);
  EXPECT_TRUE(Find<QLineEdit>("Edit1")->isVisible());
  EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), "1.75");

  Unit().Params.StatusCtrl = 0x2000;
  ShowItem(15);
  EXPECT_EQ(area->height(), TFrmDataSet::kSwitchAreaHeight);
  EXPECT_FALSE(Find<QLabel>("lb_Value")->isVisible());
  const auto radios = Find<QGroupBox>("RadioGroup5")->findChildren<QRadioButton*>();
  ASSERT_EQ(radios.size(), 2);
  EXPECT_TRUE(radios[1]->isChecked());  // boost charge disabled

  // A unit that does not answer shows nothing that could be set.
  Unit().CommState = kCommLost;
  ShowItem(1);
  EXPECT_FALSE(area->isVisible());

  Ctx().model.ModelCode = "ZEV305LB";
  Ctx().settings.Language = 1;
  Open();
  EXPECT_EQ(Find<QListWidget>("ListBox1")->count(), 20);
  EXPECT_EQ(Find<QListWidget>("ListBox1")->item(19)->text(), QString::fromUtf8("操作模式"));
  EXPECT_EQ(dialog_->windowTitle(), QString::fromUtf8("数据设置"));
}

// Each row: what the operator does, and the one request queued or the message with nothing
// queued. Writes under protocol 2 go after the unlock write.
TEST_F(DataSetTest, SetQueuesExactlyTheValueOrSaysWhyNot) {
  struct Case {
    const char* what;
    uint8_t protocol;
    int item;
    std::function<void(DataSetTest&)> input;
    int reg;  // 0: nothing queued
    uint16_t value;
    const char* message;
    const char* box;  // Edit1 afterwards, or nullptr
  };
  auto choose = [](int i) {
    return [i](DataSetTest& t) { t.Find<QComboBox>("ComboBox1")->setCurrentIndex(i); };
  };
  auto type = [](const char* s) {
    return [s](DataSetTest& t) { t.Find<QLineEdit>("Edit1")->setText(s); };
  };
  const Case cases[] = {
      {"400V", 2, 1, choose(1), 40005, 230, "", nullptr},
      {"400V, protocol 3", 3, 1, choose(1), 40005, 230, "", nullptr},
      {"lower limit -45%", 3, 5, choose(0), 40013, 0xFFD3, "", nullptr},
      {"no choice", 2, 4, choose(-1), 0, 0, "[Bypass Volt Upper Limit] value is invalid", nullptr},
      {"parallel 300", 2, 16, type("300"), 0, 0, "[Parallel Amount] value is invalid", nullptr},
      {"capacity 65537", 2, 12, type("65537"), 0, 0, "[Single Battery Capability] value is invalid",
       nullptr},
      {"groups 2.5", 2, 8, type("2.5"), 0, 0, "[Battery Group] value is invalid", nullptr},
      {"EOD 1.234", 2, 11, type("1.234"), 40020, 123, "", "1.23"},
      {"EOD 1.95", 2, 11, type("1.95"), 0, 0, "[EOD Volt] value is invalid", "1.80"},
      {"charge 26 of 100 Ah", 2, 13, type("26"), 0, 0, "[Max Charge current] value is invalid",
       "25"},
      {"redundancy 2 of 3", 3, 17, type("2"), 40008, 2, "", nullptr},
      {"buzzer off", 2, 15,
       [](DataSetTest& t) {
         t.Find<QGroupBox>("RadioGroup4")->findChildren<QRadioButton*>()[1]->setChecked(true);
       },
       40027, 0x1000, "", nullptr},
      {"ASCII protocol", 0, 1, choose(1), 0, 0, "This command needs the Modbus or ZEV protocol.",
       nullptr},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Ctx().cmd = CmdRequests{};
    Ctx().settings.PortInfo.Protocol = k.protocol;
    Open();
    ShowItem(k.item);
    k.input(*this);
    Set();
    const QStringList told = Told();
    if (k.reg == 0) {
      EXPECT_TRUE(NothingQueued());
      EXPECT_EQ(told, QStringList{k.message});
    } else {
      EXPECT_TRUE(told.isEmpty()) << told.join("|").toStdString();
      const bool unlock = k.protocol == 2;
      if (unlock) ExpectWrite(Slot(0), 5, kRegUnlock, kUnlockValue);
      ExpectWrite(Slot(unlock ? 1 : 0), 5, k.reg, k.value);
      if (!unlock) {
        EXPECT_EQ(Slot(1).Pending, 0);
      }
    }
    if (k.box) {
      EXPECT_EQ(Find<QLineEdit>("Edit1")->text(), k.box);
    }
  }
}

TEST_F(DataSetTest, AWaitingWriteIsNeitherReplacedNorChanged) {
  Open();
  ShowItem(1);
  Find<QComboBox>("ComboBox1")->setCurrentIndex(2);
  Set();
  ExpectWrite(Slot(1), 5, 40005, 240);
  // Showing another item reads the unit again; the queued value stays what was set.
  ShowItem(12);
  Find<QLineEdit>("Edit1")->setText("200");
  Set();
  EXPECT_EQ(
      Told(),
      QStringList{"The previous command has not been sent yet. Please try again in a moment."});
  ExpectWrite(Slot(1), 5, 40005, 240);

  host_->ClosePort();
  Set();
  EXPECT_EQ(Told(), QStringList{"Serial Port Off"});
}

// ---- user data ------------------------------------------------------------------------------

TEST_F(ControlTest, UserSetShowsTheSelectedUnitsSettings) {
  TUpsParams& p = Unit().Params;
  p.SetMode = 1;
  p.BpsVMin = -30;
  p.OutputVFine = -15;
  p.StatusCtrl = 0x3000;
  p.BattBoostV = 235;
  p.OptMode = 2;
  TFrmUserSet w(*host_, prompter_, Selected());
  w.show();
  EXPECT_TRUE(w.TimerRunning());
  const std::pair<UserSetBox, const char*> expected[] = {
      {kSetMode, "ECO"},     {kVoltLevel, "400"},
      {kBpsVMin, "-30%"},    {kOutputVFine, "-1.5%"},
      {kBuzzer, "disable"},  {kBoostChg, "disable"},
      {kBattBoostV, "2.35"}, {kEodV, "1.75"},
      {kBattCap, "100"},     {kOptVolt, "Frequency variable"}};
  for (const auto& [box, text] : expected) EXPECT_EQ(w.BoxText(box), text) << box;
  auto* output = w.findChild<QGroupBox*>("grpOutput");
  EXPECT_TRUE(output->isHidden());
  EXPECT_TRUE(w.findChild<QLineEdit*>("edtPreAlarm")->isHidden());
  Ctx().model.ModelCode = "ZEV305LB";
  w.Tick();
  EXPECT_FALSE(output->isHidden());

  // Another unit selected: the window follows it at the next tick.
  sel_ = 6;
  w.Tick();
  EXPECT_EQ(w.DevAddr, 6);
  EXPECT_EQ(w.BoxText(kVoltLevel), "");
  EXPECT_FALSE(w.findChild<QPushButton*>("btnSet")->isEnabled());

  sel_ = 5;
  w.Tick();
  EXPECT_EQ(w.BoxText(kVoltLevel), "400");
  host_->ClosePort();
  w.Tick();
  EXPECT_EQ(w.BoxText(kVoltLevel), "");
  EXPECT_FALSE(w.findChild<QPushButton*>("btnSet")->isEnabled());
  EXPECT_EQ(UserSetTexts(p, 1)[kOptVolt], QString::fromUtf8("变频模式"));

  // Escape hides it like Close: the readout stops until it is shown again.
  QTest::keyClick(&w, Qt::Key_Escape);
  EXPECT_FALSE(w.isVisible());
  EXPECT_FALSE(w.TimerRunning());
  w.show();
  EXPECT_TRUE(w.TimerRunning());
}

TEST_F(ControlTest, UserSetOpensTheParameterSettingOnlyAfterThePassword) {
  TFrmUserSet w(*host_, prompter_, Selected());
  bool password = false;
  int opened = 0;
  w.AskPassword = [&] { return password; };
  w.OpenDataSet = [&] { ++opened; };
  auto* set = w.findChild<QPushButton*>("btnSet");
  set->setEnabled(true);
  set->click();
  EXPECT_EQ(opened, 0);
  password = true;
  set->click();
  EXPECT_EQ(opened, 1);
}

// ---- battery self-test and remote on/off ------------------------------------------------------

TEST_F(ControlTest, SelfTestQueuesTheTimeOrSaysWhyNot) {
  const struct {
    const char* text;
    uint8_t protocol;
    uint8_t addr;
    bool queued;
    const char* message;
  } cases[] = {
      {"60", 2, 5, true, ""},
      {"65535", 3, 5, true, ""},
      {"", 2, 5, false, "[Battery Test Time] value is invalid"},
      {"0", 2, 5, false, "[Battery Test Time] value is invalid"},
      {"70000", 2, 5, false, "[Battery Test Time] value is invalid"},
      {"60", 1, 5, false, "This command needs the Modbus or ZEV protocol."},
      {"60", 2, 0, false, "Select a device in the device tree first!"},
  };
  for (const auto& k : cases) {
    Ctx().cmd = CmdRequests{};
    Ctx().settings.PortInfo.Protocol = k.protocol;
    sel_ = k.addr;
    TFrmTest t(*host_, prompter_, Selected());
    t.show();
    EXPECT_EQ(t.findChild<QLineEdit*>("Edit1")->text(), "60");
    t.findChild<QLineEdit*>("Edit1")->setText(k.text);
    t.findChild<QPushButton*>("Button1")->click();
    if (k.queued) {
      ExpectWrite(Slot(1), 5, kRegSelfTest, static_cast<uint16_t>(std::stoi(k.text)));
      EXPECT_TRUE(Told().isEmpty());
      // Cancelling waits for the start to go out first.
      t.findChild<QPushButton*>("Button2")->click();
      EXPECT_EQ(Told().size(), 1);
      Ctx().cmd.CmdSlots[1].Pending = 0;
      t.findChild<QPushButton*>("Button2")->click();
      ExpectWrite(Slot(1), 5, kRegSelfTest, 0);
    } else {
      EXPECT_TRUE(NothingQueued()) << k.text;
      EXPECT_EQ(Told(), QStringList{k.message}) << k.text;
    }
  }
}

TEST_F(ControlTest, TurnOnOffQueuesTheChoiceOrSaysWhyNot) {
  TfrmTrunOn d(*host_, prompter_, Selected());
  d.show();
  auto* sure = d.findChild<QPushButton*>("btnSure");
  const auto choices = d.findChild<QGroupBox*>("rg1")->findChildren<QRadioButton*>();
  ASSERT_EQ(choices.size(), 2);
  EXPECT_FALSE(choices[0]->isChecked() || choices[1]->isChecked());
  sure->click();  // nothing chosen: nothing at all
  EXPECT_TRUE(NothingQueued());
  EXPECT_TRUE(Told().isEmpty());

  choices[1]->setChecked(true);
  sure->click();
  ExpectWrite(Slot(1), 5, kRegSwitchOff, 1);
  choices[0]->setChecked(true);
  sure->click();  // off still waits
  EXPECT_EQ(Told().size(), 1);
  ExpectWrite(Slot(1), 5, kRegSwitchOff, 1);

  Ctx().cmd = CmdRequests{};
  sel_ = 0;
  sure->click();
  EXPECT_EQ(Told(), QStringList{"Select a device in the device tree first!"});
  sel_ = 5;
  Ctx().settings.PortInfo.Protocol = 1;
  sure->click();
  EXPECT_EQ(Told(), QStringList{"This command needs the Modbus or ZEV protocol."});
  EXPECT_TRUE(NothingQueued());
  EXPECT_EQ(d.windowTitle(), "Remote Control");
  EXPECT_EQ(d.findChild<QLabel*>("pnl1")->text(), "Turn  On/Off  UPS");

  // Clicking elsewhere closes it.
  QEvent deactivate(QEvent::WindowDeactivate);
  QApplication::sendEvent(&d, &deactivate);
  EXPECT_FALSE(d.isVisible());
}

}  // namespace
}  // namespace tessel
