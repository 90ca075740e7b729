#include "ui/widgets/led_bar.h"

#include <QPainter>
#include <cmath>

#include "ui/widgets/widget_geometry.h"

namespace tessel {

LedBar::LedBar(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  resize(sizeHint());
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void LedBar::SetValue(double value) {
  const double v = ClampToScale(value, kMinimum, kMaximum);
  if (v == value_) return;  // no repaint when nothing changes
  const int before = Lit();
  value_ = v;
  if (Lit() != before) update();  // most load changes move no segment
}

int LedBar::Segments() const {
  return LedSegmentCount(height());
}
int LedBar::Lit() const {
  return LitSegments(value_, kMinimum, kMaximum, Segments());
}
int LedBar::FirstWarning() const {
  return FirstWarningSegment(kMark, kMinimum, kMaximum, Segments());
}

int LedBar::MarkY() const {
  return static_cast<int>(std::lround(LedSegmentRect(FirstWarning(), size()).bottom()));
}

void LedBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(20, 22, 20));
  p.setPen(QColor(90, 95, 90));
  p.drawRect(rect().adjusted(0, 0, -1, -1));

  const QColor green(110, 235, 110), greenOff(28, 62, 30);
  const QColor warn(240, 80, 30), warnOff(78, 34, 24);
  const int segments = Segments(), lit = Lit(), first = FirstWarning();
  for (int i = 0; i < segments; ++i) {
    const bool warning = i >= first;
    const QColor c = i < lit ? (warning ? warn : green) : (warning ? warnOff : greenOff);
    p.fillRect(LedSegmentRect(i, size()), c);
  }
}

}  // namespace tessel
