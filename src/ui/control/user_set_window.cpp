#include "ui/control/user_set_window.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "host/host.h"
#include "model/param_items.h"
#include "ui/common/prompter.h"
#include "ui/control/control_texts.h"
#include "ui/control/data_set_dialog.h"
#include "ui/control/password_dialog.h"

namespace tessel {

namespace {

struct BoxSpec {
  const char* name;  // the box's object name
  UiText label;
};

const BoxSpec kBoxes[kUserSetBoxCount] = {
    {"edtSysID", txt::UsSysID},           {"edtSetMode", txt::UsSetMode},
    {"edtVoltLevel", txt::UsVoltLevel},   {"edtFreqLevel", txt::UsFreqLevel},
    {"edtParaNum", txt::UsParaNum},       {"edtRedunNum", txt::UsRedunNum},
    {"edtBpsFreq", txt::UsBpsFreq},       {"edtBpsVMax", txt::UsBpsVMax},
    {"edtBpsVMin", txt::UsBpsVMin},       {"edtOutputVFine", txt::UsOutputVFine},
    {"edtBuzzer", txt::UsBuzzer},         {"edtOptVolt", txt::UsOptVolt},
    {"edtBattNum", txt::UsBattNum},       {"edtBattGroup", txt::UsBattGroup},
    {"edtBattCap", txt::UsBattCap},       {"edtBattBoostV", txt::UsBattBoostV},
    {"edtBattFloat", txt::UsBattFloat},   {"edtEodV", txt::UsEodV},
    {"edtMaxChgCurr", txt::UsMaxChgCurr}, {"edtBoostLast", txt::UsBoostLast},
    {"edtBoostChg", txt::UsBoostChg},     {"edtPreAlarm", txt::UsPreAlarm},
};

QString SetModeText(int32_t v) {
  static const char* const kModes[] = {"Normal", "ECO", "Master", "Slave", "Parallel"};
  return v >= 0 && v <= 4 ? kModes[v] : "";
}

QString VoltLevelText(int v) {
  // The level is stored as the phase voltage; the operator knows it by the line voltage.
  switch (v) {
    case 220:
      return "380";
    case 230:
      return "400";
    case 240:
      return "415";
    default:
      return QString::number(v);
  }
}

QString OptModeText(int v, uint8_t language) {
  switch (v) {
    case 0:
      return Tr(txt::OptModeNormal, language);
    case 1:
      return Tr(txt::OptModeSleep, language);
    case 2:
      return Tr(txt::OptModeFreq, language);
    default:
      return QString::number(v);
  }
}

QString Switch(uint16_t status, uint16_t offBit) {
  return (status & offBit) != 0 ? "disable" : "enable";
}

QString Hundredths(int v) {
  return QString::number(v / 100.0, 'f', 2);
}

}  // namespace

std::array<QString, kUserSetBoxCount> UserSetTexts(const TUpsParams& p, uint8_t language) {
  std::array<QString, kUserSetBoxCount> t;
  t[kSysID] = QString::number(p.SysID);
  t[kSetMode] = SetModeText(p.SetMode);
  t[kVoltLevel] = VoltLevelText(p.VoltLevel);
  t[kFreqLevel] = QString::number(p.FreqLevel);
  t[kParaNum] = QString::number(p.ParaNum);
  t[kRedunNum] = QString::number(p.RedunNum);
  t[kBpsFreq] = QString::number(p.BpsFreq) + "%";
  t[kBpsVMax] = QString::number(p.BpsVMax) + "%";
  t[kBpsVMin] = QString::number(p.BpsVMin) + "%";
  t[kOutputVFine] = QString::number(p.OutputVFine / 10.0, 'f', 1) + "%";
  t[kBuzzer] = Switch(p.StatusCtrl, kBuzzerOffBit);
  t[kOptVolt] = OptModeText(p.OptMode, language);
  t[kBattNum] = QString::number(p.BattNum);
  t[kBattGroup] = QString::number(p.BattGroup);
  t[kBattCap] = QString::number(p.BattCap);
  t[kBattBoostV] = Hundredths(p.BattBoostV);
  t[kBattFloat] = Hundredths(p.BattFloat);
  t[kEodV] = Hundredths(p.EodV);
  t[kMaxChgCurr] = QString::number(p.MaxChgCurr);
  t[kBoostLast] = QString::number(p.BoostLast);
  t[kBoostChg] = Switch(p.StatusCtrl, kBoostOffBit);
  t[kPreAlarm] = QString::number(p.PreAlarm);
  return t;
}

TFrmUserSet::TFrmUserSet(Host& host, Prompter& prompter, std::function<uint8_t()> selectedAddress,
                         QWidget* parent)
    : QDialog(parent),
      host_(host),
      prompter_(prompter),
      selectedAddress_(std::move(selectedAddress)) {
  setObjectName("TFrmUserSet");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setModal(false);

  GroupBox1_ = new QGroupBox(this);
  GroupBox1_->setObjectName("GroupBox1");
  grpOutput_ = new QGroupBox(GroupBox1_);
  grpOutput_->setObjectName("grpOutput");
  grpOutput_->setFlat(true);
  grpOutput_->setStyleSheet("QGroupBox#grpOutput { border: none; margin: 0; padding: 0; }");
  GroupBox2_ = new QGroupBox(this);
  GroupBox2_->setObjectName("GroupBox2");
  for (int i = 0; i < kUserSetBoxCount; ++i) {
    QWidget* owner = i == kOptVolt   ? static_cast<QWidget*>(grpOutput_)
                     : i >= kBattNum ? GroupBox2_
                                     : GroupBox1_;
    labels_[i] = new QLabel(owner);
    boxes_[i] = new QLineEdit(owner);
    boxes_[i]->setObjectName(kBoxes[i].name);
    boxes_[i]->setReadOnly(true);
    boxes_[i]->setFixedWidth(130);
    labels_[i]->setBuddy(boxes_[i]);
  }
  labels_[kPreAlarm]->setObjectName("lbPreAlarm");

  auto place = [this](QGridLayout* grid, int row, int box) {
    grid->addWidget(labels_[box], row, 0);
    grid->addWidget(boxes_[box], row, 1);
  };
  auto* output = new QGridLayout(grpOutput_);
  output->setContentsMargins(0, 0, 0, 0);
  place(output, 0, kOptVolt);
  auto* unit = new QGridLayout(GroupBox1_);
  int row = 0;
  for (int box = kSysID; box <= kBuzzer; ++box) place(unit, row++, box);
  unit->addWidget(grpOutput_, row++, 0, 1, 2);
  unit->setRowStretch(row, 1);
  auto* battery = new QGridLayout(GroupBox2_);
  row = 0;
  for (int box = kBattNum; box < kUserSetBoxCount; ++box) place(battery, row++, box);
  // The shutdown pre-alarm is read but not offered.
  labels_[kPreAlarm]->hide();
  boxes_[kPreAlarm]->hide();
  // The boxes only show what the unit holds; read-only rather than disabled, so that they stay
  // legible and a screen reader can still reach them.

  btnSet_ = new QPushButton(this);
  btnSet_->setObjectName("btnSet");
  btnSet_->setAutoDefault(false);
  btnSet_->setEnabled(false);
  auto* columns = new QHBoxLayout;
  columns->addWidget(GroupBox1_, 0, Qt::AlignTop);
  columns->addWidget(GroupBox2_, 0, Qt::AlignTop);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnSet_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  timer_.setObjectName("Timer1");
  timer_.setInterval(kTickMs);
  connect(&timer_, &QTimer::timeout, this, &TFrmUserSet::Tick);
  connect(btnSet_, &QPushButton::clicked, this, &TFrmUserSet::SetClick);

  AskPassword = [this] {
    TfrmPSW psw(host_.Ctx().model.ModelCode, host_.Ctx().settings.Language, prompter_, this);
    return psw.exec() == QDialog::Accepted;
  };
  OpenDataSet = [this] {
    TFrmDataSet dialog(host_, prompter_, selectedAddress_, this);
    dialog.exec();
  };
  ApplyTexts();
}

QString TFrmUserSet::BoxText(UserSetBox box) const {
  return boxes_[box]->text();
}

void TFrmUserSet::ApplyTexts() {
  const uint8_t language = host_.Ctx().settings.Language;
  setWindowTitle(Tr(txt::UserSetCaption, language));
  btnSet_->setText(Tr(txt::UserSetSet, language));
  GroupBox2_->setTitle(Tr(txt::UserSetBattery, language));
  int unitLabels = 0;
  for (int i = 0; i < kUserSetBoxCount; ++i) {
    labels_[i]->setText(Tr(kBoxes[i].label, language));
    boxes_[i]->setAccessibleName(Tr(kBoxes[i].label, language));
    if (i <= kOptVolt) unitLabels = std::max(unitLabels, labels_[i]->sizeHint().width());
  }
  // The operation mode sits in a group of its own; its box lines up with the others.
  for (int i = 0; i <= kOptVolt; ++i) labels_[i]->setFixedWidth(unitLabels);
}

void TFrmUserSet::showEvent(QShowEvent* event) {
  ApplyTexts();
  QDialog::showEvent(event);
  // The first readout comes at once, not a second later.
  Tick();
  timer_.start();
}

void TFrmUserSet::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
    ApplyTexts();
    if (!timer_.isActive()) timer_.start();
  }
  QDialog::changeEvent(event);
}

