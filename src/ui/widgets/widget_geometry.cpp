#include "ui/widgets/widget_geometry.h"

#include <QSizeF>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace tessel {

namespace {

constexpr double kRad = std::numbers::pi / 180.0;

// Fraction 0..1 of the way along the scale; 0 for an empty or broken range.
double ScaleFraction(double value, double min, double max) {
  if (!std::isfinite(min) || !std::isfinite(max) || min == max) return 0.0;
  const double lo = std::min(min, max), hi = std::max(min, max);
  return (ClampToScale(value, lo, hi) - lo) / (hi - lo);
}

// Segment counts computed from fractions such as 100/150 * 36 land a rounding error above a
// whole number; that must not light (or colour) one more segment.
constexpr double kSegmentSlack = 1e-9;

}  // namespace

double ClampToScale(double value, double min, double max) {
  if (min > max) std::swap(min, max);
  if (std::isnan(value)) return min;
  return std::clamp(value, min, max);
}

double GaugeAngleDeg(double value, double min, double max, double startDeg, double arcDeg) {
  return startDeg - arcDeg * ScaleFraction(value, min, max);
}

GaugeLayout GaugeLayoutFor(const QRectF& rect) {
  constexpr double kMargin = 3.0;
  constexpr double kBelowHub = 14.0;  // the hub itself and the unit under it
  // The numbers stand outside the scale, where the needle never covers them; room for "300"
  // beside the ends and for a line of 7 pt text above the top.
  constexpr double kLabelWidth = 18.0, kLabelHeight = 11.0;
  // The arc's ends sit 10 degrees above the horizontal, so its width is 2 r cos 10 degrees.
  const double byWidth =
      (rect.width() / 2 - kMargin - kLabelWidth) / std::cos((180.0 - kGaugeStartDeg) * kRad);
  const double byHeight = rect.height() - 2 * kMargin - kBelowHub - kLabelHeight;
  const double r = std::max(10.0, std::min(byWidth, byHeight));
  const double spare = std::max(0.0, byHeight - r);
  GaugeLayout l;
  l.hub = QPointF(rect.center().x(), rect.top() + kMargin + kLabelHeight + r + spare * 0.7);
  l.radius = r;
  l.bandWidth = std::round(r * 0.1);
  l.majorTick = std::round(r * 0.18);
  l.minorTick = std::round(r * 0.09);
  l.needle = r - l.bandWidth - 1;
  return l;
}

QPointF GaugePolar(const GaugeLayout& layout, double angleDeg, double distance) {
  const double a = angleDeg * kRad;
  return layout.hub + QPointF(distance * std::cos(a), -distance * std::sin(a));
}

QPointF GaugeNeedleTip(const QRectF& rect, double angleDeg) {
  const GaugeLayout l = GaugeLayoutFor(rect);
  return GaugePolar(l, angleDeg, l.needle);
}

QRectF GaugeLabelRect(const GaugeLayout& layout, double angleDeg, const QSizeF& textSize) {
  // Push the text out so that its nearest corner, not its centre, keeps clear of the scale.
  const double a = angleDeg * kRad;
  const double reach =
      std::abs(std::cos(a)) * textSize.width() / 2 + std::abs(std::sin(a)) * textSize.height() / 2;
  constexpr double kGap = 1.5;
  const QPointF c = GaugePolar(layout, angleDeg, layout.radius + kGap + reach);
  return QRectF(c.x() - textSize.width() / 2, c.y() - textSize.height() / 2, textSize.width(),
                textSize.height());
}

int LedSegmentCount(int height) {
  const int pitch = kLedSegmentHeight + kLedSegmentGap;
  return std::max(0, (height - 2 * kLedInset + kLedSegmentGap) / pitch);
}

int LitSegments(double value, double min, double max, int segments) {
  if (segments <= 0) return 0;
  const double lit = std::ceil(ScaleFraction(value, min, max) * segments - kSegmentSlack);
  return std::clamp(static_cast<int>(lit), 0, segments);
}

int FirstWarningSegment(double mark, double min, double max, int segments) {
  if (segments <= 0) return 0;
  if (std::isnan(mark)) return segments;
  const double first = std::ceil(ScaleFraction(mark, min, max) * segments - kSegmentSlack);
  return std::clamp(static_cast<int>(first), 0, segments);
}

QRectF LedSegmentRect(int index, const QSizeF& size) {
  const double bottom =
      size.height() - kLedInset - index * double(kLedSegmentHeight + kLedSegmentGap);
  return QRectF(kLedInset, bottom - kLedSegmentHeight, size.width() - 2 * kLedInset,
                kLedSegmentHeight);
}

std::vector<int> PipeSquares(int phase, bool reverse, int height, int size, int spacing) {
  std::vector<int> ys;
  const int pitch = size + spacing;
  if (size <= 0 || spacing < 0 || height <= 0) return ys;
  const int p = ((phase % pitch) + pitch) % pitch;
  // Forward flow carries the squares up: each step moves every square one pixel towards y = 0.
  const int offset = reverse ? p : (pitch - p) % pitch;
  for (int y = offset - pitch; y < height; y += pitch)
    if (y + size > 0) ys.push_back(y);
  return ys;
}

}  // namespace tessel
