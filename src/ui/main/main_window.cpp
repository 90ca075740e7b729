#include "ui/main/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTime>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <climits>

#include "app/settings_file.h"
#include "host/host.h"
#include "ui/common/named_label.h"
#include "ui/common/prompter.h"
#include "ui/common/qt_translations.h"
#include "ui/common/window_texts.h"
#include "ui/main/about_dialog.h"
#include "ui/main/device_page.h"
#include "ui/main/device_tree.h"
#include "ui/main/new_equip_dialog.h"
#include "ui/main/property_dialog.h"
#include "ui/main/write_outcome.h"
#include "ui/widgets/round_lamp.h"

namespace tessel {

namespace {

constexpr int kLeftColumnWidth = 180;
constexpr int kStatusWidths[4] = {180, 272, 232, 174};
constexpr uint8_t kChinese = 1;

}  // namespace

TFrmMain::TFrmMain(Host& host, Prompter& prompter, QWidget* parent)
    : QMainWindow(parent), host_(host), prompter_(prompter) {
  setObjectName("TFrmMain");
  setFixedSize(863, 596);
  setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);

  BuildMenus();
  BuildToolBar();
  auto* central = new QWidget(this);
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(2, 2, 2, 2);
  row->setSpacing(4);
  row->addWidget(BuildLeftColumn());
  pages_ = new QStackedWidget(central);
  pages_->setObjectName("PageControl1");
  page_ = std::make_unique<DevicePage>();
  pages_->addWidget(page_->RealTimePage());
  pages_->addWidget(page_->TrendPage());
  row->addWidget(pages_, 1);
  setCentralWidget(central);
  BuildStatusBar();

  tree_ = std::make_unique<DeviceTree>(treeView_, host_.Ctx().model.EquipList,
                                       host_.Paths().TreeFile, host_.Paths().BackupDir, prompter_);
  connect(tree_.get(), &DeviceTree::pageWanted, this, &TFrmMain::ShowPage);

  // The window is built with the Chinese texts; start-up applies the language of the settings.
  ApplyTexts(kChinese);
  page_->HideSwitchRows();
  ShowDebugInfo();
  ShowPortStatus();

  displayTimer_.setSingleShot(true);
  displayTimer_.setTimerType(Qt::PreciseTimer);  // a coarse one may fire early, before its tick
  connect(&displayTimer_, &QTimer::timeout, this, [this] {
    CatchUpDisplay();
    ArmDisplay();
  });
  // A frame sent or received lights a lamp: step at once and keep stepping while it is lit.
  connect(&host_, &Host::lineActivity, this, [this] {
    CatchUpDisplay();
    ArmDisplay();
  });

  connect(&host_, &Host::settingsRead, this, &TFrmMain::OnSettingsRead);
  connect(&host_, &Host::deviceListLoaded, this, &TFrmMain::OnDeviceListLoaded);
  connect(&host_, &Host::portOpenTried, this, &TFrmMain::OnPortOpenTried);
  connect(&host_, &Host::portStateChanged, this, [this] { ShowPortStatus(); });
}

TFrmMain::~TFrmMain() = default;

void TFrmMain::SetSeams(WindowSeams seams) {
  seams_ = std::move(seams);
  const std::pair<const char*, bool> wired[] = {
      {"mni101", bool(seams_.UserSet)},
      {"mni102", bool(seams_.SoftwareParameters)},
      {"ToolButton1", bool(seams_.SoftwareParameters)},
      {"mni201", bool(seams_.EventLog)},
      {"ToolButton4", bool(seams_.EventLog)},
      {"mni202", bool(seams_.DataLog)},
      {"ToolButton5", bool(seams_.DataLog)},
      {"mni203", bool(seams_.LogSetting)},
      {"ToolButton8", bool(seams_.LogSetting)},
      {"mni301", bool(seams_.BatteryTest)},
      {"mniTurnOn", bool(seams_.TurnOnOff)},
      {"btnSearch", bool(seams_.Search)},
  };
  for (const auto& [name, on] : wired) {
    if (auto* a = findChild<QAction*>(name)) a->setEnabled(on);
    if (auto* w = findChild<QWidget*>(name)) w->setEnabled(on);
  }
}

