// tessel-screenshots: renders every window in both languages on the offscreen platform into a
// folder of PNG files, with a prepared program folder: three units in the device tree and the port
// open on a pseudo-terminal that this program holds.
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "app/device_list_file.h"
#include "host/host.h"
#include "log/data_log.h"
#include "log/event_log.h"
#include "model/ups_info.h"
#include "shots.h"
#include "ui/common/prompter.h"
#include "ui/common/qt_translations.h"
#include "ui/common/window_texts.h"
#include "ui/logs/data_log_set_dialog.h"
#include "ui/logs/data_log_texts.h"
#include "ui/logs/data_log_window.h"
#include "ui/logs/del_data_rec_dialog.h"
#include "ui/logs/event_log_window.h"
#include "ui/logs/progress_dialog.h"
#include "ui/main/about_dialog.h"
#include "ui/main/device_page.h"
#include "ui/main/device_tree.h"
#include "ui/main/main_window.h"
#include "ui/main/new_equip_dialog.h"
#include "ui/main/property_dialog.h"
#include "ui/search/search_dialog.h"
#include "ui/trace/trace_window.h"
#include "ui/widgets/angular_gauge.h"
#include "ui/widgets/charge_pipe.h"
#include "ui/widgets/led_bar.h"
#include "ui/widgets/mode_diagram.h"

namespace tessel::shots {

QString g_out;
int g_written = 0;

void Save(QWidget* w, const QString& name) {
  w->show();
  QApplication::processEvents();
  const QString path = g_out + "/" + name + ".png";
  if (!w->grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::exit(1);
  }
  ++g_written;
}

void PrepareHome(const std::string& home, const std::string& port, int language, int protocol) {
  QDir().mkpath(QString::fromStdString(home + "/Record"));
  std::ofstream(home + "/UserParaIni.ini")
      << "[CommPort]\nComName=" << port << "\nBaudRate=9600\nProtocol=" << protocol
      << "\n[Language]\nLanguage=" << language << "\n";
  TEquipList list;
  const std::pair<int, const char*> units[] = {
      {1, "UPS-1 机房A"}, {2, "UPS-2 Server room"}, {3, "Inverter 3"}};
  for (const auto& [addr, name] : units) {
    TEquipRec rec;
    rec.Addr = static_cast<uint8_t>(addr);
    rec.Name = MakeNameField(name);
    AppendDevice(list, rec);
  }
  SaveDeviceList(home + "/Record/TreeNode.dat", list);
}

}  // namespace tessel::shots

