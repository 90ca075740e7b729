// The main window over a real host: start-up with the settings and device list of a temporary
// program folder, the display timer stepped by hand, controls found by their names.
#include "ui/main/main_window.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/device_list_file.h"
#include "app/settings_file.h"
#include "host/host.h"
#include "host/qt_loop.h"
#include "log/event_log.h"
#include "log/temp_folder.h"
#include "model/texts.h"
#include "service/instance_guard.h"
#include "ui/common/window_texts.h"
#include "ui/fake_prompter.h"
#include "ui/main/device_tree.h"
#include "ui/run_until.h"
#include "ui/widgets/round_lamp.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

using testing::ReadBytes;
using testing::ReadRecordFile;
using testing::TempFolder;

bool HasCjk(const QString& s) {
  for (QChar c : s)
    if (c.unicode() >= 0x3000) return true;
  return false;
}

// A pseudo-terminal whose far end stays open: a port that opens.
class Line {
 public:
  Line() {
    char name[256];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) name_ = name;
  }
  ~Line() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  const std::string& Name() const { return name_; }

 private:
  int master_ = -1, slave_ = -1;
  std::string name_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void WriteSettings(const std::string& comName, int language, int protocol = 2) {
    std::ofstream(home_ / "UserParaIni.ini")
        << "[CommPort]\nComName=" << comName << "\nProtocol=" << protocol
        << "\n[Language]\nLanguage=" << language << "\n";
  }
  void WriteDevices(int count) {
    fs::create_directories(home_ / "Record");
    TEquipList list;
    for (int a = 1; a <= count; ++a) {
      TEquipRec rec;
      rec.Addr = static_cast<uint8_t>(a);
      rec.Name = MakeNameField("UPS-" + std::to_string(a));
      AppendDevice(list, rec);
    }
    ASSERT_TRUE(SaveDeviceList(TreeFile(), list));
  }
  std::string TreeFile() const { return (home_ / "Record" / "TreeNode.dat").string(); }
  void Start() {
    host_ = std::make_unique<Host>(MakeProgramPaths(home_.Path().string()));
    window_ = std::make_unique<TFrmMain>(*host_, prompter_);
    WindowSeams seams;
    seams.SoftwareParameters = [this] { ++softwareParameterOpenings_; };
    seams.UserSet = [this] { ++userSetOpenings_; };
    window_->SetSeams(seams);
    host_->Start();
    window_->show();
  }
  void FastStep() { window_->AdvanceTicks(TFrmMain::kTicksPerStep); }
  std::vector<TEventRec> Events() const {
    return ReadRecordFile(home_ / "Record" / "EventLog.dat", kEventRecSize, &DecodeEventRec);
  }
  template <class T>
  T* Find(const char* name) const {
    T* found = window_->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  // The whole text of a status panel (a long one is shown elided, whole in its hint).
  QString Status(int panel) const {
    auto* label = Find<QLabel>(("StatusPanel" + std::to_string(panel)).c_str());
    return panel == 1 ? label->toolTip() : label->text();
  }
  void TearDown() override {
    if (host_) host_->Stop();
    window_.reset();
    host_.reset();
  }

  TempFolder home_;
  Line line_;
  FakePrompter prompter_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<TFrmMain> window_;
  int softwareParameterOpenings_ = 0;
  int userSetOpenings_ = 0;
};

TEST_F(MainWindowTest, PortErrorAtStartUpInTheSettingsLanguageThenTheParameterDialog) {
  for (int language : {0, 1}) {
    WriteSettings("/dev/no-such-port", language);
    softwareParameterOpenings_ = 0;
    prompter_.Told.clear();
    Start();
    ASSERT_FALSE(prompter_.Told.empty());
    EXPECT_TRUE(
        prompter_.Told.front().Text.startsWith(QString::fromStdString(PortOpenErrorText(language))))
        << prompter_.Told.front().Text.toStdString();
    EXPECT_EQ(softwareParameterOpenings_, 1);
    FastStep();
    EXPECT_EQ(Status(1), Tr(txt::PortClosedStatus, language));
    EXPECT_EQ(Find<QPushButton>("btnCom")->text(), Tr(txt::PortOpenCaption, language));
    const auto events = Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().Code, 20);  // the program-start event is written all the same
    TearDown();
  }
}

