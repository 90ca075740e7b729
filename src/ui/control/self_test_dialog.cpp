#include "ui/control/self_test_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "host/host.h"
#include "model/param_items.h"
#include "ui/common/prompter.h"
#include "ui/control/command_report.h"
#include "ui/control/control_texts.h"

namespace tessel {

TFrmTest::TFrmTest(Host& host, Prompter& prompter, std::function<uint8_t()> selectedAddress,
                   QWidget* parent)
    : QDialog(parent),
      host_(host),
      prompter_(prompter),
      selectedAddress_(std::move(selectedAddress)) {
  setObjectName("TFrmTest");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  Label1_ = new QLabel(this);
  Label1_->setObjectName("Label1");
  Edit1_ = new QLineEdit("60", this);
  Edit1_->setObjectName("Edit1");
  Edit1_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), Edit1_));
  Label1_->setBuddy(Edit1_);
  Button1_ = new QPushButton(this);
  Button1_->setObjectName("Button1");
  Button2_ = new QPushButton(this);
  Button2_->setObjectName("Button2");
  for (QPushButton* b : {Button1_, Button2_}) b->setAutoDefault(false);

  auto* layout = new QGridLayout(this);
  layout->addWidget(Label1_, 0, 0);
  layout->addWidget(Edit1_, 0, 1);
  layout->addWidget(Button1_, 1, 0);
  layout->addWidget(Button2_, 1, 1);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(Button1_, &QPushButton::clicked, this, &TFrmTest::StartClick);
  connect(Button2_, &QPushButton::clicked, this, [this] { Send(0); });
  ApplyTexts();
}

void TFrmTest::showEvent(QShowEvent* event) {
  ApplyTexts();
  QDialog::showEvent(event);
}

void TFrmTest::ApplyTexts() {
  const uint8_t language = host_.Ctx().settings.Language;
  setWindowTitle(Tr(txt::TestCaption, language));
  Label1_->setText(Tr(txt::TestTime, language));
  Edit1_->setAccessibleName(Tr(txt::TestTime, language));
  Button1_->setText(Tr(txt::TestStart, language));
  Button2_->setText(Tr(txt::TestCancel, language));
}

void TFrmTest::StartClick() {
  const ItemCheck check = CheckSelfTestTime(Edit1_->text().toStdString());
  if (!check.ok) {
    Edit1_->setFocus();
    prompter_.Tell(this, MessageKind::Warning, QString::fromStdString(check.message));
    return;
  }
  Send(check.value);
}

void TFrmTest::Send(uint16_t seconds) {
  if (!PortIsOnForCommands(host_, prompter_, this)) return;
  host_.CatchUp();
  Context& ctx = host_.Ctx();
  const CmdResult r =
      RequestSelfTest(ctx.cmd, ctx.settings.PortInfo.Protocol, selectedAddress_(), seconds);
  host_.Rearm();
  ReportCommand(r, prompter_, this, ctx.settings.Language);
}

}  // namespace tessel
