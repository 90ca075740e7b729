// The small progress window of an export: what is being done, a bar, the count of rows written,
// and a Cancel button.
#pragma once

#include <QDialog>
#include <cstddef>
#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tessel {

class TfrmProgress : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmProgress(uint8_t language, QWidget* parent = nullptr);

  // Position is limited to maximum.
  void SetProgress(std::size_t position, std::size_t maximum);

 signals:
  // The operator asked to stop (the Cancel button, Escape or the close box).
  void cancelRequested();

 protected:
  void reject() override;

 private:
  uint8_t language_;
  QLabel* staticText1_ = nullptr;
  QProgressBar* prgBar1_ = nullptr;
  QLabel* stCount_ = nullptr;
  QPushButton* btnCancel_ = nullptr;
};

}  // namespace tessel