TEST_F(MainWindowTest, ExitQuestionNoChangesNothingYesSavesAndLogsTheStopLast) {
  WriteSettings(line_.Name(), 0);
  WriteDevices(2);
  Start();
  ASSERT_TRUE(host_->PortIsOpen());
  const auto settingsBefore = ReadBytes(home_ / "UserParaIni.ini");

  prompter_.Answers = {false};
  EXPECT_FALSE(window_->close());
  ASSERT_EQ(prompter_.Asked.size(), 1u);
  EXPECT_EQ(prompter_.Asked[0], "Exit Program ?");
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->DisplayTimerActive());
  EXPECT_TRUE(host_->PortIsOpen());
  EXPECT_EQ(ReadBytes(home_ / "UserParaIni.ini"), settingsBefore);

  // Yes writes the settings, with what changed in memory since.
  host_->Ctx().settings.Language = 1;
  prompter_.Answers = {true};
  EXPECT_TRUE(window_->close());
  EXPECT_EQ(prompter_.Asked[1], Tr(txt::ExitQuestion, 1));
  EXPECT_FALSE(host_->PortIsOpen());
  Settings saved;
  ReadUserParaIni((home_ / "UserParaIni.ini").string(), saved);
  EXPECT_EQ(saved.Language, 1);
  const auto events = Events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events.front().Code, 20);
  EXPECT_EQ(events.back().Code, 21);
}

TEST_F(MainWindowTest, SettingsThatCannotBeWrittenKeepTheProgramRunning) {
  WriteSettings(line_.Name(), 0);
  Start();
  // The settings file turns into a folder: the write must fail.
  fs::remove(home_ / "UserParaIni.ini");
  fs::create_directory(home_ / "UserParaIni.ini");
  prompter_.Answers = {true};
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(prompter_.LastTold().startsWith("Unable to write to "))
      << prompter_.LastTold().toStdString();
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->DisplayTimerActive());
  EXPECT_TRUE(host_->PortIsOpen());
  EXPECT_FALSE(host_->Stopped());
}

TEST_F(MainWindowTest, DisplayTimerKeepsItsTickContract) {
  WriteSettings(line_.Name(), 0);
  Start();
  CommState& comm = host_->Ctx().comm;
  auto* tx = Find<RoundLamp>("iLedTx");
  auto* rx = Find<RoundLamp>("iLedRx");
  window_->FTickCount = 0;
  window_->FSlowCount = 0;
  const int ticksBefore = comm.DbgVar[10];
  const int refreshesBefore = comm.DbgVar[16];

  // A frame went out: the fast step comes on the 11th tick and lights the lamp for three steps.
  comm.TxLed = 3;
  comm.RxLed = 0;
  window_->AdvanceTicks(10);
  EXPECT_EQ(comm.TxLed, 3);
  EXPECT_FALSE(tx->IsLit());
  EXPECT_EQ(comm.DbgVar[10], ticksBefore + 10);
  EXPECT_EQ(comm.DbgVar[0], TFrmMain::kTickMs);
  std::vector<bool> lit;
  for (int step = 0; step < 4; ++step) {
    window_->AdvanceTicks(step == 0 ? 1 : 11);
    lit.push_back(tx->IsLit());
  }
  EXPECT_EQ(lit, (std::vector<bool>{true, true, true, false}));
  EXPECT_FALSE(rx->IsLit());

  // The full refresh: on the 66th tick, and on no other.
  EXPECT_EQ(comm.DbgVar[16], refreshesBefore);
  window_->AdvanceTicks(66 - 10 - 1 - 33 - 1);
  EXPECT_EQ(comm.DbgVar[16], refreshesBefore);
  window_->AdvanceTicks(1);
  EXPECT_EQ(comm.DbgVar[16], refreshesBefore + 1);
  EXPECT_EQ(Status(4).size(), 8);  // "hh:mm:ss"
}

// Counts the paint events the window's widgets receive.
class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() != QEvent::Paint) return false;
    // The lamps blink with the frames the host really sends on the line (the tool bar and the
    // window behind them are drawn with them), and the clock panel changes every second.
    for (QObject* p = o; p; p = p->parent()) {
      const QString name = p->objectName();
      if (name == "ToolBar1" || name.startsWith("StatusPanel") || qobject_cast<QStatusBar*>(p))
        return false;
    }
    if (o->objectName() != "TFrmMain")
      painted << o->objectName() + ":" + o->metaObject()->className();
    return false;
  }
  QStringList painted;
};

