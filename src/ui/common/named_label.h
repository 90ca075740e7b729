// A label carrying its control name, as every control of the windows does.
#pragma once

#include <QLabel>
#include <QString>

namespace tessel {

inline QLabel* NewLabel(QWidget* parent, const QString& name, const QString& text = {}) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  return l;
}

}  // namespace tessel
