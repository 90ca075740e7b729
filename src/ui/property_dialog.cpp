#include "ui/property_dialog.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "model/device_name.h"
#include "ui/device_name_field.h"
#include "ui/prompter.h"
#include "ui/window_texts.h"

namespace tessel {

TFrmProperty::TFrmProperty(uint8_t language, const TEquipRec* entry, Prompter& prompter,
                           QWidget* parent)
    : QDialog(parent), language_(language), prompter_(prompter) {
  setObjectName("TFrmProperty");

  lblName_ = new QLabel(this);
  lblName_->setObjectName("lblName");
  edtName_ = MakeNameEdit(this);
  lblName_->setBuddy(edtName_);

  lblAddr_ = new QLabel(this);
  lblAddr_->setObjectName("lblAddr");
  edtAddr_ = new QLineEdit(this);
  edtAddr_->setObjectName("edtAddr");
  edtAddr_->setEnabled(false);  // a device keeps its address; delete and add it to change that
  lblAddr_->setBuddy(edtAddr_);

  if (entry) {
    edtName_->setText(QString::fromStdString(NameFieldText(entry->Name)));
    edtAddr_->setText(QString::number(entry->Addr));
  }

  btnOk_ = new QPushButton(this);
  btnOk_->setObjectName("btnOk");
  btnOk_->setDefault(true);
  btnCancel_ = new QPushButton(this);
  btnCancel_->setObjectName("btnCancel");

  auto* grid = new QGridLayout(this);
  grid->addWidget(lblName_, 0, 0);
  grid->addWidget(edtName_, 0, 1);
  grid->addWidget(lblAddr_, 1, 0);
  grid->addWidget(edtAddr_, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOk_);
  buttons->addWidget(btnCancel_);
  grid->addLayout(buttons, 2, 0, 1, 2);
  grid->setSizeConstraint(QLayout::SetFixedSize);

  setTabOrder(edtName_, btnOk_);
  setTabOrder(btnOk_, btnCancel_);

  connect(btnOk_, &QPushButton::clicked, this, &TFrmProperty::Confirm);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);

  ApplyTexts();
}

void TFrmProperty::ApplyTexts() {
  setWindowTitle(Tr(txt::PropertyTitle, language_));
  lblName_->setText(Tr(txt::EquipNameLabel, language_));
  lblAddr_->setText(Tr(txt::EquipAddrLabel, language_));
  edtName_->setAccessibleName(FieldName(lblName_->text()));
  edtAddr_->setAccessibleName(FieldName(lblAddr_->text()));
  btnOk_->setText(Tr(txt::OkButton, language_));
  btnCancel_->setText(Tr(txt::CancelButton, language_));
}

void TFrmProperty::Confirm() {
  const std::string name = edtName_->text().toStdString();
  const NameCheckResult check = CheckDeviceName(name);
  const QString refusal = check.Verdict == NameCheck::Empty ? Tr(txt::PropertyNameEmpty, language_)
                                                            : NameRefusal(check, language_);
  if (!refusal.isEmpty()) {
    prompter_.Tell(this, MessageKind::Warning, refusal);
    return;
  }
  resultName_ = MakeNameField(name);
  accept();
}

}  // namespace tessel
