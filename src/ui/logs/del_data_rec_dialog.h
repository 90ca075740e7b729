// The monthly delete dialog: the month files of the record folder ("DataLog2024_03"), and the
// deletion of the chosen one after a confirmation.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class QLabel;
class QListWidget;
class QPushButton;

namespace tessel {

class Prompter;

class TFrmDelDataRec : public QDialog {
 public:
  TFrmDelDataRec(uint8_t language, std::string recordDir, Prompter& prompter,
                 QWidget* parent = nullptr);

  // Files deleted since the dialog opened.
  int Deleted() const { return deleted_; }

 private:
  void DeleteSelected();

  uint8_t language_;
  std::string recordDir_;
  Prompter& prompter_;
  int deleted_ = 0;
  QLabel* label1_;
  QLabel* label2_;
  QListWidget* listBox1_;
  QPushButton* btnDelete_;
};

}  // namespace tessel
