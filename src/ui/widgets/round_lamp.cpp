#include "ui/widgets/round_lamp.h"

#include <QPainter>
#include <QRadialGradient>

namespace tessel {

RoundLamp::RoundLamp(QColor litColour, QWidget* parent) : QWidget(parent), colour_(litColour) {
  setFixedSize(16, 16);
}

void RoundLamp::SetLit(bool lit) {
  if (lit == lit_) return;  // no repaint when nothing changes
  lit_ = lit;
  update();
}

void RoundLamp::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor c = lit_ ? colour_ : QColor(70, 70, 70);
  const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
  QRadialGradient g(r.center() - QPointF(r.width() / 5, r.height() / 5), r.width() / 1.5);
  g.setColorAt(0, c.lighter(lit_ ? 160 : 130));
  g.setColorAt(1, c);
  p.setPen(QPen(c.darker(170), 1));
  p.setBrush(g);
  p.drawEllipse(r);
}

}  // namespace tessel
