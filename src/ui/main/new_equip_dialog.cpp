#include "ui/main/new_equip_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "model/device_name.h"
#include "ui/common/device_name_field.h"
#include "ui/common/prompter.h"
#include "ui/common/window_texts.h"

namespace tessel {

TFrmNewEquip::TFrmNewEquip(uint8_t language, const TEquipList& list, Prompter& prompter,
                           QWidget* parent)
    : QDialog(parent), language_(language), prompter_(prompter) {
  setObjectName("TFrmNewEquip");

  lblName_ = new QLabel(this);
  lblName_->setObjectName("lblName");
  edtName_ = MakeNameEdit(this);

  lblAddr_ = new QLabel(this);
  lblAddr_->setObjectName("lblAddr");
  cbxAddr_ = new QComboBox(this);
  cbxAddr_->setObjectName("cbxAddr");
  cbxAddr_->setEditable(false);
  // Only the addresses still free, ascending; the operator must pick one.
  for (int addr = 1; addr <= kMaxAddr; ++addr)
    if (FindDevice(list, static_cast<uint8_t>(addr)) == 0)
      cbxAddr_->addItem(QString::number(addr), addr);
  cbxAddr_->setCurrentIndex(-1);

  btnAppend_ = new QPushButton(this);
  btnAppend_->setObjectName("btnAppend");
  btnCancel_ = new QPushButton(this);
  btnCancel_->setObjectName("btnCancel");

  LayOutNameDialog(this, lblName_, edtName_, lblAddr_, cbxAddr_, btnAppend_, btnCancel_);
  connect(btnAppend_, &QPushButton::clicked, this, &TFrmNewEquip::Append);

  ApplyTexts();
}

void TFrmNewEquip::ApplyTexts() {
  setWindowTitle(Tr(txt::NewEquipTitle, language_));
  LabelField(lblName_, edtName_, Tr(txt::EquipNameLabel, language_));
  LabelField(lblAddr_, cbxAddr_, Tr(txt::EquipAddrLabel, language_));
  btnAppend_->setText(Tr(txt::AppendButton, language_));
  btnCancel_->setText(Tr(txt::CancelButton, language_));
}

void TFrmNewEquip::Append() {
  const std::string name = edtName_->text().toStdString();
  const NameCheckResult check = CheckDeviceName(name);
  QString refusal;
  if (check.Verdict == NameCheck::Empty)
    refusal = Tr(txt::NewEquipNameEmpty, language_);
  else if (cbxAddr_->currentIndex() < 0)
    refusal = Tr(txt::EquipAddrEmpty, language_);
  else
    refusal = NameRefusal(check, language_);
  if (!refusal.isEmpty()) {
    prompter_.Tell(this, MessageKind::Warning, refusal);
    return;
  }
  result_.NodeIndex = 0;
  result_.Addr = static_cast<uint8_t>(cbxAddr_->currentData().toInt());
  result_.Name = MakeNameField(name);
  accept();
}

}  // namespace tessel