// ---- layout ----------------------------------------------------------------------------------

void TFrmMain::BuildMenus() {
  auto action = [this](QMenu* menu, const char* name, auto slot) {
    auto* a = menu->addAction(QString());
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  auto menu = [this](const char* name) {
    auto* m = menuBar()->addMenu(QString());
    m->setObjectName(name);
    m->menuAction()->setObjectName(QString(name) + "Action");
    return m;
  };
  QMenu* system = menu("mni100");
  mni101_ = action(system, "mni101", &TFrmMain::UserSetClick);
  action(system, "mni102", [this] { Open(seams_.SoftwareParameters); });
  system->addSeparator();
  action(system, "mni103", [this] { close(); });
  QMenu* log = menu("mni200");
  action(log, "mni201", [this] { Open(seams_.EventLog); });
  action(log, "mni202", [this] { Open(seams_.DataLog); });
  action(log, "mni203", [this] { Open(seams_.LogSetting); });
  mni300_ = menu("mni300");
  mni301_ = action(mni300_, "mni301", [this] { Open(seams_.BatteryTest); });
  mniTurnOn_ = action(mni300_, "mniTurnOn", [this] { Open(seams_.TurnOnOff); });
  QMenu* language = menu("mni400");
  language->setTitle("Language");  // the same in both languages
  action(language, "mni401", [this] { SetLanguage(kChinese); });
  action(language, "mni402", [this] { SetLanguage(0); });
  QMenu* help = menu("mni500");
  action(help, "mni501", &TFrmMain::AboutClick);
}

void TFrmMain::BuildToolBar() {
  auto* bar = addToolBar("ToolBar1");
  bar->setObjectName("ToolBar1");
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setIconSize(QSize(22, 22));
  QStyle* st = style();
  struct Button {
    int number;
    QIcon icon;
    QString text;
    std::function<void()> click;
  };
  const Button buttons[] = {
      {1,
       st->standardIcon(QStyle::SP_ComputerIcon),
       {},
       [this] { Open(seams_.SoftwareParameters); }},
      {2, {}, QString::fromUtf8("中"), [this] { SetLanguage(kChinese); }},
      {3, {}, "EN", [this] { SetLanguage(0); }},
      {4,
       st->standardIcon(QStyle::SP_FileDialogContentsView),
       {},
       [this] { Open(seams_.EventLog); }},
      {5,
       st->standardIcon(QStyle::SP_FileDialogDetailedView),
       {},
       [this] { Open(seams_.DataLog); }},
      {8, st->standardIcon(QStyle::SP_FileDialogInfoView), {}, [this] { Open(seams_.LogSetting); }},
      {6, st->standardIcon(QStyle::SP_MessageBoxQuestion), {}, [this] { AboutClick(); }},
      {7, st->standardIcon(QStyle::SP_DialogCloseButton), {}, [this] { close(); }},
  };
  for (const Button& b : buttons) {
    auto* tb = new QToolButton(bar);
    tb->setObjectName(QString("ToolButton%1").arg(b.number));
    tb->setIcon(b.icon);
    if (!b.text.isEmpty()) tb->setText(b.text);
    tb->setAutoRaise(true);
    connect(tb, &QToolButton::clicked, this, b.click);
    QAction* placed = bar->addWidget(tb);
    // The language buttons exist but are not shown; the Language menu serves instead.
    if (b.number == 2 || b.number == 3) placed->setVisible(false);
  }
  bar->addSeparator();
  lblProtocol_ = NewLabel(bar, "lblProtocol", "0");
  lblProtocol_->setMinimumWidth(16);
  lblProtocol_->setAlignment(Qt::AlignCenter);
  bar->addWidget(lblProtocol_);
  lblDevID_ = NewLabel(bar, "lblDevID");
  // A tool bar shows and hides its widgets through their actions; hiding the label itself would
  // make the bar lay itself out again on every step.
  lblDevIDAction_ = bar->addWidget(lblDevID_);
  auto* spacer = new QWidget(bar);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  bar->addWidget(spacer);
  iLedTx_ = new RoundLamp(QColor(40, 220, 40), bar);
  iLedTx_->setObjectName("iLedTx");
  iLedRx_ = new RoundLamp(QColor(250, 220, 0), bar);  // receive lamp lights yellow
  iLedRx_->setObjectName("iLedRx");
  bar->addWidget(iLedTx_);
  bar->addWidget(iLedRx_);
  btnCom_ = new QPushButton(bar);
  btnCom_->setObjectName("btnCom");
  btnCom_->setMinimumWidth(90);
  connect(btnCom_, &QPushButton::clicked, this, &TFrmMain::ComButtonClick);
  bar->addWidget(btnCom_);
}

QWidget* TFrmMain::BuildLeftColumn() {
  auto* column = new QWidget(this);
  column->setObjectName("pnlLeft");
  column->setFixedWidth(kLeftColumnWidth);
  auto* v = new QVBoxLayout(column);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(3);
  auto* buttons = new QGridLayout;
  buttons->setSpacing(3);
  const std::pair<const char*, void (TFrmMain::*)()> sides[] = {
      {"btnSearch", nullptr},
      {"btnNew", &TFrmMain::NewClick},
      {"btnDelete", &TFrmMain::DeleteClick},
      {"btnProperty", &TFrmMain::PropertyClick}};
  for (int i = 0; i < 4; ++i) {
    auto* b = new QPushButton(column);
    b->setObjectName(sides[i].first);
    if (sides[i].second)
      connect(b, &QPushButton::clicked, this, sides[i].second);
    else
      connect(b, &QPushButton::clicked, this, [this] { Open(seams_.Search); });
    buttons->addWidget(b, i / 2, i % 2);
  }
  v->addLayout(buttons);
  treeView_ = new QTreeWidget(column);
  treeView_->setObjectName("TreeView1");
  treeView_->setHeaderHidden(true);
  treeView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  treeView_->setIconSize(QSize(16, 16));
  treeView_->setUniformRowHeights(true);  // a refresh rewrites up to 252 captions
  treeView_->setStyleSheet("QTreeWidget { color: teal; }");
  v->addWidget(treeView_, 1);
  const std::pair<QLineEdit**, const char*> edits[] = {
      {&edtTreeData_, "edtTreeData"}, {&edtArrEq_, "edtArrEq"}, {&edtNode_, "edtNode"}};
  for (const auto& [edit, name] : edits) {
    *edit = new QLineEdit(column);
    (*edit)->setObjectName(name);
    (*edit)->setReadOnly(true);
    (*edit)->setAccessibleName(name);
    v->addWidget(*edit);
  }
  return column;
}

void TFrmMain::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setSizeGripEnabled(false);
  for (int i = 0; i < 4; ++i) {
    auto* l = NewLabel(bar, QString("StatusPanel%1").arg(i + 1));
    l->setFixedWidth(kStatusWidths[i] - 4);
    statusPanels_[i] = l;
    bar->addWidget(l);
  }
}

