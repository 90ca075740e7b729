// Remote on/off: switches the selected unit on or off. The dialog closes when it loses the focus.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace tessel {

class Host;
class Prompter;

class TfrmTrunOn : public QDialog {
  Q_OBJECT

 public:
  TfrmTrunOn(Host& host, Prompter& prompter, std::function<uint8_t()> selectedAddress,
             QWidget* parent = nullptr);

 protected:
  bool event(QEvent* event) override;

 private:
  void ApplyTexts();
  void SureClick();

  Host& host_;
  Prompter& prompter_;
  std::function<uint8_t()> selectedAddress_;
  QLabel* pnl1_ = nullptr;
  QGroupBox* rg1_ = nullptr;
  QRadioButton* on_ = nullptr;
  QRadioButton* off_ = nullptr;
  QPushButton* btnSure_ = nullptr;
  bool telling_ = false;  // a message box of ours takes the focus; that is no reason to close
};

}  // namespace tessel
