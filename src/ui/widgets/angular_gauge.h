// A voltage gauge: a 160 degree scale over the top with coloured sections, numbered major ticks,
// minor ticks between them, a needle from a hub near the bottom and the unit "V".
#pragma once

#include <QColor>
#include <QWidget>
#include <vector>

namespace tessel {

struct GaugeSection {
  double from = 0;
  double to = 0;
  QColor colour;

  friend bool operator==(const GaugeSection&, const GaugeSection&) = default;
};

// The section sets the monitor uses: where an input or output voltage is low, good or too high.
struct GaugeSections {
  static QColor Low() { return QColor(235, 190, 0); }
  static QColor Good() { return QColor(40, 170, 60); }
  static QColor Warning() { return QColor(240, 80, 30); }
  static std::vector<GaugeSection> Input();
  static std::vector<GaugeSection> Output();
};

class AngularGauge : public QWidget {
  Q_OBJECT

 public:
  explicit AngularGauge(QWidget* parent = nullptr);

  // The value is clamped to the range: NaN shows as the minimum.
  void SetValue(double value);
  double Value() const { return value_; }
  // Ignored unless both ends are finite and differ; a reversed pair is taken in order.
  void SetRange(double min, double max);
  double Minimum() const { return min_; }
  double Maximum() const { return max_; }
  // Drawn in order along the band, each clipped to the range; sections with a NaN end are skipped.
  void SetSections(std::vector<GaugeSection> sections);
  const std::vector<GaugeSection>& Sections() const { return sections_; }

  QSize sizeHint() const override { return {140, 96}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  double min_ = 0;
  double max_ = 300;
  double value_ = 0;
  std::vector<GaugeSection> sections_;
};

}  // namespace tessel