// Closed, Escape or hidden by the program: no readout while nobody sees it.
void TFrmUserSet::hideEvent(QHideEvent* event) {
  timer_.stop();
  QDialog::hideEvent(event);
}

void TFrmUserSet::Tick() {
  host_.CatchUp();
  Context& ctx = host_.Ctx();
  ctx.comm.DbgVar[3] = kTickMs;
  ++ctx.comm.DbgVar[13];
  DevAddr = selectedAddress_();
  const TUpsInfo& unit = ctx.model.UpsTable[DevAddr];
  if (host_.PortIsOpen() && unit.CommState == kCommOk) {
    const auto texts = UserSetTexts(unit.Params, ctx.settings.Language);
    for (int i = 0; i < kUserSetBoxCount; ++i)
      if (boxes_[i]->text() != texts[i]) boxes_[i]->setText(texts[i]);
    grpOutput_->setVisible(ctx.model.ModelCode == kOptModeModel);
    // The password is asked only from the window the operator is looking at.
    btnSet_->setEnabled(isActiveWindow());
  } else {
    for (QLineEdit* box : boxes_) box->clear();
    btnSet_->setEnabled(false);
  }
}

void TFrmUserSet::SetClick() {
  if (AskPassword()) OpenDataSet();
}

}  // namespace tessel
