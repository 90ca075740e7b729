#include "ui/main/device_page.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QTime>
#include <QVBoxLayout>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

#include "model/texts.h"
#include "protocol/func_unit.h"
#include "ui/common/named_label.h"
#include "ui/common/window_texts.h"
#include "ui/widgets/angular_gauge.h"
#include "ui/widgets/charge_pipe.h"
#include "ui/widgets/led_bar.h"
#include "ui/widgets/mode_diagram.h"
#include "ui/widgets/value_text.h"

namespace tessel {

namespace {

constexpr int kCommEventError = 19;  // CommEventText: "Communication Error"
constexpr int kCommEventLost = 18;   // CommEventText: "Communication lost"
constexpr int kCodeWideWidth = 222;  // the code group with the system words
constexpr int kCodeNarrowWidth = 170;
constexpr uint16_t kBatteryBlockedMask = 0x6000;  // CmmAlarm2: the battery path is cut off
constexpr uint16_t kChargingBit = 0x0100;         // CmmState1: the battery is being charged
// A chart point beyond this is off the axis anyway; keeps the series' arithmetic finite.
constexpr double kChartLimit = 1e6;
constexpr int kTimeLabelEvery = 20;
constexpr int kFaultDiagram = 6;
constexpr int kBarWidth = 26;    // the load bars
constexpr int kBarHeight = 190;  // points between two time labels on a chart's x axis

const char* kDiagramNames[DevicePage::kDiagrams] = {
    "GIFStandbyMode", "GIFOnlineMode", "GIFBypassMode", "GIFBattMode",
    "GIFEconomyMode", "GIFTestMode",   "GIFFaltMode"};

// A value text: bold light green on black.
ValueText* ValueLabel(QWidget* parent, const QString& name, const QString& initial,
                      Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter) {
  auto* v = new ValueText(initial, align, parent);
  v->setObjectName(name);
  return v;
}

void SetText(QLabel* label, const QString& text) {
  if (label->text() != text) label->setText(text);
}

void SetText(ValueText* value, const QString& text) {
  value->setText(text);
}

QString Hex4(uint16_t w) {
  return QString::fromStdString(WordToHex4(w));
}

QChartView* TrendChart(QWidget* parent, const char* name) {
  auto* chart = new QChart;
  // The x axis counts points; a time label marks every 20th point as it arrives.
  auto* x = new QCategoryAxis;
  x->setRange(0, DevicePage::kChartPoints - 1);
  x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  x->setTitleText("Time");
  auto* y = new QValueAxis;
  y->setRange(180, 300);
  y->setTitleText("V");
  y->setLabelFormat("%d");
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  const std::pair<const char*, QColor> series[] = {
      {"A", Qt::red}, {"B", QColor(0, 160, 0)}, {"C", Qt::blue}};
  for (const auto& [title, colour] : series) {
    auto* s = new QLineSeries;
    s->setName(title);
    s->setColor(colour);
    chart->addSeries(s);
    s->attachAxis(x);
    s->attachAxis(y);
  }
  chart->legend()->setAlignment(Qt::AlignRight);
  chart->setMargins(QMargins(2, 2, 2, 2));
  chart->setAnimationOptions(QChart::NoAnimation);
  auto* view = new QChartView(chart, parent);
  view->setObjectName(name);
  view->setRenderHint(QPainter::Antialiasing);
  return view;
}

QLineSeries* Series(QChartView* chart, int i) {
  return static_cast<QLineSeries*>(chart->chart()->series().at(i));
}

}  // namespace

// ---- what the controls show --------------------------------------------------------------------

bool DeviceHasAlarm(const TUpsInfo& u) {
  return u.AlarmCount > 0 || u.RunState == kRunMaintBypass;
}

NodeLook LookOfNode(const TUpsInfo& u, bool portOpen, uint8_t language) {
  NodeLook look;
  if (!portOpen) {
    look.image = kImageQuiet;
    look.state = StateText(kStateLost, language);
    return look;
  }
  switch (u.CommState) {
    case kCommOk:
      look.image = DeviceHasAlarm(u) ? kImageTrouble : kImageOk;
      if (u.RunState >= 0) look.state = StateText(u.RunState, language);
      break;
    case kCommError:
      look.image = kImageTrouble;
      look.state = CommEventText(kCommEventError, language);
      break;
    case kCommLost:
      look.image = kImageQuiet;
      look.state = CommEventText(kCommEventLost, language);
      break;
    default:
      look.changes = false;
  }
  return look;
}

int DiagramOfState(int32_t runState) {
  switch (runState) {
    case kRunUnknown:
      return -1;
    case kRunBypass:
      return 2;
    case kRunOnline:
      return 1;
    case kRunBattery:
      return 3;
    case kRunSelfTest:
      return 5;
    case kRunEco:
      return 4;
    case kRunFault:
      return 6;
    default:
      return 0;
  }
}

ChargeFlow ChargeFlowOf(const TUpsInfo& u, uint8_t protocol, bool keepReverse) {
  ChargeFlow f;
  if (u.CommState != kCommOk || (protocol != 0 && protocol != 2 && protocol != 3)) return f;
  f.visible = true;
  if ((u.CmmAlarm2 & kBatteryBlockedMask) != 0 || u.RunState == kRunEpo ||
      u.RunState == kRunFault) {
    f.reverse = keepReverse;
    return f;
  }
  // The current is limited in floating point before it is cut to a whole number, so a wild value
  // from the line cannot overflow the conversion; anything not above zero (NaN too) stands still.
  const auto whole = [](double current, double limit) {
    return static_cast<int>(std::trunc(std::min(current, limit)));
  };
  if ((u.CmmState1 & kChargingBit) != 0) {
    f.reverse = true;
    if (u.BattCurr2 > 0) {
      f.running = true;
      f.intervalMs = 500 - 22 * whole(u.BattCurr2, 20);
    }
  } else if (u.BattCurr1 > 0) {
    f.running = true;
    f.intervalMs = 500 - 4 * whole(u.BattCurr1, 120);
  }
  return f;
}

QString FixedText(double v, int decimals) {
  if (!std::isfinite(v)) return "--";
  // A small negative reading rounds to zero, not to "-0".
  const double scale = std::pow(10.0, decimals);
  if (std::round(v * scale) == 0) v = 0;
  return QString::number(v, 'f', decimals);
}

QString WordPair(uint16_t a, uint16_t b) {
  return Hex4(a) + "-" + Hex4(b);
}

QString InputSupplyText(uint8_t code, uint8_t language) {
  switch (code) {
    case 0:
      return Tr(txt::SupplyNone, language);
    case 1:
      return Tr(txt::InputSupplyMains, language);
    case 2:
      return Tr(txt::InputSupplyBattery, language);
    default:
      return {};
  }
}

QString UpsSupplyText(uint8_t code, bool ecoMode, uint8_t language) {
  switch (code) {
    case 0:
      return Tr(txt::SupplyNone, language);
    case 1:
      return Tr(txt::UpsSupplyInverter, language);
    case 2:
      return Tr(ecoMode ? txt::UpsSupplyEco : txt::UpsSupplyBypass, language);
    default:
      return {};
  }
}

// ---- building ----------------------------------------------------------------------------------

DevicePage::DevicePage() {
  realTime_ = BuildRealTimePage();
  trend_ = BuildTrendPage();
}

QWidget* DevicePage::BuildRealTimePage() {
  auto* page = new QWidget;
  page->setObjectName("TabSheet1");
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(4);
  innerPages_ = new QTabWidget(page);
  innerPages_->setObjectName("PageControl2");
  innerPages_->addTab(BuildDataTab(), QString());
  innerPages_->addTab(BuildSketchTab(), QString());
  // Opaque pages: a value that changes repaints its own spot of the page, not the tab frame
  // behind it (which the raster engine draws with helper threads, waking them every refresh).
  // They are filled with the colour the style gives the frame's inside, read off a small drawing
  // of that frame.
  QImage frame(24, 24, QImage::Format_ARGB32);
  frame.fill(Qt::transparent);
  {
    QPainter p(&frame);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(innerPages_);
    option.rect = frame.rect();
    innerPages_->style()->drawPrimitive(QStyle::PE_FrameTabWidget, &option, &p, innerPages_);
  }
  const QColor inside = frame.pixelColor(12, 12);
  for (int i = 0; i < innerPages_->count(); ++i) {
    QWidget* tab = innerPages_->widget(i);
    if (inside.alpha() != 255) break;  // a style with a see-through frame: leave them as they are
    QPalette palette = tab->palette();
    palette.setColor(QPalette::Window, inside);
    tab->setPalette(palette);
    tab->setAutoFillBackground(true);
  }
  v->addWidget(innerPages_, 1);
  v->addWidget(BuildSwitchAndAlarm());
  return page;
}

QWidget* DevicePage::BuildDataTab() {
  auto* tab = new QWidget;
  tab->setObjectName("tabData");
  auto* grid = new QGridLayout(tab);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(2);
  const char* phases[] = {"A", "B", "C"};
  for (int i = 0; i < 3; ++i) {
    const QString p = phases[i];
    grid->addWidget(NewLabel(tab, "lblInputV_" + p), 0, i, Qt::AlignHCenter);
    inputGauges_[i] = new AngularGauge(tab);
    inputGauges_[i]->setObjectName("iAGInPutV_" + p);
    inputGauges_[i]->SetSections(GaugeSections::Input());
    grid->addWidget(inputGauges_[i], 1, i, Qt::AlignHCenter);
    stInputV_[i] = ValueLabel(tab, "stInputV_" + p, "0.0 V");
    grid->addWidget(stInputV_[i], 2, i);
    grid->addWidget(NewLabel(tab, "lblOutputV_" + p), 3, i, Qt::AlignHCenter);
    outputGauges_[i] = new AngularGauge(tab);
    outputGauges_[i]->setObjectName("iAGOutPutV_" + p);
    outputGauges_[i]->SetSections(GaugeSections::Output());
    grid->addWidget(outputGauges_[i], 4, i, Qt::AlignHCenter);
    stOutputV_[i] = ValueLabel(tab, "stOutputV_" + p, "0.0 V");
    grid->addWidget(stOutputV_[i], 5, i);
  }

  // Load panel: three LED bars with the 150 % and 100 % marks.
  auto* load = new QFrame(tab);
  load->setObjectName("pnlLoad");
  load->setFrameShape(QFrame::StyledPanel);
  auto* lg = new QGridLayout(load);
  lg->setContentsMargins(4, 2, 4, 2);
  lg->setVerticalSpacing(1);
  lg->addWidget(NewLabel(load, "lblLoadTitle"), 0, 0, 1, 4, Qt::AlignHCenter);
  // The marks are placed by hand beside the first bar: "100%" level with its 100 % line.
  auto* marks = new QWidget(load);
  marks->setFixedSize(34, kBarHeight);
  NewLabel(marks, "lblMark150", "150%");  // level with the top of the bars
  QLabel* mark100 = NewLabel(marks, "lblMark100", "100%");
  mark100->setStyleSheet("color: red;");
  lg->addWidget(marks, 1, 0, Qt::AlignTop);
  for (int i = 0; i < 3; ++i) {
    const QString p = phases[i];
    loadBars_[i] = new LedBar(load);
    loadBars_[i]->setObjectName("iLedBar" + p);
    loadBars_[i]->setFixedSize(kBarWidth, kBarHeight);
    lg->addWidget(loadBars_[i], 1, i + 1, Qt::AlignHCenter | Qt::AlignTop);
    lg->addWidget(NewLabel(load, "lblLoad_" + p), 2, i + 1, Qt::AlignHCenter);
    stLoadPer_[i] = ValueLabel(load, "stLoadPer_" + p, "0 %", Qt::AlignCenter);
    lg->addWidget(stLoadPer_[i], 3, i + 1);
  }
  grid->addWidget(load, 0, 3, 6, 1);
  mark100->move(0, loadBars_[0]->MarkY() - mark100->sizeHint().height() / 2);

  // The four value panels: caption above, value with its unit at the right.
  auto* panels = new QHBoxLayout;
  panels->setSpacing(6);
  struct Panel {
    const char* panel;
    const char* caption;
    const char* value;
    const char* unit;
    ValueText** label;
    QWidget** keep;
  };
  const Panel list[] = {
      {"pnlDCInputV", "lblDCInputV", "stDCInputV", "V", &stDCInputV_, nullptr},
      {"pnlOutputFreq", "lblOutputFreq", "stOutputFreq", "Hz", &stOutputFreq_, nullptr},
      {"pnlBattLivingTime", "lblBattLivingTime", "stBattLivingTime", "Minute", &stBattLivingTime_,
       &pnlBattLivingTime_},
      {"pnlBattCapa", "lblBattCapa", "stBattCapa", "%", &stBattCapa_, &pnlBattCapa_},
  };
  for (const Panel& p : list) {
    auto* f = new QFrame(tab);
    f->setObjectName(p.panel);
    f->setFrameShape(QFrame::StyledPanel);
    auto* pv = new QGridLayout(f);
    pv->setContentsMargins(4, 2, 4, 2);
    pv->setVerticalSpacing(1);
    pv->addWidget(NewLabel(f, p.caption), 0, 0, 1, 2, Qt::AlignHCenter);
    *p.label = ValueLabel(f, p.value, "0");
    pv->addWidget(*p.label, 1, 0);
    pv->addWidget(NewLabel(f, QString(p.value) + "Unit", p.unit), 1, 1);
    pv->setColumnStretch(0, 1);
    if (p.keep) *p.keep = f;
    panels->addWidget(f, 1);
  }
  grid->addLayout(panels, 6, 0, 1, 4);
  grid->setRowStretch(7, 1);
  return tab;
}

QWidget* DevicePage::BuildSketchTab() {
  auto* tab = new QWidget;
  tab->setObjectName("tabSketch");
  auto* v = new QVBoxLayout(tab);
  v->setContentsMargins(4, 2, 4, 2);
  v->setSpacing(2);
  stComStatus_ = NewLabel(tab, "stComStatus");
  QFont f = stComStatus_->font();
  f.setPointSizeF(f.pointSizeF() * 1.4);
  f.setBold(true);
  stComStatus_->setFont(f);
  stComStatus_->setAlignment(Qt::AlignCenter);
  v->addWidget(stComStatus_);

  auto* picture = new QWidget(tab);
  picture->setObjectName("pnlPicture");
  picture->setFixedSize(diagram::kWidth + 3, diagram::kHeight + 3);
  for (int i = 0; i < kDiagrams; ++i) {
    diagrams_[i] = new ModeDiagram(static_cast<DiagramKind>(i), picture);
    diagrams_[i]->setObjectName(kDiagramNames[i]);
    diagrams_[i]->move(1, 1);
    diagrams_[i]->setVisible(i == 0);
  }
  // The pipe lies over the battery's line of the pictures.
  pipe_ = new ChargePipe(picture);
  pipe_->setObjectName("PipCharge");
  pipe_->setGeometry(diagram::ChargePipeRect().toRect().translated(1, 1));
  pipe_->hide();
  v->addWidget(picture, 0, Qt::AlignHCenter);

  grpCode_ = new QGroupBox(tab);
  grpCode_->setObjectName("grpCode");
  grpCode_->setFixedWidth(kCodeWideWidth);
  auto* g = new QGridLayout(grpCode_);
  g->setContentsMargins(4, 2, 4, 2);
  g->setHorizontalSpacing(8);
  g->setVerticalSpacing(0);
  lblCMMState_ = NewLabel(grpCode_, "lblCMMState");
  lblINVState_ = NewLabel(grpCode_, "lblINVState");
  lblCMMAlarm_ = NewLabel(grpCode_, "lblCMMAlarm");
  lblINVAlarm_ = NewLabel(grpCode_, "lblINVAlarm");
  lbSysState_ = NewLabel(grpCode_, "lbSysState");
  lbSysAlarm_ = NewLabel(grpCode_, "lbSysAlarm");
  lblUpsState_ = NewLabel(grpCode_, "lblUpsState");
  g->addWidget(lblCMMState_, 0, 0);
  g->addWidget(lblINVState_, 0, 1);
  g->addWidget(lbSysState_, 0, 2);
  g->addWidget(lblCMMAlarm_, 1, 0);
  g->addWidget(lblINVAlarm_, 1, 1);
  g->addWidget(lbSysAlarm_, 1, 2);
  g->addWidget(lblUpsState_, 0, 3, 2, 1);
  v->addWidget(grpCode_, 0, Qt::AlignHCenter);
  return tab;
}

QWidget* DevicePage::BuildSwitchAndAlarm() {
  auto* row = new QWidget;
  row->setFixedHeight(118);
  auto* h = new QHBoxLayout(row);
  h->setContentsMargins(0, 0, 0, 0);
  auto* sw = new QGroupBox(row);
  sw->setObjectName("grpSwitch");
  auto* g = new QGridLayout(sw);
  g->setContentsMargins(6, 4, 6, 4);
  // The switch rows exist for the switch states but are never shown.
  for (int i = 1; i <= 4; ++i) {
    const int r = i - 1;
    g->addWidget(NewLabel(sw, QString("Label%1").arg(i)), r, 0);
    g->addWidget(NewLabel(sw, QString("Label%1").arg(i + 6), "/"), r, 1);
    g->addWidget(NewLabel(sw, QString("stOn%1").arg(i), "ON"), r, 2);
    g->addWidget(NewLabel(sw, QString("stOff%1").arg(i), "OFF"), r, 3);
  }
  for (const char* hidden : {"Label1", "Label7", "stOn1", "stOff1"})
    sw->findChild<QWidget*>(hidden)->hide();
  g->addWidget(NewLabel(sw, "lblInputPowerSupply"), 4, 0, 1, 2);
  stInputPowerSupply_ = ValueLabel(sw, "stInputPowerSupply", {}, Qt::AlignCenter);
  g->addWidget(stInputPowerSupply_, 4, 2, 1, 2);
  g->addWidget(NewLabel(sw, "lblUpsPowerSupply"), 5, 0, 1, 2);
  stUpsPowerSupply_ = ValueLabel(sw, "stUpsPowerSupply", {}, Qt::AlignCenter);
  g->addWidget(stUpsPowerSupply_, 5, 2, 1, 2);
  g->setColumnStretch(2, 1);
  h->addWidget(sw, 1);

  auto* alarm = new QGroupBox(row);
  alarm->setObjectName("grpAlarm");
  auto* av = new QVBoxLayout(alarm);
  av->setContentsMargins(4, 2, 4, 4);
  memoAlarm_ = new QPlainTextEdit(alarm);
  memoAlarm_->setObjectName("MemoAlarm");
  memoAlarm_->setReadOnly(true);
  memoAlarm_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memoAlarm_->setStyleSheet("color: red;");
  av->addWidget(memoAlarm_);
  h->addWidget(alarm, 1);
  return row;
}

QWidget* DevicePage::BuildTrendPage() {
  auto* page = new QWidget;
  page->setObjectName("TabSheet2");
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(0, 0, 0, 0);
  chart1_ = TrendChart(page, "Chart1");
  chart2_ = TrendChart(page, "Chart2");
  v->addWidget(chart1_);
  v->addWidget(chart2_);
  return page;
}

void DevicePage::HideSwitchRows() {
  for (const char* name : {"Label2", "Label3", "Label4", "Label8", "Label9", "Label10", "stOn2",
                           "stOff2", "stOn3", "stOff3", "stOn4", "stOff4"})
    realTime_->findChild<QWidget*>(name)->hide();
  pnlBattLivingTime_->hide();
}

void DevicePage::ApplyProtocolLayout(uint8_t protocol) {
  const bool threePhase = protocol == 1;
  pnlBattCapa_->setVisible(!threePhase);
  pnlBattLivingTime_->setVisible(true);
  innerPages_->tabBar()->setVisible(!threePhase);
  innerPages_->setTabEnabled(1, !threePhase);
  if (threePhase) innerPages_->setCurrentIndex(0);
}

// ---- the refresh -------------------------------------------------------------------------------

void DevicePage::Show(const TUpsInfo& u, uint8_t protocol, uint8_t language) {
  // The charts follow one device: a different selection starts them afresh.
  if (chartAddr_ != u.Addr) {
    ClearChart(chart1_);
    ClearChart(chart2_);
    chartAddr_ = u.Addr;
  }
  ShowInputValues(u);
  ShowOutputValues(u);
  ShowStates(u, protocol, language);
  ShowAlarms(u, language);
  ShowChargeFlow(u, protocol);
}

void DevicePage::ShowInputValues(const TUpsInfo& u) {
  const std::array<double, 3> v = {u.InputV_A, u.InputV_B, u.InputV_C};
  for (int i = 0; i < 3; ++i) {
    inputGauges_[i]->SetValue(v[i]);
    SetText(stInputV_[i], FixedText(v[i], 1) + " V");
  }
  SetText(stOutputFreq_, FixedText(u.OutputFreq, 1));
  AppendPoints(chart1_, v);
}

void DevicePage::ShowOutputValues(const TUpsInfo& u) {
  const std::array<double, 3> v = {u.OutputV_A, u.OutputV_B, u.OutputV_C};
  const std::array<double, 3> load = {u.LoadPer_A, u.LoadPer_B, u.LoadPer_C};
  for (int i = 0; i < 3; ++i) {
    outputGauges_[i]->SetValue(v[i]);
    loadBars_[i]->SetValue(load[i]);
    SetText(stOutputV_[i], FixedText(v[i], 1) + " V");
    SetText(stLoadPer_[i], FixedText(load[i], 0) + " %");
  }
  SetText(stDCInputV_, FixedText(u.DCInputV, 1));
  SetText(stBattLivingTime_, QString::number(u.BattLivingTime));
  SetText(stBattCapa_, QString::number(u.BattCapa));
  AppendPoints(chart2_, v);
}

void DevicePage::ShowStates(const TUpsInfo& u, uint8_t protocol, uint8_t language) {
  ShowModeDiagram(u.RunState);
  const int stateIndex = u.RunState == kRunUnknown ? kStateLost : u.RunState;
  SetText(stComStatus_, QString::fromStdString(StateText(stateIndex, language)));

  const QString input = InputSupplyText(u.InputSupply, language);
  if (!input.isEmpty()) SetText(stInputPowerSupply_, input);
  const QString ups = UpsSupplyText(u.UpsSupply, u.Params.SetMode == 1, language);
  if (!ups.isEmpty()) SetText(stUpsPowerSupply_, ups);

  SetText(lblCMMState_, WordPair(u.CmmState1, u.CmmState2));
  SetText(lblINVState_, WordPair(u.InvState1, u.InvState2));
  SetText(lblCMMAlarm_, WordPair(u.CmmAlarm1, u.CmmAlarm2));
  SetText(lblINVAlarm_, WordPair(u.InvAlarm1, u.InvAlarm2));
  SetText(lblUpsState_, QString("%1(%2)").arg(u.UpsState).arg(u.RunState));
  const bool system = protocol == 0 || protocol == 2;
  grpCode_->setFixedWidth(system ? kCodeWideWidth : kCodeNarrowWidth);
  SetText(lbSysState_, system ? Hex4(u.SysState) : QString());
  SetText(lbSysAlarm_, system ? Hex4(u.SysAlarm) : QString());
}

void DevicePage::ShowModeDiagram(int32_t runState) {
  const int wanted = DiagramOfState(runState);
  if (wanted < 0) {
    HideModeDiagrams();
    return;
  }
  // Only a change of picture touches them, so an animation runs its cycle through.
  if (!diagrams_[wanted]->isHidden()) return;
  HideModeDiagrams();
  diagrams_[wanted]->show();
  // The fault marker sits where the pipe starts; a stopped pipe shows nothing it would hide.
  if (wanted == kFaultDiagram)
    diagrams_[wanted]->raise();
  else
    pipe_->raise();
}

void DevicePage::HideModeDiagrams() {
  for (ModeDiagram* d : diagrams_)
    if (!d->isHidden()) d->hide();
}

int DevicePage::ShownDiagram() const {
  for (int i = 0; i < kDiagrams; ++i)
    if (!diagrams_[i]->isHidden()) return i;
  return -1;
}

void DevicePage::ShowAlarms(const TUpsInfo& u, uint8_t language) {
  QStringList lines;
  const int count = std::min<int>(u.AlarmCount, kMaxAlarms);
  for (int i = 0; i < count; ++i) {
    const std::string text = AlarmText(u.AlarmCodes[i], language);
    if (!text.empty()) lines << QString::fromStdString(text);
  }
  // Rewriting the same list would throw away where the operator has scrolled to.
  const QString text = lines.join('\n');
  if (memoAlarm_->toPlainText() != text) memoAlarm_->setPlainText(text);
}

void DevicePage::ShowChargeFlow(const TUpsInfo& u, uint8_t protocol) {
  const ChargeFlow f = ChargeFlowOf(u, protocol, pipe_->IsReverse());
  pipe_->SetFlow(f.running, f.reverse, f.intervalMs);
  if (pipe_->isHidden() == f.visible) pipe_->setVisible(f.visible);
}

void DevicePage::AppendPoints(QChartView* chart, std::array<double, 3> values) {
  QLineSeries* first = Series(chart, 0);
  const int x = first->count();
  for (int i = 0; i < 3; ++i) {
    const double y = std::isnan(values[i]) ? 0.0 : std::clamp(values[i], -kChartLimit, kChartLimit);
    Series(chart, i)->append(x, y);
  }
  if ((x + 1) % kChartPoints == 0) {
    ClearChart(chart);
    return;
  }
  if (x % kTimeLabelEvery == 0) {
    auto* axis = static_cast<QCategoryAxis*>(chart->chart()->axes(Qt::Horizontal).at(0));
    axis->append(Now().toString("hh:mm:ss"), x);
  }
}

void DevicePage::ClearChart(QChartView* chart) {
  for (int i = 0; i < 3; ++i) Series(chart, i)->clear();
  auto* axis = static_cast<QCategoryAxis*>(chart->chart()->axes(Qt::Horizontal).at(0));
  for (const QString& label : axis->categoriesLabels()) axis->remove(label);
}

int DevicePage::ChartPointCount(int chart) const {
  return Series(chart == 1 ? chart1_ : chart2_, 0)->count();
}

}  // namespace tessel
