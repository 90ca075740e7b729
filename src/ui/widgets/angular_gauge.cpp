#include "ui/widgets/angular_gauge.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "ui/widgets/widget_geometry.h"

namespace tessel {

namespace {

QString TickText(double v) {
  const double r = std::round(v);
  return std::abs(v - r) < 1e-6 ? QString::number(static_cast<long long>(r))
                                : QString::number(v, 'g', 3);
}

}  // namespace

std::vector<GaugeSection> GaugeSections::Input() {
  return {{0, 120, Low()}, {120, 276, Good()}, {276, 300, Warning()}};
}

std::vector<GaugeSection> GaugeSections::Output() {
  return {{0, 205, Low()}, {205, 245, Good()}, {245, 300, Warning()}};
}

AngularGauge::AngularGauge(QWidget* parent) : QWidget(parent) {
  setFixedSize(140, 96);
}

void AngularGauge::SetValue(double value) {
  const double v = ClampToScale(value, min_, max_);
  if (v == value_) return;  // no repaint when nothing changes
  value_ = v;
  update();
}

void AngularGauge::SetRange(double min, double max) {
  if (!std::isfinite(min) || !std::isfinite(max) || min == max) return;
  if (min > max) std::swap(min, max);
  if (min == min_ && max == max_) return;
  min_ = min;
  max_ = max;
  value_ = ClampToScale(value_, min_, max_);
  update();
}

void AngularGauge::SetSections(std::vector<GaugeSection> sections) {
  if (sections == sections_) return;
  sections_ = std::move(sections);
  update();
}

void AngularGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const GaugeLayout l = GaugeLayoutFor(QRectF(rect()));

  // Face: a light panel with a thin border, so the scale reads well on any window colour.
  QLinearGradient face(frame.topLeft(), frame.bottomLeft());
  face.setColorAt(0, QColor(252, 252, 250));
  face.setColorAt(1, QColor(228, 230, 232));
  p.setPen(QPen(QColor(150, 150, 155), 1));
  p.setBrush(face);
  p.drawRoundedRect(frame, 4, 4);

  // Coloured sections as a band along the outer edge of the scale.
  const double bandMid = l.radius - l.bandWidth / 2;
  const QRectF bandRect(l.hub.x() - bandMid, l.hub.y() - bandMid, 2 * bandMid, 2 * bandMid);
  for (const GaugeSection& s : sections_) {
    if (std::isnan(s.from) || std::isnan(s.to)) continue;
    const double a0 = GaugeAngleDeg(s.from, min_, max_);
    const double a1 = GaugeAngleDeg(s.to, min_, max_);
    if (a0 == a1) continue;
    p.setPen(QPen(s.colour, l.bandWidth, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(bandRect, qRound(a0 * 16), qRound((a1 - a0) * 16));
  }

  // Ticks across the band, numbers inside.
  const QColor ink(35, 35, 40);
  const int steps = (kGaugeMajorTicks - 1) * kGaugeMinorPerMajor;
  for (int i = 0; i <= steps; ++i) {
    const double v = min_ + (max_ - min_) * i / steps;
    const double a = GaugeAngleDeg(v, min_, max_);
    const bool major = i % kGaugeMinorPerMajor == 0;
    const bool half = !major && (2 * i) % kGaugeMinorPerMajor == 0 && kGaugeMinorPerMajor % 2 == 0;
    const double len = major ? l.majorTick : half ? (l.majorTick + l.minorTick) / 2 : l.minorTick;
    p.setPen(QPen(ink, major ? 1.4 : 0.8, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(GaugePolar(l, a, l.radius), GaugePolar(l, a, l.radius - len));
  }
  QFont small = font();
  small.setPointSizeF(7);
  p.setFont(small);
  const QFontMetricsF fm(small);
  p.setPen(ink);
  for (int i = 0; i < kGaugeMajorTicks; ++i) {
    const double v = min_ + (max_ - min_) * i / (kGaugeMajorTicks - 1);
    const QString text = TickText(v);
    const QSizeF size(fm.horizontalAdvance(text), fm.height());
    p.drawText(GaugeLabelRect(l, GaugeAngleDeg(v, min_, max_), size), Qt::AlignCenter, text);
  }

  // The unit under the hub, where the needle never goes.
  QFont unit = small;
  unit.setPointSizeF(8);
  unit.setBold(true);
  p.setFont(unit);
  p.drawText(QRectF(l.hub.x() - 20, l.hub.y() + 3, 40, rect().bottom() - l.hub.y() - 3),
             Qt::AlignCenter, "V");

  // Needle: a slim tapered blade from the hub, then the hub on top.
  const double a = GaugeAngleDeg(value_, min_, max_);
  const QPointF tip = GaugePolar(l, a, l.needle);
  const QPointF tail = GaugePolar(l, a + 180, 6);
  const QPointF side1 = GaugePolar(l, a + 90, 1.8), side2 = GaugePolar(l, a - 90, 1.8);
  QPainterPath needle;
  needle.moveTo(tip);
  needle.lineTo(side1);
  needle.lineTo(tail);
  needle.lineTo(side2);
  needle.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 20, 20));
  p.drawPath(needle);
  p.setBrush(QColor(60, 60, 65));
  p.drawEllipse(l.hub, 3.5, 3.5);
}

}  // namespace tessel