// ---- start-up ----------------------------------------------------------------------------------

void TFrmMain::OnSettingsRead() {
  ApplyLanguage();
  ApplyProtocolLayout();
}

void TFrmMain::OnDeviceListLoaded() {
  tree_->FSelDevAddr = 0;
  tree_->FSelDevIdx = 0;
  tree_->NoteLoad(host_.ListLoad(), host_.Ctx().settings.Language);
  tree_->RebuildTree();
  statusPanels_[2]->setText(Tr(txt::VersionPrefix, 0) + TESSEL_VERSION);
  pages_->setCurrentIndex(0);
  page_->InnerPages()->setCurrentIndex(0);
  displayRunning_ = true;
  UpdateDisplayTimer();
}

void TFrmMain::OnPortOpenTried(const QString& error) {
  ShowPortStatus();
  if (error.isEmpty()) return;
  const QString text = QString::fromStdString(PortOpenErrorText(host_.Ctx().settings.Language));
  prompter_.Tell(this, MessageKind::Error, error == text ? text : text + "\n\n" + error);
  Open(seams_.SoftwareParameters);
}

// The second status-bar panel tells what became of the last write; a refused or unanswered one is
// red and, when it is news, rings the bell.
void TFrmMain::ShowWriteOutcome(bool announce) {
  const Context& ctx = host_.Ctx();
  shownWriteSeq_ = ctx.cmd.LastWrite.Seq;
  const WriteOutcomeLine line = DescribeWrite(ctx.cmd.LastWrite, ctx.settings.Language);
  QLabel* panel = statusPanels_[1];
  panel->setText(panel->fontMetrics().elidedText(line.text, Qt::ElideRight, panel->width()));
  panel->setToolTip(line.detail);
  panel->setStyleSheet(line.bad ? "color: #c00000;" : "");
  if (announce && line.bad) QApplication::beep();
}

