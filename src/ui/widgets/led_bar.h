// A vertical LED bar for the load: 0..150 %, lit from the bottom, light green up to the 100 %
// mark and the warning colour above it; unlit segments stay dark in their own colour, so the
// overload zone shows even at no load.
#pragma once

#include <QWidget>

namespace tessel {

class LedBar : public QWidget {
  Q_OBJECT

 public:
  static constexpr double kMinimum = 0;
  static constexpr double kMaximum = 150;
  static constexpr double kMark = 100;  // the 100 % line

  explicit LedBar(QWidget* parent = nullptr);

  // The value is clamped to 0..150: NaN shows as 0.
  void SetValue(double value);
  double Value() const { return value_; }

  int Segments() const;
  int Lit() const;
  int FirstWarning() const;
  // y of the 100 % line (the bottom edge of the first warning segment) in this widget, so that a
  // label beside the bar can be aligned with it.
  int MarkY() const;

  QSize sizeHint() const override { return {26, 190}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  double value_ = 0;
};

}  // namespace tessel