// A window left alone all day must not draw itself again and again: a fast step or a refresh that
// changes nothing on screen paints nothing.
TEST_F(MainWindowTest, StepsThatChangeNothingPaintNothing) {
  WriteSettings(line_.Name(), 0);
  WriteDevices(2);
  Start();
  TUpsTable& table = host_->Ctx().model.UpsTable;
  const auto settle = [&] {
    for (uint8_t a : {1, 2}) {
      table[a].CommState = kCommOk;
      table[a].RunState = kRunStandby;
      table[a].FailCnt = 0;
      table[a].InputV_A = 230;
    }
    host_->Ctx().comm.TxLed = 0;
    host_->Ctx().comm.RxLed = 0;
  };
  settle();
  window_->AdvanceTicks(TFrmMain::kTicksPerStep * TFrmMain::kStepsPerRefresh * 2);
  RunUntil([] { return false; }, 100);
  PaintCounter counter;
  qApp->installEventFilter(&counter);
  settle();
  const int32_t refreshes = host_->Ctx().comm.DbgVar[16];
  window_->AdvanceTicks(TFrmMain::kTicksPerStep * TFrmMain::kStepsPerRefresh);
  ASSERT_EQ(host_->Ctx().comm.DbgVar[16], refreshes + 1);
  RunUntil([] { return false; }, 100);
  EXPECT_TRUE(counter.painted.isEmpty()) << counter.painted.join(", ").toStdString();
  qApp->removeEventFilter(&counter);
}

TEST_F(MainWindowTest, MenusAndLayoutFollowTheProtocol) {
  WriteSettings(line_.Name(), 0, 1);
  Start();
  FastStep();
  auto* control = Find<QMenu>("mni300");
  auto* tabs = Find<QTabWidget>("PageControl2");
  EXPECT_FALSE(control->menuAction()->isVisible());
  EXPECT_FALSE(Find<QAction>("mni101")->isVisible());
  EXPECT_FALSE(Find<QWidget>("pnlBattCapa")->isVisible());
  EXPECT_TRUE(Find<QWidget>("pnlBattLivingTime")->isVisible());
  EXPECT_FALSE(tabs->tabBar()->isVisible());
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(Find<QLabel>("lblProtocol")->text(), "1");

  // Modbus: the Modbus-only items come back within one fast step; the layout with the next apply.
  host_->Ctx().settings.PortInfo.Protocol = 3;
  FastStep();
  EXPECT_TRUE(control->menuAction()->isVisible());
  EXPECT_TRUE(Find<QAction>("mni101")->isVisible());
  EXPECT_TRUE(Find<QAction>("mniTurnOn")->isVisible());
  window_->ApplyProtocolLayout();
  EXPECT_TRUE(Find<QWidget>("pnlBattCapa")->isVisible());
  EXPECT_TRUE(tabs->tabBar()->isVisible());
}

TEST_F(MainWindowTest, EveryTextFollowsTheLanguageSwitch) {
  WriteSettings(line_.Name(), 1);
  WriteDevices(2);
  Start();
  for (int language : {0, 1}) {
    Find<QAction>(language == 1 ? "mni401" : "mni402")->trigger();
    FastStep();
    for (const ControlText& c : kMainWindowTexts) {
      QObject* o = c.object == std::string("TFrmMain") ? window_.get()
                                                       : window_->findChild<QObject*>(c.object);
      ASSERT_NE(o, nullptr) << c.object;
      const QString want = Tr(c.text, language);
      QString got;
      if (c.slot == TextSlot::ToolTip)
        got = o->property("toolTip").toString();
      else if (c.slot == TextSlot::Name)
        got = o->property("accessibleName").toString();
      else if (c.slot == TextSlot::Tab) {
        auto* tabs = Find<QTabWidget>("PageControl2");
        got = tabs->tabText(tabs->indexOf(static_cast<QWidget*>(o)));
      } else if (o == window_.get())
        got = window_->windowTitle();
      else if (auto* m = qobject_cast<QMenu*>(o))
        got = m->title();
      else if (auto* g = qobject_cast<QGroupBox*>(o))
        got = g->title();
      else if (o->property("text").isValid())
        got = o->property("text").toString();
      else
        continue;  // chart titles live in the chart
      EXPECT_EQ(got, want) << c.object << " in language " << language;
    }
    // Every visible text of the window is in the language chosen: no English text left in the
    // Chinese window, no Chinese text in the English one (device names aside).
    std::vector<QString> texts;
    for (auto* l : window_->findChildren<QLabel*>())
      if (l->isVisible()) texts.push_back(l->text());
    for (auto* b : window_->findChildren<QAbstractButton*>())
      if (b->isVisible()) texts.push_back(b->text());
    for (auto* g : window_->findChildren<QGroupBox*>())
      if (g->isVisible()) texts.push_back(g->title());
    for (auto* a : window_->findChildren<QAction*>())
      if (a->isVisible()) texts.push_back(a->text());
    auto* tree = Find<QTreeWidget>("TreeView1");
    texts.push_back(tree->topLevelItem(0)->child(0)->text(0));
    texts.push_back(tree->topLevelItem(0)->child(1)->text(0));
    for (const QString& t : texts) {
      if (language == 0) {
        EXPECT_FALSE(HasCjk(t)) << t.toStdString();
      } else {
        for (const ControlText& c : kMainWindowTexts) {
          if (QString::fromUtf8(c.text.en) != QString::fromUtf8(c.text.zh)) {
            EXPECT_NE(t, QString::fromUtf8(c.text.en)) << c.object;
          }
        }
      }
    }
  }
}

