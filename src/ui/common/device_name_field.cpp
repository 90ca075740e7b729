#include "ui/common/device_name_field.h"

#include <QDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "ui/common/window_texts.h"

namespace tessel {

QLineEdit* MakeNameEdit(QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName("edtName");
  // Room for a full field, 20 Chinese or 40 Latin characters, plus the frame, whatever the font.
  const QFontMetrics fm = edit->fontMetrics();
  const int text = std::max(fm.horizontalAdvance(QString(20, QChar(0x4E2D))),
                            fm.horizontalAdvance(QString(40, QChar('n'))));
  edit->setMinimumWidth(text + 16);
  return edit;
}

void LayOutNameDialog(QDialog* dialog, QLabel* nameLabel, QLineEdit* name, QLabel* addrLabel,
                      QWidget* addr, QPushButton* accept, QPushButton* cancel) {
  nameLabel->setBuddy(name);
  addrLabel->setBuddy(addr);
  accept->setDefault(true);
  auto* grid = new QGridLayout(dialog);
  grid->addWidget(nameLabel, 0, 0);
  grid->addWidget(name, 0, 1);
  grid->addWidget(addrLabel, 1, 0);
  grid->addWidget(addr, 1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(accept);
  buttons->addWidget(cancel);
  grid->addLayout(buttons, 2, 0, 1, 2);
  grid->setSizeConstraint(QLayout::SetFixedSize);
  QWidget::setTabOrder(name, addr);
  QWidget::setTabOrder(addr, accept);
  QWidget::setTabOrder(accept, cancel);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

void LabelField(QLabel* label, QWidget* field, const QString& text) {
  label->setText(text);
  QString name = text.trimmed();
  while (name.endsWith(':') || name.endsWith(QChar(0xFF1A))) name.chop(1);
  field->setAccessibleName(name.trimmed());
}

QString NameRefusal(const NameCheckResult& check, uint8_t language) {
  switch (check.Verdict) {
    case NameCheck::TooLong:
      return Tr(txt::EquipNameTooLong, language);
    case NameCheck::NotGbk:
      return Tr(txt::EquipNameNotGbk, language).arg(QString::fromStdString(check.Unstorable));
    case NameCheck::Ok:
    case NameCheck::Empty:
      break;
  }
  return {};
}

}  // namespace tessel
