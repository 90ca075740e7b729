#include "ui/widgets/charge_pipe.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

#include "ui/widgets/widget_geometry.h"

namespace tessel {

namespace {
constexpr int kPitch = ChargePipe::kSquare + ChargePipe::kSpacing;
}

ChargePipe::ChargePipe(QWidget* parent) : QWidget(parent) {
  resize(sizeHint());
  timer_.setInterval(200);
  connect(&timer_, &QTimer::timeout, this, &ChargePipe::Step);
}

void ChargePipe::SetFlow(bool running, bool reverse, int intervalMs) {
  const int interval = std::max(intervalMs, kMinIntervalMs);
  if (running == running_ && reverse == reverse_ && interval == timer_.interval()) return;
  if (reverse != reverse_) {
    // Mirror the phase so the squares turn round where they are instead of jumping.
    phase_ = (kPitch - phase_) % kPitch;
  }
  const bool visibleChange = running != running_ || (running && reverse != reverse_);
  running_ = running;
  reverse_ = reverse;
  if (interval != timer_.interval()) timer_.setInterval(interval);  // restarts it if active
  UpdateTimer();
  if (visibleChange) update();
}

void ChargePipe::Step() {
  phase_ = (phase_ + 1) % kPitch;
  update();
}

void ChargePipe::UpdateTimer() {
  const bool want = running_ && shown_;
  if (want && !timer_.isActive()) timer_.start();
  if (!want && timer_.isActive()) timer_.stop();
}

void ChargePipe::showEvent(QShowEvent*) {
  shown_ = true;
  UpdateTimer();
}

void ChargePipe::hideEvent(QHideEvent*) {
  shown_ = false;
  UpdateTimer();
}

void ChargePipe::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect body = rect();
  // A round grey pipe: lighter in the middle, darker at the walls.
  QLinearGradient g(body.topLeft(), body.topRight());
  g.setColorAt(0, QColor(105, 108, 112));
  g.setColorAt(0.45, QColor(200, 202, 205));
  g.setColorAt(1, QColor(95, 98, 102));
  p.fillRect(body, g);
  p.setPen(QColor(70, 72, 76));
  p.drawLine(body.topLeft(), body.bottomLeft());
  p.drawLine(body.topRight(), body.bottomRight());
  if (!running_) return;

  const int x = (width() - kSquare) / 2;
  p.setClipRect(body.adjusted(1, 0, -1, 0));
  for (int y : PipeSquares(phase_, reverse_, height(), kSquare, kSpacing)) {
    p.fillRect(x, y, kSquare, kSquare, QColor(40, 120, 20));
    p.fillRect(x + 1, y + 1, kSquare - 2, kSquare - 2, QColor(120, 255, 40));
  }
}

}  // namespace tessel
