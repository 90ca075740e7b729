// The property dialog of a device: rename it; the address is shown but cannot be changed.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

#include "model/ups_info.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tessel {

class Prompter;

class TFrmProperty : public QDialog {
  Q_OBJECT

 public:
  // `entry` is the device shown; null leaves both fields empty.
  TFrmProperty(uint8_t language, const TEquipRec* entry, Prompter& prompter,
               QWidget* parent = nullptr);

  // The new CR-padded name field once the dialog was accepted; all zero until then and after
  // Cancel.
  std::array<uint8_t, kNameSize> ResultName() const { return resultName_; }

 private:
  void ApplyTexts();
  void Confirm();

  uint8_t language_;
  Prompter& prompter_;
  std::array<uint8_t, kNameSize> resultName_{};
  QLabel* lblName_;
  QLineEdit* edtName_;
  QLabel* lblAddr_;
  QLineEdit* edtAddr_;
  QPushButton* btnOk_;
  QPushButton* btnCancel_;
};

}  // namespace tessel