// Qt's own texts follow the language at run time: the Yes and No of every message box (the exit
// question too) and the file dialogs' buttons.
TEST_F(MainWindowTest, QtsOwnButtonsFollowTheLanguage) {
  WriteSettings(line_.Name(), 1);
  WriteDevices(1);
  Start();
  auto buttons = [] {
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return box.button(QMessageBox::Yes)->text() + "|" + box.button(QMessageBox::No)->text() + "|" +
           box.button(QMessageBox::Cancel)->text();
  };
  const QString zh = buttons();
  EXPECT_TRUE(zh.contains(QStringLiteral("是")) && zh.contains(QStringLiteral("否")) &&
              zh.contains(QStringLiteral("取消")))
      << zh.toStdString();
  Find<QAction>("mni402")->trigger();
  EXPECT_EQ(buttons(), "&Yes|&No|Cancel");
  Find<QAction>("mni401")->trigger();
  EXPECT_EQ(buttons(), zh);
  Find<QAction>("mni402")->trigger();
}

TEST_F(MainWindowTest, PortButtonGoesByThePortAndReopeningRereadsTheSettings) {
  WriteSettings(line_.Name(), 0);
  Start();
  auto* button = Find<QPushButton>("btnCom");
  ASSERT_TRUE(host_->PortIsOpen());
  FastStep();
  EXPECT_EQ(Status(1), QString::fromStdString(line_.Name()) + " is Link");
  EXPECT_EQ(button->text(), "Close COM");

  // The caption is in another language than the one the button compares with: the port decides.
  Find<QAction>("mni401")->trigger();
  button->click();
  EXPECT_FALSE(host_->PortIsOpen());
  FastStep();
  EXPECT_EQ(Status(1), Tr(txt::PortClosedStatus, 1));
  EXPECT_EQ(button->text(), Tr(txt::PortOpenCaption, 1));

  // Opening reads the file again: the unsaved language falls back, and the window follows it.
  button->click();
  EXPECT_TRUE(host_->PortIsOpen());
  EXPECT_EQ(host_->Ctx().settings.Language, 0);
  EXPECT_EQ(window_->windowTitle(), "Tessel Monitor");
  EXPECT_EQ(Find<QTreeWidget>("TreeView1")->topLevelItemCount(), 0);

  // A name that selects no port says so instead of looking opened.
  button->click();
  WriteSettings("COM0", 0);
  prompter_.Told.clear();
  button->click();
  EXPECT_FALSE(host_->PortIsOpen());
  ASSERT_EQ(prompter_.Told.size(), 1u);
  EXPECT_EQ(prompter_.Told[0].Text, QString::fromStdString(PortOpenErrorText(0)));
}

TEST_F(MainWindowTest, UserSetNeedsACommunicatingDevice) {
  WriteSettings(line_.Name(), 0);
  WriteDevices(1);
  Start();
  FastStep();
  Find<QAction>("mni101")->trigger();
  ASSERT_EQ(prompter_.Told.size(), 1u);
  EXPECT_EQ(prompter_.Told[0].Kind, MessageKind::Notice);
  EXPECT_EQ(prompter_.Told[0].Text, "The device is not communication!");
  EXPECT_EQ(userSetOpenings_, 0);
  host_->Ctx().model.UpsTable[1].CommState = kCommOk;
  Find<QAction>("mni101")->trigger();
  EXPECT_EQ(userSetOpenings_, 1);
  EXPECT_EQ(prompter_.Told.size(), 1u);
}

