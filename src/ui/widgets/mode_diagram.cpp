#include "ui/widgets/mode_diagram.h"

#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

namespace tessel {
namespace {

using namespace diagram;

const QColor kBackground(246, 248, 250);
const QColor kBorder(200, 206, 214);
const QColor kDeadWire(88, 94, 102);
const QColor kLiveWire(176, 222, 188);
const QColor kDot(18, 150, 70);
const QColor kUnlitFill(208, 212, 217);
const QColor kUnlitInk(112, 118, 126);
const QColor kLitInk(24, 36, 46);
const QColor kFaultRed(214, 40, 36);

QColor LitColour(DiagramBlock block) {
  switch (block) {
    case DiagramBlock::Rectifier:
      return {56, 196, 228};  // cyan
    case DiagramBlock::Inverter:
      return {70, 186, 88};  // green
    case DiagramBlock::Battery:
      return {150, 110, 214};  // violet
  }
  return kUnlitFill;
}

void Polyline(QPainter& p, const std::vector<QPointF>& path) {
  p.drawPolyline(path.data(), static_cast<int>(path.size()));
}

// "~" centred on c, 16 wide.
void Sine(QPainter& p, QPointF c) {
  QPainterPath s;
  s.moveTo(c.x() - 8, c.y());
  s.quadTo(c.x() - 4, c.y() - 7, c.x(), c.y());
  s.quadTo(c.x() + 4, c.y() + 7, c.x() + 8, c.y());
  p.drawPath(s);
}

// "=" centred on c, 14 wide.
void Direct(QPainter& p, QPointF c) {
  p.drawLine(QPointF(c.x() - 7, c.y() - 2.5), QPointF(c.x() + 7, c.y() - 2.5));
  p.drawLine(QPointF(c.x() - 7, c.y() + 2.5), QPointF(c.x() + 7, c.y() + 2.5));
}

void BlockBody(QPainter& p, const QRectF& r, bool lit, QColor colour) {
  const QColor fill = lit ? colour : kUnlitFill;
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, fill.lighter(lit ? 135 : 108));
  g.setColorAt(1, fill);
  p.setPen(QPen(fill.darker(lit ? 150 : 135), 2));
  p.setBrush(g);
  p.drawRoundedRect(r, 4, 4);
  p.setBrush(Qt::NoBrush);
}

// A converter: box split by the diagonal, the input form top-left and the output form
// bottom-right.
void Converter(QPainter& p, const QRectF& r, bool lit, QColor colour, bool acIn) {
  BlockBody(p, r, lit, colour);
  p.setPen(QPen(lit ? kLitInk : kUnlitInk, 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(r.bottomLeft() + QPointF(5, -5), r.topRight() + QPointF(-5, 5));
  const QPointF topLeft = r.topLeft() + QPointF(16, 13);
  const QPointF bottomRight = r.bottomRight() - QPointF(16, 13);
  if (acIn) {
    Sine(p, topLeft);
    Direct(p, bottomRight);
  } else {
    Direct(p, topLeft);
    Sine(p, bottomRight);
  }
}

// Two cells: long thin plate (+) over short thick plate (-), the wire running through.
void BatteryBlock(QPainter& p, const QRectF& r, bool lit) {
  BlockBody(p, r, lit, LitColour(DiagramBlock::Battery));
  const QColor ink = lit ? kLitInk : kUnlitInk;
  const double x = BatteryLine().x;
  const double top = r.top() + 11;
  p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(QPointF(x, r.top() + 1), QPointF(x, top));
  p.drawLine(QPointF(x, top + 6), QPointF(x, top + 14));
  p.drawLine(QPointF(x, top + 20), QPointF(x, r.bottom() - 1));
  for (double y : {top, top + 14}) {
    p.setPen(QPen(ink, 2, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(x - 15, y), QPointF(x + 15, y));
    p.setPen(QPen(ink, 4, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(x - 8, y + 6), QPointF(x + 8, y + 6));
  }
}

// The static switch on the bypass: a blade between two terminals, closed while it conducts.
void BypassSwitch(QPainter& p, bool closed) {
  const QRectF r = BypassSwitchRect();
  const QPointF a(r.left() + 4, r.center().y());
  const QPointF b(r.right() - 4, r.center().y());
  p.setPen(QPen(closed ? kDot : kDeadWire, 3, Qt::SolidLine, Qt::RoundCap));
  const double len = b.x() - a.x();
  const double angle = closed ? 0 : 30 * M_PI / 180;
  p.drawLine(a, a + QPointF(len * std::cos(angle), -len * std::sin(angle)));
  p.setPen(QPen(kDeadWire, 2));
  p.setBrush(kBackground);
  p.drawEllipse(a, 3, 3);
  p.drawEllipse(b, 3, 3);
  p.setBrush(Qt::NoBrush);
  // Stubs from the terminals to the wire ends either side.
  p.setPen(QPen(closed ? kLiveWire : kDeadWire, 3, Qt::SolidLine, Qt::FlatCap));
  p.drawLine(QPointF(r.left(), a.y()), a - QPointF(3, 0));
  p.drawLine(b + QPointF(3, 0), QPointF(r.right(), b.y()));
}

// A tick in a ring beside the battery: the discharge is a self-test, not a mains failure.
void TestBadge(QPainter& p) {
  const QPointF c = TestBadgeCentre();
  const QColor ink = LitColour(DiagramBlock::Battery).darker(150);
  p.setPen(QPen(ink, 2));
  p.setBrush(kBackground);
  p.drawEllipse(c, 9, 9);
  p.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  const QPointF tick[] = {c + QPointF(-4.5, 0.5), c + QPointF(-1.2, 3.8), c + QPointF(4.5, -3.5)};
  p.drawPolyline(tick, 3);
  p.setBrush(Qt::NoBrush);
}

}  // namespace

ModeDiagram::ModeDiagram(DiagramKind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
  setFixedSize(kWidth, kHeight);
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, &ModeDiagram::Advance);
}

void ModeDiagram::Advance() {
  frame_ = (frame_ + 1) % FrameCount();
  update();
}

void ModeDiagram::UpdateTimer() {
  // Minimising sends hide events to the children, but a platform that still reports the window
  // exposed afterwards makes Qt show them again; so the window's own state has the last word.
  const bool run = FrameCount() > 1 && isVisible() && !window()->isMinimized();
  if (!run)
    timer_.stop();
  else if (!timer_.isActive())
    timer_.start();  // keeps frame_: the picture carries on where it stopped
}

void ModeDiagram::showEvent(QShowEvent*) {
  QWidget* top = window();
  if (top != this && top != watchedWindow_) {
    if (watchedWindow_) watchedWindow_->removeEventFilter(this);
    watchedWindow_ = top;
    top->installEventFilter(this);
  }
  UpdateTimer();
}

void ModeDiagram::hideEvent(QHideEvent*) {
  timer_.stop();
}

bool ModeDiagram::eventFilter(QObject* watched, QEvent* event) {
  if (watched == watchedWindow_ && event->type() == QEvent::WindowStateChange) UpdateTimer();
  return QWidget::eventFilter(watched, event);
}

void ModeDiagram::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(rect(), kBackground);
  p.setPen(QPen(kBorder, 1));
  p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));

