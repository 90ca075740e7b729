// Parameter setting: the operator picks one setting of the selected unit, sees the unit's value,
// sets a new one, and "Set" queues exactly that value as a register write, or says why not.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace tessel {

class Host;
class Prompter;

class TFrmDataSet : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kListAreaHeight = 70;
  static constexpr int kSwitchAreaHeight = 180;

  TFrmDataSet(Host& host, Prompter& prompter, std::function<uint8_t()> selectedAddress,
              QWidget* parent = nullptr);

  int SelItem = -1;  // the item last clicked, -1 none

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ApplyTexts();
  void ShowItem();
  void SetToClick();

  Host& host_;
  Prompter& prompter_;
  std::function<uint8_t()> selectedAddress_;
  QLabel* lblName_ = nullptr;
  QListWidget* ListBox1_ = nullptr;
  QGroupBox* grpSetting_ = nullptr;
  QLabel* lb_Value_ = nullptr;
  QLineEdit* Edit1_ = nullptr;
  QComboBox* ComboBox1_ = nullptr;
  QGroupBox* RadioGroup4_ = nullptr;
  QGroupBox* RadioGroup5_ = nullptr;
  QRadioButton* buzzer_[2] = {};  // Enable, Disable
  QRadioButton* boost_[2] = {};
  QPushButton* btnSetTo_ = nullptr;
};

}  // namespace tessel