namespace {

using namespace tessel;
using namespace tessel::shots;

// A unit as it reports itself in an operating state, with the values a real one would show.
TUpsInfo UnitIn(int32_t runState, uint8_t addr, double wobble) {
  TUpsInfo u;
  u.Addr = addr;
  u.CommState = kCommOk;
  u.RunState = runState;
  const bool mains = runState != kRunBattery && runState != kRunSelfTest;
  const double in = mains ? 229.4 + wobble : 0;
  u.InputV_A = in;
  u.InputV_B = mains ? in + 1.3 : 0;
  u.InputV_C = mains ? in - 0.8 : 0;
  const bool output = runState != kRunStandby && runState != kRunFault;
  u.OutputV_A = output ? 220.1 + wobble / 3 : 0;
  u.OutputV_B = output ? 219.8 : 0;
  u.OutputV_C = output ? 220.4 : 0;
  u.LoadPer_A = output ? 46 : 0;
  u.LoadPer_B = output ? 38 : 0;
  u.LoadPer_C = output ? (runState == kRunBypass ? 112 : 52) : 0;
  u.OutputFreq = output ? 50.0 : 0;
  u.DCInputV = 405.2;
  u.BattCapa = runState == kRunBattery ? 72 : 100;
  u.BattLivingTime = runState == kRunBattery ? 23 : 41;
  u.InputSupply = mains ? 1 : 2;
  u.UpsSupply = runState == kRunBypass || runState == kRunEco ? 2 : (output ? 1 : 0);
  u.Params.SetMode = runState == kRunEco ? 1 : 0;
  // Charging on mains, discharging on battery.
  u.CmmState1 = mains && runState != kRunFault ? 0x0100 : 0;
  u.BattCurr2 = mains ? 4.2 : 0;
  u.BattCurr1 = mains ? 0 : 38;
  u.UpsState = static_cast<uint8_t>(runState);
  if (runState == kRunFault) {
    u.AlarmCount = 2;
    u.AlarmCodes[0] = 3;
    u.AlarmCodes[1] = 2;
  } else if (runState == kRunBypass) {
    u.AlarmCount = 1;
    u.AlarmCodes[0] = 2;
  }
  return u;
}

// Shows one unit's record as the display refresh does; the other units answer normally.
void ShowUnit(Host& host, TFrmMain& window, const TUpsInfo& unit) {
  TUpsTable& table = host.Ctx().model.UpsTable;
  for (uint8_t a = 1; a <= 3; ++a) table[a] = UnitIn(kRunOnline, a, 0);
  table[unit.Addr] = unit;
  window.RefreshDisplay();
}

void RenderDevicePages(int language, const std::string& port) {
  const QString lang = language == 1 ? "zh" : "en";
  SilentPrompter prompter;
  const std::pair<int32_t, const char*> states[] = {
      {kRunStandby, "standby"}, {kRunOnline, "online"}, {kRunBypass, "bypass"},
      {kRunBattery, "battery"}, {kRunEco, "eco"},       {kRunSelfTest, "selftest"},
      {kRunFault, "fault"}};
  for (int protocol : {0, 1, 2}) {
    QTemporaryDir dir;
    const std::string home = dir.path().toStdString();
    PrepareHome(home, port, language, protocol);
    Host host(MakeProgramPaths(home));
    TFrmMain window(host, prompter);
    host.Start();
    window.show();
    auto* inner = window.findChild<QTabWidget*>("PageControl2");
    const QString tag = QString("page_p%1_").arg(protocol);
    ShowUnit(host, window, UnitIn(kRunOnline, 1, 0));
    inner->setCurrentIndex(0);
    Save(&window, tag + "data_" + lang);
    if (protocol == 1) {
      host.Stop();
      continue;
    }
    inner->setCurrentIndex(1);
    for (const auto& [state, name] : states) {
      if (protocol == 0 && state != kRunOnline && state != kRunBattery) continue;
      ShowUnit(host, window, UnitIn(state, 1, 0));
      Save(&window, tag + "sketch_" + name + "_" + lang);
    }
    if (protocol == 2) {
      // A few minutes of samples on the trend page, one refresh every 0.66 s.
      QTime clock(9, 41, 0);
      window.Page().Now = [&clock] { return clock; };
      QTreeWidget* tree = window.findChild<QTreeWidget*>("TreeView1");
      tree->setCurrentItem(tree->topLevelItem(1)->child(1));
      emit tree->itemClicked(tree->currentItem(), 0);
      for (int i = 0; i < 100; ++i) {
        clock = clock.addMSecs(660);
        ShowUnit(host, window, UnitIn(kRunOnline, 2, 6 * std::sin(i / 9.0) + (i % 7) * 0.4));
      }
      Save(&window, "page_trend_" + lang);
    }
    host.Stop();
  }
}

void MessageBox(const QString& text, QMessageBox::Icon icon, QMessageBox::StandardButtons buttons,
                const QString& name) {
  QMessageBox box(icon, "Tessel", text, buttons);
  Save(&box, name);
}

// The search window (the port is closed, so this program plays the scheduler): once half-way
// through a search, once finished with the new units picked and named.
void RenderSearch(Host& host, TFrmMain& window, Prompter& prompter, const QString& lang) {
  TFrmEquipSearch search(host, window.Tree(), prompter, &window);
  search.findChild<QPushButton*>("btnSearch")->click();
  const std::vector<int> answering = {1, 2, 3, 5, 9, 12};
  auto probe = [&](int upTo) {
    while (search.Searching()) {
      const uint8_t addr = search.NextSearchAddress();
      if (std::find(answering.begin(), answering.end(), addr) != answering.end())
        search.DeviceFound(addr);
      if (addr == upTo) break;
    }
  };
  probe(7);
  Save(&search, "search_running_" + lang);
  probe(0);
  search.findChild<QPushButton*>("btnSelectAll")->click();
  auto* grid = search.findChild<QTableWidget*>("grdAppend");
  grid->item(0, 1)->setText(lang == "zh" ? "UPS-5 机房B" : "UPS-5 Server room B");
  grid->item(2, 1)->setText(lang == "zh" ? "逆变器 12" : "Inverter 12");
  Save(&search, "search_" + lang);
}

void RenderLanguage(int language, const std::string& port) {
  const QString lang = language == 1 ? "zh" : "en";
  SilentPrompter prompter;

  for (int protocol : {2, 1}) {
    QTemporaryDir dir;
    const std::string home = dir.path().toStdString();
    PrepareHome(home, port, language, protocol);
    Host host(MakeProgramPaths(home));
    TFrmMain window(host, prompter);
    host.Start();
    window.show();
    window.AdvanceTicks(TFrmMain::kTicksPerStep * TFrmMain::kStepsPerRefresh);
    // A frame just went out and its answer came in: both lamps lit.
    host.Ctx().comm.TxLed = 3;
    host.Ctx().comm.RxLed = 3;
    window.AdvanceTicks(TFrmMain::kTicksPerStep);
    if (protocol == 1) {
      Save(&window, "main_protocol1_" + lang);
      host.Stop();
      continue;
    }
    Save(&window, "main_" + lang);
    window.findChild<QTabWidget*>("PageControl2")->setCurrentIndex(1);
    Save(&window, "main_sketch_" + lang);
    QTreeWidget* tree = window.findChild<QTreeWidget*>("TreeView1");
    tree->setCurrentItem(tree->topLevelItem(1)->child(1));
    emit tree->itemClicked(tree->currentItem(), 0);
    Save(&window, "main_trend_" + lang);
    host.Ctx().comm.Debug.DbgShow = kFlagOn;
    host.ClosePort();
    window.findChild<QStackedWidget*>("PageControl1")->setCurrentIndex(0);
    window.AdvanceTicks(TFrmMain::kTicksPerStep * TFrmMain::kStepsPerRefresh);
    Save(&window, "main_debug_port_closed_" + lang);

    TFrmNewEquip add(language, host.Ctx().model.EquipList, prompter, &window);
    Save(&add, "new_equip_" + lang);
    TFrmProperty property(language, &host.Ctx().model.EquipList.Items[1], prompter, &window);
    Save(&property, "property_" + lang);
    RenderSearch(host, window, prompter, lang);
    TFrmAbout about(language, TESSEL_VERSION, nullptr, nullptr);
    Save(&about, "about_" + lang);
    TfrmProgress progress(language, &window);
    progress.SetProgress(41872, 96000);
    Save(&progress, "export_progress_" + lang);
    host.Stop();
  }

  MessageBox(Tr(txt::ExitQuestion, language), QMessageBox::Question,
             QMessageBox::Yes | QMessageBox::No, "exit_question_" + lang);
  MessageBox(QString::fromStdString(PortOpenErrorText(language)), QMessageBox::Critical,
             QMessageBox::Ok, "port_error_" + lang);
  DeviceListLoad damaged;
  damaged.Skips = {{2, 0, "UPS-0"}, {4, 1, "UPS-1 copy"}};
  MessageBox(DeviceListLoadMessage(damaged, "/home/op/tessel/Record/TreeNode.dat", language),
             QMessageBox::Warning, QMessageBox::Ok, "device_list_damaged_" + lang);
}

// A day and a half of events of three units: start, communication, state changes, alarms and their
// recoveries, a lost unit, and the program's stop.
void WriteEventLog(const std::string& path) {
  struct Ev {
    int day, h, m, s, addr, kind, code, alarm;
  } const events[] = {
      {11, 8, 0, 0, 0, 0, 20, 255},   {11, 8, 0, 2, 1, 0, 22, 255},
      {11, 8, 0, 3, 2, 0, 22, 255},   {11, 8, 0, 4, 3, 0, 22, 255},
      {11, 8, 0, 5, 1, 1, 4, 255},    {11, 8, 0, 6, 2, 1, 4, 255},
      {11, 8, 0, 7, 3, 1, 1, 255},    {11, 9, 12, 40, 2, 2, 9, 1},
      {11, 9, 30, 5, 2, 2, 9, 0},     {11, 13, 2, 11, 1, 1, 5, 255},
      {11, 13, 2, 12, 1, 2, 21, 1},   {11, 13, 9, 58, 1, 1, 4, 255},
      {11, 13, 9, 59, 1, 2, 21, 0},   {11, 17, 45, 0, 3, 0, 18, 255},
      {11, 18, 1, 30, 3, 0, 22, 255}, {11, 18, 1, 31, 3, 1, 3, 255},
      {11, 18, 1, 31, 3, 2, 2, 1},    {11, 18, 20, 0, 3, 2, 2, 0},
      {11, 18, 20, 1, 3, 1, 4, 255},  {11, 23, 59, 0, 0, 0, 21, 255},
      {12, 7, 58, 0, 0, 0, 20, 255},  {12, 7, 58, 2, 1, 0, 22, 255},
      {12, 7, 58, 3, 2, 0, 22, 255},  {12, 7, 58, 5, 1, 1, 8, 255},
      {12, 10, 15, 20, 2, 1, 6, 255}, {12, 10, 25, 20, 2, 1, 4, 255},
      {12, 11, 3, 9, 1, 2, 12, 1},
  };
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  for (const Ev& e : events) {
    TEventRec r;
    r.Time = EncodeDateTime(2024, 6, e.day, e.h, e.m, e.s);
    r.Address = static_cast<uint8_t>(e.addr);
    r.Kind = static_cast<uint8_t>(e.kind);
    r.Code = e.code;
    r.AlarmState = static_cast<uint8_t>(e.alarm);
    const auto bytes = EncodeEventRec(r);
    f.write(reinterpret_cast<const char*>(bytes.data()), kEventRecSize);
  }
}

void RenderEventLog(int language, const std::string& port) {
  const QString lang = language == 1 ? "zh" : "en";
  SilentPrompter prompter;
  QTemporaryDir dir;
  const std::string home = dir.path().toStdString();
  PrepareHome(home, port, language, 2);
  Host host(MakeProgramPaths(home));
  host.Start();
  WriteEventLog(host.Core().EventLog().FilePath());
  host.Core().EventLog().Changed = 0;
  TFrmEventLog viewer(host, prompter);
  viewer.Today = [] { return QDate(2024, 6, 12); };
  const auto settle = [&viewer] {
    viewer.show();
    while (viewer.Busy()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  };
  settle();
  Save(&viewer, "event_log_" + lang);
  // By address, newest first within an address, with the debug line.
  host.Ctx().comm.Debug.DbgShow = kFlagOn;
  viewer.HeaderPressed(0);
  settle();
  viewer.HeaderPressed(2);
  settle();
  Save(&viewer, "event_log_by_address_debug_" + lang);
  MessageBox(Tr(txt::EventClearQuestion, language), QMessageBox::Warning,
             QMessageBox::Yes | QMessageBox::No, "event_log_clear_question_" + lang);
  host.Stop();
}

// The data log viewer over a prepared month (three units sampled every minute, one of them on
// battery for a while), its settings dialog and the monthly delete dialog.
void RenderDataLogWindows(int language) {
  const QString lang = language == 1 ? "zh" : "en";
  SilentPrompter prompter;
  QTemporaryDir dir;
  const std::string home = dir.path().toStdString();
  PrepareHome(home, "/dev/null-port", language, 2);
  TDataLog log(home + "/Record");
  for (int minute = 0; minute < 240; ++minute) {
    for (uint8_t addr = 1; addr <= 3; ++addr) {
      const bool onBattery = addr == 2 && minute >= 30 && minute < 75;
      TUpsInfo u = UnitIn(onBattery ? kRunBattery : kRunOnline, addr, std::sin(minute / 9.0));
      if (addr == 3) u.BattCapa = 0, u.BattLivingTime = 0;  // a unit that reports no battery
      TDataRec rec;
      rec.Time = EncodeDateTime(2024, 3, 5, 8, 0, 0) + (minute + addr / 10.0) / 1440.0;
      rec.Address = addr;
      rec.Block = MeasureBlock(u);
      log.Append(rec);
    }
  }
  TDataRec old;
  old.Time = EncodeDateTime(2024, 2, 12, 9, 30, 0);
  old.Address = 1;
  old.Block = MeasureBlock(UnitIn(kRunOnline, 1, 0));
  log.Append(old);

  Host host(MakeProgramPaths(home));
  host.Ctx().settings.Language = static_cast<uint8_t>(language);
  host.Ctx().settings.RecInterval = 600;
  {
    TFrmDataLog viewer(host, prompter);
    viewer.findChild<QSpinBox*>("spedtYearD")->setValue(2024);
    viewer.findChild<QSpinBox*>("spedtMonthD")->setValue(3);
    // The offscreen screen is narrow; open the viewer as wide as it opens on a desktop.
    viewer.resize(viewer.findChild<QTableView*>("grdRecData")->horizontalHeader()->length() + 60,
                  600);
    viewer.show();
    while (viewer.Busy()) QApplication::processEvents(QEventLoop::AllEvents, 20);
    Save(&viewer, "data_log_" + lang);
    viewer.SortByColumn(2);
    while (viewer.Busy()) QApplication::processEvents(QEventLoop::AllEvents, 20);
    Save(&viewer, "data_log_sorted_" + lang);
    // The busy state as a query starts, drawn before the worker can answer.
    viewer.RunQuery();
    viewer.layout()->activate();
    const QString busy = g_out + "/data_log_busy_" + lang + ".png";
    if (viewer.grab().save(busy)) ++g_written;
    while (viewer.Busy()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  TFrmDataLogSet settings(host);
  Save(&settings, "data_log_setting_" + lang);
  host.Ctx().settings.RecInterval = 0;
  TFrmDataLogSet settingsOff(host);
  Save(&settingsOff, "data_log_setting_off_" + lang);
  TFrmDelDataRec months(static_cast<uint8_t>(language), host.Paths().RecordDir, prompter);
  Save(&months, "data_log_delete_" + lang);
  {
    // The monthly delete question: a warning with its own caption, No pre-selected.
    QMessageBox box(QMessageBox::Warning, Tr(txt::DeleteMonthCaption, language),
                    Tr(txt::DeleteMonthConfirm, language), QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    Save(&box, "data_log_delete_question_" + lang);
  }
}

void RenderModeDiagrams();
// The painted widgets on their own, each in several states with its value written under it.
void RenderWidgets() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const auto caption = [](QWidget* parent, double v) {
    auto* l = new QLabel(std::isnan(v) ? QString("NaN") : QString::number(v), parent);
    l->setAlignment(Qt::AlignCenter);
    return l;
  };
  {
    QWidget sheet;
    auto* grid = new QGridLayout(&sheet);
    const std::pair<std::vector<GaugeSection>, std::vector<double>> rows[] = {
        {GaugeSections::Input(), {nan, 0, 110, 150, 230, 290, 1e9}},
        {GaugeSections::Output(), {0, 200, 220, 240, 250, 300}}};
    int row = 0;
    for (const auto& [sections, values] : rows) {
      for (int col = 0; col < static_cast<int>(values.size()); ++col) {
        auto* g = new AngularGauge(&sheet);
        g->SetSections(sections);
        g->SetValue(values[col]);
        grid->addWidget(g, row, col);
        grid->addWidget(caption(&sheet, values[col]), row + 1, col);
      }
      row += 2;
    }
    Save(&sheet, "widgets_gauges");
  }
  {
    QWidget sheet;
    auto* grid = new QGridLayout(&sheet);
    const double values[] = {nan, 0, 3, 50, 100, 101.5, 120, 150};
    for (int col = 0; col < static_cast<int>(std::size(values)); ++col) {
      auto* bar = new LedBar(&sheet);
      bar->setFixedSize(26, 190);
      bar->SetValue(values[col]);
      grid->addWidget(bar, 0, col, Qt::AlignHCenter);
      grid->addWidget(caption(&sheet, values[col]), 1, col);
    }
    Save(&sheet, "widgets_ledbars");
  }
  {
    QWidget sheet;
    auto* grid = new QGridLayout(&sheet);
    struct State {
      bool running, reverse;
      int steps;
      const char* text;
    };
    const State states[] = {{false, false, 0, "off"},  {true, false, 0, "up 0"},
                            {true, false, 5, "up 5"},  {true, false, 10, "up 10"},
                            {true, true, 0, "down 0"}, {true, true, 5, "down 5"}};
    for (int col = 0; col < static_cast<int>(std::size(states)); ++col) {
      const State& st = states[col];
      auto* pipe = new ChargePipe(&sheet);
      pipe->setFixedSize(15, 68);
      pipe->SetFlow(st.running, st.reverse, 100);
      for (int i = 0; i < st.steps; ++i) pipe->Step();
      grid->addWidget(pipe, 0, col, Qt::AlignHCenter);
      auto* l = new QLabel(st.text, &sheet);
      l->setAlignment(Qt::AlignCenter);
      grid->addWidget(l, 1, col);
    }
    Save(&sheet, "widgets_pipe");
  }
}

// The Trace window (English only) with traffic in both memos and values in the grid: once in Auto
// with decimal codes from 0, once in Manual with a typed frame and hexadecimal DbgVar values.
void RenderTrace(const std::string& port) {
  QTemporaryDir dir;
  const std::string home = dir.path().toStdString();
  PrepareHome(home, port, 0, 2);
  Host host(MakeProgramPaths(home));
  TFrmCom trace(host);
  host.Start();
  trace.ShowTrace();
  CommState& c = host.Ctx().comm;
  const uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
  const uint8_t answer[] = {0x01, 0x03, 0x04, 0x08, 0x98, 0x00, 0x32, 0x7B, 0x2E};
  const uint8_t ascii[] = {'~', '2', '0', '0', '1', '4', '6', '0', '0',
                           '0', '0', '0', 'F', 'D', 'B', '7', 13};
  for (int i = 0; i < 6; ++i) {
    trace.ShowTxFrame(request, sizeof request);
    trace.ShowRxFrame(answer, sizeof answer);
  }
  trace.findChild<QCheckBox*>("checkbox1")->setChecked(false);
  trace.ShowRxFrame(ascii, sizeof ascii);
  c.Debug.SendCnt = 1532;
  c.Debug.AckCnt = 1519;
  c.Debug.AckOkCnt = 1497;
  c.Debug.ErrCnt[1] = 12;
  c.Debug.ErrCnt[4] = 3;
  c.PollState.SendCount = 1;
  trace.RefreshDebug();
  Save(&trace, "trace");

  trace.findChild<QRadioButton*>("rbManual")->click();
  trace.findChild<QLineEdit*>("edtTx")->setText("7E 32 30 30 31 34 36 30 30 0D");
  for (int i = 0; i < 20; ++i) c.DbgVar[i] = i * 37 - 100;
  c.DbgVar[11] = 58211;
  trace.findChild<QCheckBox*>("chkHex")->setChecked(true);
  trace.findChild<QSpinBox*>("medtAddr")->setValue(300);
  trace.RefreshDebug();
  Save(&trace, "trace_manual_hex");
  host.Stop();
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tessel");
  g_out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("screenshots");
  QDir().mkpath(g_out);

  // The far end of the line stays open, so the port opens and stays open.
  int master = -1, slave = -1;
  char name[256];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  for (int language : {1, 0}) {
    // Qt's own texts (the message boxes' buttons) in the language, as the main window sets them.
    ApplyQtTranslations(static_cast<uint8_t>(language));
    RenderLanguage(language, name);
    RenderDevicePages(language, name);
    RenderEventLog(language, name);
    RenderDataLogWindows(language);
    RenderSoftwarePara(language, name);
    RenderControlDialogs(language, name);
  }
  RenderTrace(name);
  RenderModeDiagrams();
  RenderWidgets();
  close(slave);
  close(master);
  std::printf("%d pictures in %s\n", g_written, qPrintable(g_out));
  return 0;
}

namespace {

// The seven mode pictures on a few frames each, so the dots can be seen moving and the fault ring
// pulsing: diagram_<mode>_<frame>.png.
void RenderModeDiagrams() {
  const std::pair<DiagramKind, const char*> kinds[] = {
      {DiagramKind::Standby, "standby"}, {DiagramKind::Online, "online"},
      {DiagramKind::Bypass, "bypass"},   {DiagramKind::Battery, "battery"},
      {DiagramKind::Economy, "economy"}, {DiagramKind::Test, "test"},
      {DiagramKind::Fault, "fault"}};
  for (const auto& [kind, name] : kinds) {
    ModeDiagram d(kind);
    const int frames = d.FrameCount();
    const int step = frames > 3 ? frames / 3 : 1;
    for (int f = 0; f < frames; f += step) {
      while (d.Frame() != f) d.Advance();
      Save(&d, QString("diagram_%1_%2").arg(name).arg(f));
    }
  }
}

}  // namespace
