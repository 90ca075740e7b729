#include "ui/main/property_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "model/device_name.h"
#include "ui/common/device_name_field.h"
#include "ui/common/prompter.h"
#include "ui/common/window_texts.h"

namespace tessel {

TFrmProperty::TFrmProperty(uint8_t language, const TEquipRec* entry, Prompter& prompter,
                           QWidget* parent)
    : QDialog(parent), language_(language), prompter_(prompter) {
  setObjectName("TFrmProperty");

  lblName_ = new QLabel(this);
  lblName_->setObjectName("lblName");
  edtName_ = MakeNameEdit(this);

  lblAddr_ = new QLabel(this);
  lblAddr_->setObjectName("lblAddr");
  edtAddr_ = new QLineEdit(this);
  edtAddr_->setObjectName("edtAddr");
  edtAddr_->setEnabled(false);  // a device keeps its address; delete and add it to change that

  if (entry) {
    edtName_->setText(QString::fromStdString(NameFieldText(entry->Name)));
    edtAddr_->setText(QString::number(entry->Addr));
  }

  btnOk_ = new QPushButton(this);
  btnOk_->setObjectName("btnOk");
  btnCancel_ = new QPushButton(this);
  btnCancel_->setObjectName("btnCancel");

  LayOutNameDialog(this, lblName_, edtName_, lblAddr_, edtAddr_, btnOk_, btnCancel_);
  connect(btnOk_, &QPushButton::clicked, this, &TFrmProperty::Confirm);

  ApplyTexts();
}

void TFrmProperty::ApplyTexts() {
  setWindowTitle(Tr(txt::PropertyTitle, language_));
  LabelField(lblName_, edtName_, Tr(txt::EquipNameLabel, language_));
  LabelField(lblAddr_, edtAddr_, Tr(txt::EquipAddrLabel, language_));
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