void TFrmMain::BringToFront() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

// ---- language and layout -----------------------------------------------------------------------

void TFrmMain::ApplyLanguage() {
  // Qt's own texts too: the message boxes' buttons (the exit question's Yes and No) and the file
  // dialogs.
  ApplyQtTranslations(host_.Ctx().settings.Language);
  ApplyTexts(host_.Ctx().settings.Language);
}

void TFrmMain::ApplyTexts(uint8_t language) {
  tree_->SetSubNodeCaptions(language);
  ShowWriteOutcome(false);
  for (const ControlText& c : kMainWindowTexts) {
    const QString text = Tr(c.text, language);
    QObject* o = objectName() == c.object ? this : findChild<QObject*>(c.object);
    if (!o) continue;
    switch (c.slot) {
      case TextSlot::Text:
        if (o == this)
          setWindowTitle(text);
        else if (auto* a = qobject_cast<QAction*>(o))
          a->setText(text);
        else if (auto* m = qobject_cast<QMenu*>(o))
          m->setTitle(text);
        else if (auto* b = qobject_cast<QAbstractButton*>(o))
          b->setText(text);
        else if (auto* l = qobject_cast<QLabel*>(o))
          l->setText(text);
        else if (auto* g = qobject_cast<QGroupBox*>(o))
          g->setTitle(text);
        else if (auto* ch = qobject_cast<QChartView*>(o))
          ch->chart()->setTitle(text);
        break;
      case TextSlot::ToolTip:
        if (auto* a = qobject_cast<QAction*>(o))
          a->setToolTip(text);
        else if (auto* w = qobject_cast<QWidget*>(o))
          w->setToolTip(text);
        break;
      case TextSlot::Tab:
        if (auto* w = qobject_cast<QWidget*>(o))
          page_->InnerPages()->setTabText(page_->InnerPages()->indexOf(w), text);
        break;
      case TextSlot::Name:
        if (auto* w = qobject_cast<QWidget*>(o)) w->setAccessibleName(text);
        break;
    }
  }
  menuBar()->update();
}

void TFrmMain::ApplyProtocolLayout() {
  const uint8_t protocol = host_.Ctx().settings.PortInfo.Protocol;
  if (protocol > 3) return;
  lblProtocol_->setText(QString::number(protocol));
  page_->ApplyProtocolLayout(protocol);
}

void TFrmMain::SetLanguage(uint8_t language) {
  host_.Ctx().settings.Language = language;
  ApplyLanguage();
}

// ---- display timer -----------------------------------------------------------------------------

void TFrmMain::AdvanceTicks(int n) {
  CommState& comm = host_.Ctx().comm;
  for (int i = 0; i < n; ++i) {
    comm.DbgVar[0] = kTickMs;
    Bump(comm.DbgVar[10]);
    if (FTickCount < kTicksPerStep - 1) {
      ++FTickCount;
      continue;
    }
    FTickCount = 0;
    FastStep();
  }
}

