// The charge pipe: a grey vertical pipe between the battery (bottom) and the DC link (top) with
// lime squares moving through it while current flows: upwards when charging (forward),
// downwards when the battery feeds the link (reverse). The squares move one pixel per interval;
// the timer runs only while the flow is on and the pipe is shown.
#pragma once

#include <QTimer>
#include <QWidget>

namespace tessel {

class ChargePipe : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kSquare = 6;
  static constexpr int kSpacing = 8;  // free pixels between two squares
  static constexpr int kMinIntervalMs = 20;

  explicit ChargePipe(QWidget* parent = nullptr);

  // Setting the flow it already has changes nothing, so a display refresh that repeats it does
  // not restart the animation. The interval is at least kMinIntervalMs.
  void SetFlow(bool running, bool reverse, int intervalMs);
  bool IsRunning() const { return running_; }
  bool IsReverse() const { return reverse_; }
  int IntervalMs() const { return timer_.interval(); }
  int Phase() const { return phase_; }
  bool IsAnimating() const { return timer_.isActive(); }
  // One animation step, as the timer does it.
  void Step();

  QSize sizeHint() const override { return {15, 68}; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void showEvent(QShowEvent*) override;
  void hideEvent(QHideEvent*) override;

 private:
  void UpdateTimer();

  QTimer timer_;
  bool running_ = false;
  bool reverse_ = false;
  bool shown_ = false;  // between a show and a hide event: also false while minimised
  int phase_ = 0;
};

}  // namespace tessel