// The second panel says what became of the last write, in the current language; a refusal is
// red and names the unit's reason in the hint.
TEST_F(MainWindowTest, SecondPanelTellsWhatBecameOfTheLastWrite) {
  WriteSettings(line_.Name(), 0);
  WriteDevices(1);
  Start();
  auto* panel = Find<QLabel>("StatusPanel2");
  window_->RefreshDisplay();
  EXPECT_EQ(panel->text(), "");

  TCmdOutcome& w = host_->Ctx().cmd.LastWrite;
  w = {1, TCmdOutcome::Result::Accepted, 1, 40005, 230, 0};
  window_->RefreshDisplay();
  EXPECT_EQ(panel->text(), "Unit 1: 40005=230 accepted");
  EXPECT_EQ(panel->toolTip(), "Unit 1: 40005=230 accepted\nSystem Voltage Level(V)");
  EXPECT_EQ(panel->styleSheet(), "");

  w = {2, TCmdOutcome::Result::Refused, 1, 20002, 1, 2};
  window_->RefreshDisplay();
  EXPECT_EQ(panel->text(), "Unit 1: 20002=1 refused (exception 2)");
  EXPECT_EQ(panel->toolTip(),
            "Unit 1: 20002=1 refused (exception 2)\nSwitch off\nIllegal data address");
  EXPECT_NE(panel->styleSheet(), "");

  Find<QAction>("mni401")->trigger();
  EXPECT_EQ(panel->text(), "设备1: 20002=1 被拒绝(异常2)");
  w = {3, TCmdOutcome::Result::NoAnswer, 7, 20003, 60, 0};
  window_->RefreshDisplay();
  EXPECT_EQ(panel->toolTip(), "设备7: 20003=60 无应答\n电池自检");
}

TEST_F(MainWindowTest, RefreshShowsEveryDeviceInItsNodeAndTheHostClearsStaleValues) {
  WriteSettings(line_.Name(), 0);
  WriteDevices(3);
  Start();
  TUpsTable& table = host_->Ctx().model.UpsTable;
  table[1].CommState = kCommOk;
  table[1].RunState = kRunOnline;
  table[2].CommState = kCommOk;
  table[2].RunState = kRunBattery;
  table[2].AlarmCount = 1;
  table[3].CommState = kCommLost;
  table[3].InputV_A = 230;
  window_->RefreshDisplay();
  auto* tree = Find<QTreeWidget>("TreeView1");
  const QString online = QString::fromStdString(StateText(kRunOnline, 0));
  EXPECT_EQ(tree->topLevelItem(0)->text(0), "UPS-1  (" + online + ")");
  EXPECT_EQ(window_->Tree().NodeImage(1), 1);
  EXPECT_EQ(window_->Tree().NodeImage(2), 2);
  EXPECT_EQ(tree->topLevelItem(2)->text(0), "UPS-3  (Communication lost)");
  EXPECT_EQ(window_->Tree().NodeImage(3), 0);
  // The window only shows: clearing is the host's, at the moment a unit is lost or the port
  // closes, so that the event log is the same whether the window is shown, minimised or absent.
  EXPECT_EQ(table[3].InputV_A, 230);

  // With the port closed every device is shown lost and its values are cleared (by the host).
  table[1].InputV_A = 231;
  host_->ClosePort();
  EXPECT_EQ(table[1].InputV_A, 0);
  EXPECT_EQ(table[3].InputV_A, 0);
  window_->RefreshDisplay();
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(window_->Tree().NodeImage(k), 0) << k;
    EXPECT_TRUE(tree->topLevelItem(k - 1)->text(0).endsWith("  (Communication lost)")) << k;
  }
  EXPECT_EQ(table[1].InputV_A, 0);
}