void TFrmMain::FastStep() {
  ShowDebugInfo();
  ShowPortStatus();

  CommState& comm = host_.Ctx().comm;
  iLedTx_->SetLit(comm.TxLed > 0);
  if (comm.TxLed > 0) --comm.TxLed;
  iLedRx_->SetLit(comm.RxLed > 0);
  if (comm.RxLed > 0) --comm.RxLed;

  const uint8_t protocol = host_.Ctx().settings.PortInfo.Protocol;
  const bool modbus = protocol == 2 || protocol == 3;
  mni101_->setVisible(modbus);
  mni300_->menuAction()->setVisible(modbus);
  mni301_->setVisible(modbus);
  mniTurnOn_->setVisible(modbus);

  if (FSlowCount < kStepsPerRefresh - 1) {
    ++FSlowCount;
    return;
  }
  FSlowCount = 0;
  Bump(comm.DbgVar[16]);
  statusPanels_[3]->setText(QTime::currentTime().toString("hh:mm:ss"));
  RefreshDisplay();
}

void TFrmMain::ShowPortStatus() {
  const Settings& s = host_.Ctx().settings;
  const bool open = host_.PortIsOpen();
  const QString status =
      open ? QString::fromStdString(PortStatusText(s)) : Tr(txt::PortClosedStatus, s.Language);
  // A device path can be longer than the panel: elide its middle, the whole text in the hint.
  QLabel* panel = statusPanels_[0];
  panel->setText(panel->fontMetrics().elidedText(status, Qt::ElideMiddle, panel->width()));
  panel->setToolTip(status);
  btnCom_->setText(Tr(open ? txt::PortCloseCaption : txt::PortOpenCaption, s.Language));
}

void TFrmMain::ShowDebugInfo() {
  const Context& ctx = host_.Ctx();
  const bool show = ctx.comm.Debug.DbgShow != 0;
  lblDevIDAction_->setVisible(show);
  for (QWidget* w :
       {static_cast<QWidget*>(edtTreeData_), static_cast<QWidget*>(edtArrEq_),
        static_cast<QWidget*>(edtNode_), static_cast<QWidget*>(page_->UpsStateLabel())})
    w->setVisible(show);
  if (!show) return;
  const ProtocolDriver* driver = host_.Core().Master().DriverFor(ctx.settings.PortInfo.Protocol);
  const int cur = driver ? driver->TargetAddr : 0;
  const TUpsInfo& c = ctx.model.UpsTable[static_cast<size_t>(std::clamp(cur, 0, kMaxAddr))];
  const TUpsInfo& d = ctx.model.UpsTable[tree_->FSelDevAddr];
  lblDevID_->setText(QString("Cur[%1]:%2  Dev[%3]:%4%;R:%5; %6:%7/%8")
                         .arg(cur)
                         .arg(c.PollCnt)
                         .arg(tree_->FSelDevAddr)
                         .arg(d.OkRate)
                         .arg(d.FailCnt)
                         .arg(d.RecvCnt)
                         .arg(d.OkCnt)
                         .arg(d.PollCnt));
}

