#include "ui/control/password_dialog.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "model/param_items.h"
#include "ui/common/prompter.h"
#include "ui/control/control_texts.h"

namespace tessel {

namespace {
constexpr int kMaxFailures = 3;
}

TfrmPSW::TfrmPSW(std::string& modelCode, uint8_t language, Prompter& prompter, QWidget* parent)
    : QDialog(parent), modelCode_(modelCode), language_(language), prompter_(prompter) {
  setObjectName("TfrmPSW");
  setWindowTitle(Tr(txt::PswCaption, language));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  edtPSW_ = new QLineEdit(this);
  edtPSW_->setObjectName("edtPSW");
  edtPSW_->setMaxLength(kPasswordMaxLength);
  edtPSW_->setAccessibleName(Tr(txt::PswCaption, language));
  btnOK_ = new QPushButton(Tr(txt::PswOk, language), this);
  btnOK_->setObjectName("btnOK");
  btnOK_->setAutoDefault(false);
  auto* cancel = new QPushButton(Tr(txt::PswCancel, language), this);
  cancel->setObjectName("btnCancle");
  cancel->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK_);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(edtPSW_);
  layout->addLayout(buttons);
  setFixedSize(260, 100);

  // Enter in the box only moves to OK, so a code is never sent by a stray keystroke.
  connect(edtPSW_, &QLineEdit::returnPressed, btnOK_, [this] { btnOK_->setFocus(); });
  connect(btnOK_, &QPushButton::clicked, this, &TfrmPSW::OkClick);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TfrmPSW::OkClick() {
  if (EnterModelCode(modelCode_, edtPSW_->text().toStdString())) {
    accept();
    return;
  }
  prompter_.Tell(this, MessageKind::Notice, Tr(txt::PswInvalid, language_));
  if (++FailCount >= kMaxFailures) reject();
}

}  // namespace tessel
