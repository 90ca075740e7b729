// The settings and control windows against the simulator: what the operator sets reaches the unit
// as exactly one function-6 write (after the unlock write under the Modbus choice, alone under
// the ZEV choice), and what the windows refuse puts nothing on the line.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "host/host.h"
#include "model/cmd_request.h"
#include "model/param_items.h"
#include "ui/common/prompter.h"
#include "ui/control/data_set_dialog.h"
#include "ui/control/self_test_dialog.h"
#include "ui/control/turn_on_dialog.h"

namespace tessel::e2e {
namespace {

using std::chrono::seconds;

// Every write the simulator logged for unit 1, without its time stamp.
std::vector<std::string> WritesToUnit1(ChildProcess& sim) {
  std::vector<std::string> out;
  for (const OutputLine& l : sim.Lines())
    if (IsRequestLineFor(l.text, 1) && l.text.find(" fc=6 ") != std::string::npos)
      out.push_back(l.text.substr(l.text.find("addr=")));
  return out;
}

class Recorder : public Prompter {
 public:
  void Tell(QWidget*, MessageKind, const QString& text) override { told.push_back(text); }
  bool Ask(QWidget*, const QString&) override { return false; }
  std::vector<QString> told;
};

TEST(ControlDialogs, WhatTheOperatorSetsIsWhatTheUnitReceives) {
  TempHome home;
  ASSERT_FALSE(home.Path().empty());
  const std::string link = home.Path() + "/ttyUPS";
  const std::string scenario = home.Path() + "/online.txt";
  std::ofstream(scenario) << "0 state = online\n";
  auto sim = StartSim(2, "1", {"--scenario", scenario}, link);
  ASSERT_FALSE(HasFailure());
  WriteSettings(home.Path(), link, 2);
  WriteDeviceList(home.Path(), {1});

  Recorder prompter;
  Host host(MakeProgramPaths(home.Path()));
  host.Start();
  ASSERT_TRUE(host.PortIsOpen());
  Context& ctx = host.Ctx();
  const TUpsInfo& unit = ctx.model.UpsTable[1];
  ASSERT_TRUE(WaitFor([&] { return unit.CommState == kCommOk && unit.Params.VoltLevel == 220; },
                      seconds(40)))
      << sim->Transcript();
  auto selected = [] { return uint8_t{1}; };

  // The writes that reached the unit since the last look, once the slots are empty again and
  // one more poll has gone by.
  size_t seen = 0;
  auto newWrites = [&] {
    WaitFor(
        [&] {
          for (const TCmdRequest& s : ctx.cmd.CmdSlots)
            if (s.Pending) return false;
          return true;
        },
        seconds(20));
    const size_t polls = sim->Lines().size();
    WaitFor([&] { return sim->Lines().size() > polls + 1; }, seconds(10));
    std::vector<std::string> all = WritesToUnit1(*sim);
    std::vector<std::string> fresh(all.begin() + static_cast<long>(seen), all.end());
    seen = all.size();
    return fresh;
  };
  auto setItem = [&](int item, const std::function<void(TFrmDataSet&)>& input) {
    TFrmDataSet d(host, prompter, selected);
    d.show();
    d.findChild<QListWidget*>("ListBox1")->setCurrentRow(item);
    input(d);
    d.findChild<QPushButton*>("btnSetTo")->click();
  };
  auto choose = [](int i) {
    return [i](TFrmDataSet& d) { d.findChild<QComboBox*>("ComboBox1")->setCurrentIndex(i); };
  };
  auto type = [](const char* text) {
    return [text](TFrmDataSet& d) { d.findChild<QLineEdit*>("Edit1")->setText(text); };
  };
  const std::string unlock = "addr=1 fc=6 reg=50000 value=" + std::to_string(kUnlockValue) +
                             " answered: parameter write enabled";

  // Modbus choice: the unlock write, then the setting, nothing else.
  setItem(1, choose(1));
  EXPECT_EQ(newWrites(),
            (std::vector<std::string>{
                unlock, "addr=1 fc=6 reg=40005 value=230 answered: parameter stored"}));
  setItem(kEodItem, type("1.234"));
  EXPECT_EQ(newWrites(),
            (std::vector<std::string>{
                unlock, "addr=1 fc=6 reg=40020 value=123 answered: parameter stored"}));
  // Refused inputs: nothing on the line.
  for (const char* refused : {"300", "65536", "65537", "2.5", ""}) {
    setItem(16, type(refused));
    EXPECT_TRUE(newWrites().empty()) << refused;
  }
  setItem(kEodItem, type("1.95"));
  EXPECT_TRUE(newWrites().empty());
  EXPECT_EQ(prompter.told.size(), 6u);

  // Self-test and switch-off.
  {
    TFrmTest t(host, prompter, selected);
    t.findChild<QLineEdit*>("Edit1")->setText("5");
    t.findChild<QPushButton*>("Button1")->click();
    EXPECT_EQ(newWrites(),
              (std::vector<std::string>{"addr=1 fc=6 reg=20003 value=5 answered: battery self-test "
                                        "started for 5 s"}));
    t.findChild<QLineEdit*>("Edit1")->setText("70000");
    t.findChild<QPushButton*>("Button1")->click();
    EXPECT_TRUE(newWrites().empty());
  }
  {
    TfrmTrunOn d(host, prompter, selected);
    d.findChild<QGroupBox*>("rg1")->findChildren<QRadioButton*>()[1]->setChecked(true);
    d.findChild<QPushButton*>("btnSure")->click();
    EXPECT_EQ(newWrites(),
              (std::vector<std::string>{
                  "addr=1 fc=6 reg=20002 value=1 answered: unit switched off, no output"}));
  }

  // The ZEV choice writes the setting alone.
  host.CatchUp();
  ctx.settings.PortInfo.Protocol = 3;
  host.Rearm();
  setItem(1, choose(2));
  EXPECT_EQ(
      newWrites(),
      (std::vector<std::string>{"addr=1 fc=6 reg=40005 value=240 answered: parameter stored"}));
  EXPECT_EQ(ctx.cmd.LastWrite.Outcome, TCmdOutcome::Result::Accepted);
  host.Stop();
}

}  // namespace
}  // namespace tessel::e2e
