// The add-device dialog: a name and one of the bus addresses not yet in the device list.
#pragma once

#include <QDialog>
#include <cstdint>

#include "model/ups_info.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tessel {

class Prompter;

class TFrmNewEquip : public QDialog {
  Q_OBJECT

 public:
  TFrmNewEquip(uint8_t language, const TEquipList& list, Prompter& prompter,
               QWidget* parent = nullptr);

  // The device to append once the dialog was accepted: address and CR-padded name field.
  // Address 0 (no device) until then, and after Cancel.
  TEquipRec Result() const { return result_; }

 private:
  void ApplyTexts();
  void Append();

  uint8_t language_;
  Prompter& prompter_;
  TEquipRec result_{};
  QLabel* lblName_;
  QLineEdit* edtName_;
  QLabel* lblAddr_;
  QComboBox* cbxAddr_;
  QPushButton* btnAppend_;
  QPushButton* btnCancel_;
};

}  // namespace tessel
