// The settings stored in the selected unit, read once a second from what the Modbus driver polls,
// and the way to change them: "Set" asks for the settings password, then opens the parameter
// setting. The window lives for the whole run; closing it only hides it.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

#include "model/ups_info.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tessel {

class Host;
class Prompter;

// The boxes of the window, in the order of UserSetTexts.
enum UserSetBox {
  kSysID,
  kSetMode,
  kVoltLevel,
  kFreqLevel,
  kParaNum,
  kRedunNum,
  kBpsFreq,
  kBpsVMax,
  kBpsVMin,
  kOutputVFine,
  kBuzzer,
  kOptVolt,
  kBattNum,
  kBattGroup,
  kBattCap,
  kBattBoostV,
  kBattFloat,
  kEodV,
  kMaxChgCurr,
  kBoostLast,
  kBoostChg,
  kPreAlarm,
  kUserSetBoxCount
};

// What each box shows for the unit's settings.
std::array<QString, kUserSetBoxCount> UserSetTexts(const TUpsParams& p, uint8_t language);

class TFrmUserSet : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kTickMs = 1000;

  TFrmUserSet(Host& host, Prompter& prompter, std::function<uint8_t()> selectedAddress,
              QWidget* parent = nullptr);

  // Timer1: follows the selected unit and refreshes the boxes.
  void Tick();
  uint8_t DevAddr = 0;
  QString BoxText(UserSetBox box) const;
  bool TimerRunning() const { return timer_.isActive(); }

  // The two modal steps behind "Set"; tests replace them.
  std::function<bool()> AskPassword;
  std::function<void()> OpenDataSet;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void ApplyTexts();
  void SetClick();

  Host& host_;
  Prompter& prompter_;
  std::function<uint8_t()> selectedAddress_;
  QTimer timer_;
  std::array<QLineEdit*, kUserSetBoxCount> boxes_{};
  std::array<QLabel*, kUserSetBoxCount> labels_{};
  QGroupBox* GroupBox1_ = nullptr;
  QGroupBox* grpOutput_ = nullptr;
  QGroupBox* GroupBox2_ = nullptr;
  QPushButton* btnSet_ = nullptr;
};

}  // namespace tessel