  // Dead wires first, so a live path stays unbroken where it crosses a junction.
  for (bool live : {false, true}) {
    p.setPen(QPen(live ? kLiveWire : kDeadWire, 3, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    for (DiagramWire w : kAllWires)
      if ((WireFlow(kind_, w) != DiagramFlow::None) == live) Polyline(p, WirePath(w));
  }

  // Mains terminal on the left, load arrow on the right.
  const bool mainsLive = WireFlow(kind_, DiagramWire::InputFeed) != DiagramFlow::None;
  const QPointF mains = WirePath(DiagramWire::InputFeed).front() - QPointF(4, 0);
  p.setPen(QPen(mainsLive ? kDot : kDeadWire, 2));
  p.setBrush(kBackground);
  p.drawEllipse(mains, 4, 4);
  const bool loadLive = WireFlow(kind_, DiagramWire::Output) != DiagramFlow::None;
  const std::array<QPointF, 3> arrow = LoadArrow();
  p.setPen(Qt::NoPen);
  p.setBrush(loadLive ? kDot : kDeadWire);
  p.drawPolygon(arrow.data(), 3);
  p.setBrush(Qt::NoBrush);

  Converter(p, BlockRect(DiagramBlock::Rectifier), BlockLit(kind_, DiagramBlock::Rectifier),
            LitColour(DiagramBlock::Rectifier), true);
  Converter(p, BlockRect(DiagramBlock::Inverter), BlockLit(kind_, DiagramBlock::Inverter),
            LitColour(DiagramBlock::Inverter), false);
  BatteryBlock(p, BlockRect(DiagramBlock::Battery), BlockLit(kind_, DiagramBlock::Battery));
  BypassSwitch(p, BypassClosed(kind_));
  if (kind_ == DiagramKind::Test) TestBadge(p);

  p.setPen(Qt::NoPen);
  p.setBrush(kDot);
  const double r = kDotDiameter / 2;
  for (const QPointF& d : DotPositions(kind_, frame_)) p.drawEllipse(d, r, r);

  if (kind_ == DiagramKind::Fault) {
    const QPointF c = BatteryJunction();
    const FaultRing ring = FaultRingAt(frame_);
    QColor ringColour = kFaultRed;
    ringColour.setAlphaF(ring.opacity);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ringColour, 2.5));
    p.drawEllipse(c, ring.radius, ring.radius);
    p.setPen(QPen(kFaultRed.darker(140), 1));
    p.setBrush(kFaultRed);
    p.drawEllipse(c, 5.5, 5.5);
  }
}

}  // namespace tessel