void TFrmMain::RefreshDisplay() {
  // Ticks the poll timer skipped while idle can still change a device's state: run them first.
  host_.CatchUp();
  Context& ctx = host_.Ctx();
  const TEquipList& list = ctx.model.EquipList;
  int selPos = 0;
  for (int k = 1; k <= list.Count; ++k) {
    UpdateDeviceNode(k);
    if (list.Items[k].Addr == tree_->FSelDevAddr) selPos = k;
  }
  page_->Show(ctx.model.UpsTable[tree_->FSelDevAddr], ctx.settings.PortInfo.Protocol,
              ctx.settings.Language);
  if (ctx.cmd.LastWrite.Seq != shownWriteSeq_) ShowWriteOutcome(true);
  if (!ctx.comm.Debug.DbgShow) return;

  // With no listed device selected there is no entry to describe: only the position is shown.
  QString treeData = QString("Items:%1").arg(selPos);
  if (selPos > 0) {
    const TEquipRec& e = list.Items[selPos];
    treeData += QString(" Name:%1 Addr:%2 Node:%3")
                    .arg(QString::fromStdString(NameFieldText(e.Name)), -40)
                    .arg(e.Addr)
                    .arg(e.NodeIndex);
  }
  edtTreeData_->setText(treeData);
  edtTreeData_->setCursorPosition(0);
  const QTreeWidgetItem* sel = treeView_->currentItem();
  edtArrEq_->setText(
      QString("Select:%1 Addr:%2")
          .arg(tree_->FSelDevAddr)
          .arg(ctx.model.UpsTable[tree_->FSelDevAddr].Addr) +
      (sel ? QString(" SelNode:%1").arg(tree_->AbsoluteIndex(sel)) : QString(" SelNode: -1")));
  edtNode_->setText(
      QString("FidxSelNode=%1FSelDevAddr=%2").arg(tree_->FidxSelNode).arg(tree_->FSelDevAddr));
  edtArrEq_->setCursorPosition(0);
  edtNode_->setCursorPosition(0);
}

void TFrmMain::UpdateDeviceNode(int k) {
  Context& ctx = host_.Ctx();
  const TEquipList& list = ctx.model.EquipList;
  if (k < 1 || k > list.Count || list.Items[k].Addr == 0) return;
  // The host has cleared the live values of a lost unit and of every unit when the port closed;
  // the window only shows.
  const TUpsInfo& u = ctx.model.UpsTable[list.Items[k].Addr];
  const NodeLook look = LookOfNode(u, host_.PortIsOpen(), ctx.settings.Language);
  if (!look.changes) return;
  tree_->ShowDeviceState(k, look.image, QString::fromStdString(look.state));
}

void TFrmMain::UpdateDisplayTimer() {
  // Nothing on screen to keep up to date while the window is hidden or minimised; the time it was
  // away is not counted in ticks.
  const bool wanted = displayRunning_ && isVisible() && !isMinimized();
  if (!wanted) {
    displayTimer_.stop();
    displayClock_.invalidate();
    return;
  }
  if (!displayClock_.isValid()) {
    displayClock_.start();
    displayTicks_ = 0;
  }
  ArmDisplay();
}

void TFrmMain::CatchUpDisplay() {
  if (!displayClock_.isValid()) return;
  const int64_t due = displayClock_.elapsed() / kTickMs;
  if (due > displayTicks_) AdvanceTicks(static_cast<int>(due - displayTicks_));
  displayTicks_ = std::max(displayTicks_, due);
}

// Fast steps from now until a lamp goes on or off: each step lights it while its count is above
// zero and then counts down.
static int StepsUntilLampChanges(bool lit, uint8_t count) {
  if (lit != (count > 0)) return 1;
  return lit ? count + 1 : INT_MAX;
}

void TFrmMain::ArmDisplay() {
  if (!displayClock_.isValid()) return;
  // The timer wakes for the fast step at which something shown changes (a lamp goes on or off,
  // the protocol's menu items, the debug texts on every step), else for the next refresh; the
  // ticks in between run when it wakes.
  const CommState& c = host_.Ctx().comm;
  const uint8_t protocol = host_.Ctx().settings.PortInfo.Protocol;
  const bool modbus = protocol == 2 || protocol == 3;
  int steps = std::min(StepsUntilLampChanges(iLedTx_->IsLit(), c.TxLed),
                       StepsUntilLampChanges(iLedRx_->IsLit(), c.RxLed));
  if (c.Debug.DbgShow != 0 || mni101_->isVisible() != modbus) steps = 1;
  const int toRefresh = kStepsPerRefresh - FSlowCount;  // the refresh is a fast step too
  steps = std::min(steps, toRefresh);
  const int64_t at = displayTicks_ + (kTicksPerStep - FTickCount) + (steps - 1) * kTicksPerStep;
  // Rounded up: a wake-up a fraction early would find nothing due and need another.
  const int64_t waitNs = at * kTickMs * 1'000'000 - displayClock_.nsecsElapsed();
  displayTimer_.start(
      static_cast<int>(std::clamp<int64_t>((waitNs + 999'999) / 1'000'000, 0, kTickMs * 1000)));
}

void TFrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  UpdateDisplayTimer();
}

void TFrmMain::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  UpdateDisplayTimer();
}

void TFrmMain::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) UpdateDisplayTimer();
}

