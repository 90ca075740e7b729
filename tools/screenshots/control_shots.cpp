// The device settings and control windows: the password, the parameter setting in each of its
// value areas, the user data window filled from a unit, battery self-test and remote on/off.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include "host/host.h"
#include "shots.h"
#include "ui/common/prompter.h"
#include "ui/control/data_set_dialog.h"
#include "ui/control/password_dialog.h"
#include "ui/control/self_test_dialog.h"
#include "ui/control/turn_on_dialog.h"
#include "ui/control/user_set_window.h"

namespace tessel::shots {

namespace {

// The settings a unit of the middle voltage level reports.
void FillSettings(TUpsInfo& u) {
  u.CommState = kCommOk;
  TUpsParams& p = u.Params;
  p.SysID = 1;
  p.SetMode = 0;
  p.VoltLevel = 230;
  p.FreqLevel = 50;
  p.ParaNum = 2;
  p.RedunNum = 1;
  p.BpsFreq = 5;
  p.BpsVMax = 15;
  p.BpsVMin = -30;
  p.OutputVFine = -15;
  p.BattNum = 32;
  p.BattGroup = 2;
  p.BattBoostV = 235;
  p.BattFloat = 225;
  p.EodV = 175;
  p.BattCap = 100;
  p.MaxChgCurr = 20;
  p.BoostLast = 120;
  p.StatusCtrl = 0x2000;
  p.OptMode = 2;
}

}  // namespace

void RenderControlDialogs(int language, const std::string& port) {
  const QString lang = language == 1 ? "zh" : "en";
  QTemporaryDir dir;
  const std::string home = dir.path().toStdString();
  PrepareHome(home, port, language, 2);
  Host host(MakeProgramPaths(home));
  host.Start();
  host.Core().Master().SetManualMode(true);  // nothing on the line changes the unit
  FillSettings(host.Ctx().model.UpsTable[1]);
  SilentPrompter prompter;
  auto selected = [] { return uint8_t{1}; };
  {
    std::string model;
    TfrmPSW psw(model, static_cast<uint8_t>(language), prompter);
    psw.findChild<QLineEdit*>("edtPSW")->setText("ZEV305LB");
    Save(&psw, "control_password_" + lang);
  }
  host.Ctx().model.ModelCode = "ZEV305LB";
  {
    TFrmDataSet d(host, prompter, selected);
    Save(&d, "control_dataset_empty_" + lang);
    auto* list = d.findChild<QListWidget*>("ListBox1");
    const std::pair<int, const char*> items[] = {{1, "list"}, {11, "number"}, {15, "switches"}};
    for (const auto& [item, name] : items) {
      list->setCurrentRow(item);
      Save(&d, QString("control_dataset_%1_%2").arg(name, lang));
    }
  }
  {
    TFrmUserSet w(host, prompter, selected);
    Save(&w, "control_userset_" + lang);
    host.Ctx().model.ModelCode.clear();
    w.Tick();
    Save(&w, "control_userset_no_output_" + lang);
  }
  {
    TFrmTest t(host, prompter, selected);
    Save(&t, "control_selftest_" + lang);
  }
  {
    TfrmTrunOn d(host, prompter, selected);
    Save(&d, "control_turnon_" + lang);
  }
  host.Stop();
}

}  // namespace tessel::shots
