#include "ui/widgets/value_text.h"

#include <QPainter>

namespace tessel {

namespace {

constexpr int kHeight = 22;
constexpr int kPadding = 4;
const QColor kBackground(Qt::black);
const QColor kForeground(0x7C, 0xFC, 0x00);

}  // namespace

ValueText::ValueText(const QString& text, Qt::Alignment alignment, QWidget* parent)
    : QWidget(parent), text_(text), alignment_(alignment) {
  QFont f = font();
  f.setBold(true);
  setFont(f);
  setFixedHeight(kHeight);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  setAttribute(Qt::WA_OpaquePaintEvent);  // it fills its whole box
  setAccessibleDescription(text_);
}

void ValueText::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  setAccessibleDescription(text_);
  update();
}

QSize ValueText::sizeHint() const {
  return {fontMetrics().horizontalAdvance(text_) + 2 * kPadding, kHeight};
}

void ValueText::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), kBackground);
  p.setPen(kForeground);
  p.drawText(rect().adjusted(kPadding, 0, -kPadding, 0), static_cast<int>(alignment_), text_);
}

}  // namespace tessel
