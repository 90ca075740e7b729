#include "ui/device_name_field.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <algorithm>

#include "ui/window_texts.h"

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

QString FieldName(const QString& labelText) {
  QString name = labelText.trimmed();
  while (name.endsWith(':') || name.endsWith(QChar(0xFF1A))) name.chop(1);
  return name.trimmed();
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
