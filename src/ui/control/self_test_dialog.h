// Battery self-test: starts a test of the typed length in seconds on the selected unit, or cancels
// a running one.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tessel {

class Host;
class Prompter;

class TFrmTest : public QDialog {
  Q_OBJECT

 public:
  TFrmTest(Host& host, Prompter& prompter, std::function<uint8_t()> selectedAddress,
           QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ApplyTexts();
  void StartClick();
  void Send(uint16_t seconds);

  Host& host_;
  Prompter& prompter_;
  std::function<uint8_t()> selectedAddress_;
  QLabel* Label1_ = nullptr;
  QLineEdit* Edit1_ = nullptr;
  QPushButton* Button1_ = nullptr;
  QPushButton* Button2_ = nullptr;
};

}  // namespace tessel
