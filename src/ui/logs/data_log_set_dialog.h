// The data log settings dialog: sampling on or off and the interval in seconds, kept in the
// settings' RecInterval (poll ticks of 100 ms; 0 = off) until the settings file is next written.
#pragma once

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace tessel {

class Host;

class TFrmDataLogSet : public QDialog {
 public:
  explicit TFrmDataLogSet(Host& host, QWidget* parent = nullptr);

 private:
  void Store();

  Host& host_;
  QCheckBox* ckbRecord_;
  QGroupBox* groupBox1_;
  QLabel* lblSpace_;
  QSpinBox* spedtSpace_;
  QLabel* lblUnit_;
  QPushButton* btnOk_;
  QPushButton* btnCancel_;
};

}  // namespace tessel