void TFrmMain::ShowPage(int page) {
  // Show the page afresh even when it is already the current one.
  pages_->setCurrentIndex(page == 0 ? 1 : 0);
  pages_->setCurrentIndex(page);
}

uint8_t TFrmMain::GetSelDevAddr() const {
  return tree_->FSelDevAddr;
}

// ---- actions -----------------------------------------------------------------------------------

void TFrmMain::Open(const std::function<void()>& opener) {
  if (opener) opener();
}

void TFrmMain::ComButtonClick() {
  // Decide by the port itself, not by the caption (the caption may be in another language).
  if (host_.PortIsOpen()) {
    host_.ClosePort();
  } else {
    // The settings file is read again; language and layout follow it, so the window never shows
    // two languages at once. The ticks due so far still run with the settings they were due under.
    host_.CatchUp();
    ReadUserParaIni(host_.Paths().SettingsFile, host_.Ctx().settings);
    ApplyLanguage();
    ApplyProtocolLayout();
    const std::string error = host_.OpenPort();
    if (!error.empty()) prompter_.Tell(this, MessageKind::Error, QString::fromStdString(error));
  }
  ShowPortStatus();
}

void TFrmMain::UserSetClick() {
  const Context& ctx = host_.Ctx();
  if (ctx.model.UpsTable[tree_->FSelDevAddr].CommState != kCommOk) {
    prompter_.Tell(this, MessageKind::Notice,
                   Tr(txt::DeviceNotCommunicating, ctx.settings.Language));
    return;
  }
  Open(seams_.UserSet);
}

void TFrmMain::NewClick() {
  TFrmNewEquip dialog(host_.Ctx().settings.Language, host_.Ctx().model.EquipList, prompter_, this);
  if (dialog.exec() == QDialog::Accepted) tree_->AddDevice(dialog.Result());
}

void TFrmMain::DeleteClick() {
  if (treeView_->currentItem()) tree_->DeleteSelectedDevice();
}

void TFrmMain::PropertyClick() {
  const QTreeWidgetItem* sel = treeView_->currentItem();
  if (!sel) return;
  const int key = tree_->AbsoluteIndex(sel->parent() ? sel->parent() : sel);
  TFrmProperty dialog(host_.Ctx().settings.Language, tree_->EntryOfNode(key), prompter_, this);
  if (dialog.exec() == QDialog::Accepted) tree_->RenameDevice(key, dialog.ResultName());
}

void TFrmMain::AboutClick() {
  TFrmAbout about(host_.Ctx().settings.Language, TESSEL_VERSION, seams_.Trace, this);
  about.exec();
}

// ---- exit
// ----------------------------------------------------------------------------------------

void TFrmMain::closeEvent(QCloseEvent* event) {
  if (!host_.Started() || host_.Stopped()) {
    event->accept();
    return;
  }
  Context& ctx = host_.Ctx();
  if (!prompter_.Ask(this, Tr(txt::ExitQuestion, ctx.settings.Language))) {
    event->ignore();
    return;
  }
  displayRunning_ = false;
  UpdateDisplayTimer();
  try {
    WriteUserParaIni(host_.Paths().SettingsFile, ctx.settings);
  } catch (const SettingsWriteError& e) {
    // The program stays open and keeps showing what it polls.
    prompter_.Tell(this, MessageKind::Error, QString::fromStdString(e.what()));
    displayRunning_ = true;
    UpdateDisplayTimer();
    event->ignore();
    return;
  }
  host_.Stop();  // the program-stop event, then the port is closed
  event->accept();
}

}  // namespace tessel