TEST_F(MainWindowTest, TreeEditsRewriteTheFileAndMoveTheSelection) {
  WriteSettings(line_.Name(), 0);
  WriteDevices(3);
  Start();
  DeviceTree& tree = window_->Tree();
  auto* view = Find<QTreeWidget>("TreeView1");
  EXPECT_EQ(window_->GetSelDevAddr(), 1);

  // "Graph" of the second device: its device is selected and the trend page shown.
  view->setCurrentItem(view->topLevelItem(1)->child(1));
  emit view->itemClicked(view->currentItem(), 0);
  EXPECT_EQ(window_->GetSelDevAddr(), 2);
  EXPECT_EQ(tree.FidxSelNode, 5);
  EXPECT_EQ(Find<QStackedWidget>("PageControl1")->currentIndex(), 1);
  view->setCurrentItem(view->topLevelItem(1));
  emit view->itemClicked(view->currentItem(), 0);
  EXPECT_EQ(Find<QStackedWidget>("PageControl1")->currentIndex(), 0);

  TEquipRec added;
  added.Addr = 9;
  added.Name = MakeNameField("New");
  ASSERT_TRUE(tree.AddDevice(added));
  EXPECT_EQ(window_->GetSelDevAddr(), 2);  // the selection stays on its position
  ASSERT_TRUE(tree.RenameDevice(tree.NodeIndexOf(1), MakeNameField(std::string(40, 'R'))));
  TEquipList file;
  ASSERT_TRUE(LoadDeviceList(TreeFile(), file));
  ASSERT_EQ(file.Count, 4);
  EXPECT_EQ(file.Items[4].Addr, 9);
  EXPECT_EQ(file.Items[4].NodeIndex, 9);
  EXPECT_EQ(file.Items[1].Name, MakeNameField(std::string(40, 'R')));
  EXPECT_EQ(file.Items[2].Name, MakeNameField("UPS-2"));

  // Deleting the last device selects the new last; deleting all leaves nothing selected.
  view->setCurrentItem(view->topLevelItem(3));
  emit view->itemClicked(view->currentItem(), 0);
  ASSERT_TRUE(tree.DeleteSelectedDevice());
  EXPECT_EQ(window_->GetSelDevAddr(), 3);
  while (host_->Ctx().model.EquipList.Count > 0) ASSERT_TRUE(tree.DeleteSelectedDevice());
  EXPECT_EQ(window_->GetSelDevAddr(), 0);
  EXPECT_EQ(tree.FidxSelNode, -1);
  EXPECT_EQ(fs::file_size(TreeFile()), 0u);
}

// Keyboard only: the arrow keys move the highlight, and what is highlighted is what the page
// shows, what Delete removes, what Property edits and what the control dialogs address.
TEST_F(MainWindowTest, KeysSelectAsAClickDoesAndDeleteRemovesTheHighlightedDevice) {
  WriteSettings(line_.Name(), 0);
  WriteDevices(3);
  Start();
  auto* view = Find<QTreeWidget>("TreeView1");
  auto* pages = Find<QStackedWidget>("PageControl1");
  view->setFocus();
  ASSERT_EQ(window_->GetSelDevAddr(), 1);
  ASSERT_EQ(view->currentItem(), view->topLevelItem(0));

  // UPS-1, its two sub-nodes, then UPS-2.
  for (int i = 0; i < 3; ++i) QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(view->currentItem(), view->topLevelItem(1));
  EXPECT_EQ(window_->GetSelDevAddr(), 2);
  EXPECT_EQ(window_->Tree().FidxSelNode, 3);
  EXPECT_EQ(pages->currentIndex(), 0);
  // Its "Graph" sub-node: the trend page of device 2.
  QTest::keyClick(view, Qt::Key_Down);
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(window_->GetSelDevAddr(), 2);
  EXPECT_EQ(pages->currentIndex(), 1);
  QTest::keyClick(view, Qt::Key_Up);
  EXPECT_EQ(pages->currentIndex(), 0);
  QTest::keyClick(view, Qt::Key_End);
  EXPECT_EQ(window_->GetSelDevAddr(), 3);
  QTest::keyClick(view, Qt::Key_Home);
  EXPECT_EQ(window_->GetSelDevAddr(), 1);
  for (int i = 0; i < 3; ++i) QTest::keyClick(view, Qt::Key_Down);
  ASSERT_EQ(window_->GetSelDevAddr(), 2);

  // The control windows ask the window for the device: the highlighted one communicates, the
  // first does not.
  host_->Ctx().model.UpsTable[2].CommState = kCommOk;
  Find<QAction>("mni101")->trigger();
  EXPECT_EQ(userSetOpenings_, 1);
  EXPECT_TRUE(prompter_.Told.empty());

  // Delete removes the highlighted device 2, not the last one clicked (device 1 at start).
  Find<QPushButton>("btnDelete")->click();
  TEquipList file;
  ASSERT_TRUE(LoadDeviceList(TreeFile(), file));
  ASSERT_EQ(file.Count, 2);
  EXPECT_EQ(file.Items[1].Addr, 1);
  EXPECT_EQ(file.Items[2].Addr, 3);
  // The highlight and the selection agree after the tree is rebuilt.
  EXPECT_EQ(window_->GetSelDevAddr(), window_->Tree().SelectedDeviceAddr());
  QTest::keyClick(view, Qt::Key_Home);
  Find<QPushButton>("btnDelete")->click();
  ASSERT_TRUE(LoadDeviceList(TreeFile(), file));
  ASSERT_EQ(file.Count, 1);
  EXPECT_EQ(file.Items[1].Addr, 3);
}

