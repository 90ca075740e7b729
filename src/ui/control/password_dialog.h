// The settings password: one of the accepted model codes opens the parameter setting, and the
// code typed becomes the model code of the run. Three wrong codes in one opening close it.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class QLineEdit;
class QPushButton;

namespace tessel {

class Prompter;

class TfrmPSW : public QDialog {
  Q_OBJECT

 public:
  // modelCode is the run's model code; it changes only when an accepted code is typed.
  TfrmPSW(std::string& modelCode, uint8_t language, Prompter& prompter, QWidget* parent = nullptr);

  int FailCount = 0;

 private:
  void OkClick();

  std::string& modelCode_;
  uint8_t language_;
  Prompter& prompter_;
  QLineEdit* edtPSW_ = nullptr;
  QPushButton* btnOK_ = nullptr;
};

}  // namespace tessel
