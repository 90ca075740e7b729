#include "ui/logs/data_log_set_dialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "host/host.h"
#include "ui/logs/data_log_texts.h"

namespace tessel {

TFrmDataLogSet::TFrmDataLogSet(Host& host, QWidget* parent) : QDialog(parent), host_(host) {
  setObjectName("TFrmDataLogSet");
  const uint8_t language = host.Ctx().settings.Language;

  ckbRecord_ = new QCheckBox(this);
  ckbRecord_->setObjectName("ckbRecord");
  groupBox1_ = new QGroupBox(this);
  groupBox1_->setObjectName("GroupBox1");
  lblSpace_ = new QLabel(groupBox1_);
  lblSpace_->setObjectName("lblSpace");
  spedtSpace_ = new QSpinBox(groupBox1_);
  spedtSpace_->setObjectName("spedtSpace");
  spedtSpace_->setRange(10, 300);
  spedtSpace_->setValue(60);
  lblSpace_->setBuddy(spedtSpace_);
  lblUnit_ = new QLabel(groupBox1_);
  lblUnit_->setObjectName("lblUnit");
  btnOk_ = new QPushButton(this);
  btnOk_->setObjectName("btnOK");
  btnOk_->setDefault(true);
  btnCancel_ = new QPushButton(this);
  btnCancel_->setObjectName("btnCancel");

  auto* group = new QHBoxLayout(groupBox1_);
  group->addWidget(lblSpace_);
  group->addWidget(spedtSpace_);
  group->addWidget(lblUnit_);
  group->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOk_);
  buttons->addWidget(btnCancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ckbRecord_);
  layout->addWidget(groupBox1_);
  layout->addLayout(buttons);

  setWindowTitle(Tr(txt::DataLogSetTitle, language));
  ckbRecord_->setText(Tr(txt::SaveToDataLog, language));
  lblSpace_->setText(Tr(txt::RecordIntervalLabel, language));
  lblUnit_->setText(Tr(txt::SecondsUnit, language));
  spedtSpace_->setAccessibleName(Tr(txt::RecordIntervalLabel, language));
  btnOk_->setText(Tr(txt::OkButton, language));
  btnCancel_->setText(Tr(txt::CancelButton, language));

  // Off shows the longest interval (600 div 10, clamped by the spin box to 300).
  const int32_t interval = host.Ctx().settings.RecInterval;
  ckbRecord_->setChecked(interval != 0);
  spedtSpace_->setValue(interval != 0 ? interval / 10 : 600);
  groupBox1_->setEnabled(interval != 0);
  setMinimumWidth(280);

  connect(ckbRecord_, &QCheckBox::toggled, groupBox1_, &QGroupBox::setEnabled);
  connect(btnOk_, &QPushButton::clicked, this, &TFrmDataLogSet::Store);
  connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmDataLogSet::Store() {
  // The interval decides when the scheduler samples next: let the ticks due so far run under the
  // old one, then wake the scheduler for the new one.
  host_.CatchUp();
  host_.Ctx().settings.RecInterval = ckbRecord_->isChecked() ? spedtSpace_->value() * 10 : 0;
  host_.Ctx().comm.RecDly = 0;  // with sampling on, the next tick samples
  host_.Rearm();
  accept();
}

}  // namespace tessel
