#include "ui/logs/progress_dialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/common/named_label.h"
#include "ui/common/window_texts.h"

namespace tessel {

TfrmProgress::TfrmProgress(uint8_t language, QWidget* parent)
    : QDialog(parent), language_(language) {
  setObjectName("TfrmProgress");
  setWindowTitle("Tessel");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::WindowStaysOnTopHint);
  setFixedWidth(320);
  auto* v = new QVBoxLayout(this);
  staticText1_ = NewLabel(this, "StaticText1", Tr(txt::ExportRunning, language));
  staticText1_->setStyleSheet("color: green; font-weight: bold;");
  v->addWidget(staticText1_);
  prgBar1_ = new QProgressBar(this);
  prgBar1_->setObjectName("PrgBar1");
  prgBar1_->setTextVisible(false);
  prgBar1_->setAccessibleName(Tr(txt::ExportRunning, language));
  v->addWidget(prgBar1_);
  auto* row = new QHBoxLayout;
  btnCancel_ = new QPushButton(Tr(txt::CancelButton, language), this);
  btnCancel_->setObjectName("btnCancel");
  row->addWidget(btnCancel_);
  row->addStretch(1);
  stCount_ = NewLabel(this, "stCount", "0");
  stCount_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  row->addWidget(stCount_);
  v->addLayout(row);
  connect(btnCancel_, &QPushButton::clicked, this, &TfrmProgress::cancelRequested);
}

void TfrmProgress::SetProgress(std::size_t position, std::size_t maximum) {
  position = std::min(position, maximum);
  // The bar counts in thousandths: a grid may hold more rows than an int.
  const int permille = maximum ? static_cast<int>(position * 1000 / maximum) : 0;
  prgBar1_->setRange(0, 1000);
  prgBar1_->setValue(permille);
  staticText1_->setText(Tr(txt::ExportRunning, language_));
  stCount_->setText(QString::number(position));
}

void TfrmProgress::reject() {
  // Closing is a request to stop; the window goes when the export has stopped.
  emit cancelRequested();
}

}  // namespace tessel