TEST_F(MainWindowTest, NinetiethDeviceIsFoundByItsFullNodeIndex) {
  WriteSettings(line_.Name(), 0);
  WriteDevices(90);
  Start();
  auto* view = Find<QTreeWidget>("TreeView1");
  view->setCurrentItem(view->topLevelItem(89));
  emit view->itemClicked(view->currentItem(), 0);
  EXPECT_EQ(window_->Tree().FidxSelNode, 267);
  EXPECT_EQ(window_->Tree().FSelDevIdx, 90);
  EXPECT_EQ(window_->GetSelDevAddr(), 90);
  EXPECT_EQ(host_->Ctx().model.EquipList.Items[90].NodeIndex, 11);
}

TEST_F(MainWindowTest, DamagedDeviceListIsReportedAndNotShortenedWithoutAsking) {
  WriteSettings(line_.Name(), 0);
  WriteDevices(2);
  // A third record with address 0 and a fourth repeating address 1.
  for (const auto& [addr, name] : {std::pair{0, "Zero"}, std::pair{1, "Twin"}}) {
    TEquipRec rec;
    rec.Addr = static_cast<uint8_t>(addr);
    rec.Name = MakeNameField(name);
    const auto bytes = EncodeEquipRec(rec);
    testing::AppendBytes(TreeFile(), bytes.data(), bytes.size());
  }
  const auto original = ReadBytes(TreeFile());
  Start();
  ASSERT_FALSE(prompter_.Told.empty());
  const QString report = prompter_.Told[0].Text;
  EXPECT_TRUE(report.contains("record 3 \"Zero\"")) << report.toStdString();
  EXPECT_TRUE(report.contains("record 4 \"Twin\"")) << report.toStdString();
  EXPECT_EQ(host_->Ctx().model.EquipList.Count, 2);

  // The first save asks; No keeps the file as it is.
  TEquipRec added;
  added.Addr = 7;
  added.Name = MakeNameField("Seven");
  prompter_.Answers = {false};
  EXPECT_FALSE(window_->Tree().AddDevice(added));
  EXPECT_EQ(ReadBytes(TreeFile()), original);
  // Yes keeps a copy of the old file in the backup folder, then saves.
  prompter_.Answers = {true};
  ASSERT_TRUE(window_->Tree().SaveDeviceList());
  bool copied = false;
  for (const auto& e : fs::directory_iterator(home_ / "Backup"))
    if (e.path().filename().string().rfind("TreeNode_", 0) == 0)
      copied = ReadBytes(e.path()) == original;
  EXPECT_TRUE(copied);
  EXPECT_EQ(fs::file_size(TreeFile()), 3u * kEquipRecSize);
}

TEST_F(MainWindowTest, SecondCopyBringsTheWindowBack) {
  WriteSettings(line_.Name(), 0);
  Start();
  QtLoop loop;
  InstanceGuard first(home_.Path().string());
  first.OnActivate = [this] { window_->BringToFront(); };
  ASSERT_TRUE(first.Claim(loop));
  window_->showMinimized();
  ASSERT_TRUE(RunUntil([&] { return window_->isMinimized(); }, 2000));
  EXPECT_FALSE(window_->DisplayTimerActive());  // nothing to draw while minimised

  InstanceGuard second(home_.Path().string());
  EXPECT_FALSE(second.Claim(loop));
  EXPECT_TRUE(RunUntil([&] { return !window_->isMinimized() && window_->isVisible(); }, 5000));
  EXPECT_TRUE(window_->DisplayTimerActive());
}

}  // namespace
}  // namespace tessel
