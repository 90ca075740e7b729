// An animated one-line picture of the unit in one operating mode: mains, rectifier, DC link,
// inverter, battery and bypass, with dots running along the wires that carry power.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "ui/widgets/mode_diagram_layout.h"

namespace tessel {

class ModeDiagram : public QWidget {
  Q_OBJECT

 public:
  explicit ModeDiagram(DiagramKind kind, QWidget* parent = nullptr);

  DiagramKind Kind() const { return kind_; }
  int Frame() const { return frame_; }
  int FrameCount() const { return diagram::FrameCount(kind_); }
  // One animation step, wrapping after the last frame.
  void Advance();
  // True while the frame timer runs: only when shown and the picture moves at all.
  bool IsAnimating() const { return timer_.isActive(); }

  // The battery's vertical wire in widget coordinates, for placing the charge pipe over it.
  static diagram::VerticalSegment BatteryLine() { return diagram::BatteryLine(); }

  QSize sizeHint() const override { return {diagram::kWidth, diagram::kHeight}; }

 protected:
  void paintEvent(QPaintEvent*) override;
  // The timer follows visibility: a hidden tab or a hidden sibling picture costs no wake-ups.
  void showEvent(QShowEvent*) override;
  void hideEvent(QHideEvent*) override;
  // Watches the top-level window for minimise and restore.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs the timer exactly when the picture moves and can be seen.
  void UpdateTimer();

  DiagramKind kind_;
  int frame_ = 0;
  QTimer timer_;
  QPointer<QWidget> watchedWindow_;
};

}  // namespace tessel
