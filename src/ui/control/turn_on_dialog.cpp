#include "ui/control/turn_on_dialog.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "host/host.h"
#include "ui/common/prompter.h"
#include "ui/control/command_report.h"
#include "ui/control/control_texts.h"

namespace tessel {

TfrmTrunOn::TfrmTrunOn(Host& host, Prompter& prompter, std::function<uint8_t()> selectedAddress,
                       QWidget* parent)
    : QDialog(parent),
      host_(host),
      prompter_(prompter),
      selectedAddress_(std::move(selectedAddress)) {
  setObjectName("TfrmTrunOn");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  pnl1_ = new QLabel(this);
  pnl1_->setObjectName("pnl1");
  pnl1_->setAlignment(Qt::AlignCenter);
  pnl1_->setFrameShape(QFrame::Panel);
  pnl1_->setFrameShadow(QFrame::Raised);
  pnl1_->setMinimumHeight(36);
  QFont big = pnl1_->font();
  big.setPointSize(big.pointSize() + 3);
  big.setBold(true);
  pnl1_->setFont(big);
  rg1_ = new QGroupBox(this);
  rg1_->setObjectName("rg1");
  on_ = new QRadioButton(rg1_);
  off_ = new QRadioButton(rg1_);
  auto* choices = new QHBoxLayout(rg1_);
  choices->addWidget(on_);
  choices->addWidget(off_);
  btnSure_ = new QPushButton(this);
  btnSure_->setObjectName("btnSure");
  btnSure_->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnSure_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pnl1_);
  layout->addWidget(rg1_);
  layout->addLayout(buttons);
  setFixedSize(300, 170);

  connect(btnSure_, &QPushButton::clicked, this, &TfrmTrunOn::SureClick);
  ApplyTexts();
}

bool TfrmTrunOn::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::WindowActivate:
      ApplyTexts();
      break;
    case QEvent::WindowDeactivate:
      if (!telling_) close();
      break;
    default:
      break;
  }
  return QDialog::event(event);
}

void TfrmTrunOn::ApplyTexts() {
  // This dialog speaks English only when the language is 0.
  const uint8_t language = host_.Ctx().settings.Language == 0 ? 0 : 1;
  setWindowTitle(Tr(txt::TurnOnCaption, language));
  pnl1_->setText(Tr(txt::TurnOnTitle, language));
  rg1_->setAccessibleName(Tr(txt::TurnOnTitle, language));
  on_->setText(Tr(txt::TurnOnOn, language));
  off_->setText(Tr(txt::TurnOnOff, language));
  btnSure_->setText(Tr(txt::TurnOnOk, language));
}

void TfrmTrunOn::SureClick() {
  if (!on_->isChecked() && !off_->isChecked()) return;
  telling_ = true;
  if (PortIsOnForCommands(host_, prompter_, this)) {
    host_.CatchUp();
    Context& ctx = host_.Ctx();
    const uint8_t protocol = ctx.settings.PortInfo.Protocol;
    const uint8_t addr = selectedAddress_();
    const CmdResult r = on_->isChecked() ? RequestSwitchOn(ctx.cmd, protocol, addr)
                                         : RequestSwitchOff(ctx.cmd, protocol, addr);
    host_.Rearm();
    ReportCommand(r, prompter_, this, host_.Ctx().settings.Language == 0 ? 0 : 1);
  }
  telling_ = false;
}

}  // namespace tessel
