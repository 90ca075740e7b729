// Geometry of the painted widgets (gauge, LED bar, charge pipe) as plain functions, so that the
// mapping from a value to an angle, a number of segments or square positions can be checked
// without pixels. paintEvent only draws what these return.
#pragma once

#include <QPointF>
#include <QRectF>
#include <vector>

namespace tessel {

// A value on a scale: NaN shows as the minimum, infinities and values beyond the scale sit at
// its ends. A reversed range is taken in order.
double ClampToScale(double value, double min, double max);

// --- Angular gauge -------------------------------------------------------------------------------
// Angles in degrees, counter-clockwise from 3 o'clock (Qt's convention for arcs). The scale runs
// clockwise from startDeg (the minimum) over arcDeg to startDeg - arcDeg (the maximum).
inline constexpr double kGaugeStartDeg = 170.0;
inline constexpr double kGaugeArcDeg = 160.0;

double GaugeAngleDeg(double value, double min, double max, double startDeg = kGaugeStartDeg,
                     double arcDeg = kGaugeArcDeg);

// Where the parts of a gauge go inside its rectangle.
struct GaugeLayout {
  QPointF hub;       // centre of the arc and pivot of the needle
  double radius;     // outer edge of the coloured band
  double bandWidth;  // width of the coloured sections
  double majorTick;  // length of a major tick, inwards from the outer edge
  double minorTick;  // length of a minor tick
  double needle;     // needle length from the hub
};
GaugeLayout GaugeLayoutFor(const QRectF& rect);

// A point at a distance from the hub along an angle.
QPointF GaugePolar(const GaugeLayout& layout, double angleDeg, double distance);
QPointF GaugeNeedleTip(const QRectF& rect, double angleDeg);

// The rectangle a tick number of textSize occupies: outside the scale beside its major tick, its
// nearest corner a little clear of the arc.
QRectF GaugeLabelRect(const GaugeLayout& layout, double angleDeg, const QSizeF& textSize);

// The scale: majors ticks with numbers, minorPerMajor intervals between two majors.
inline constexpr int kGaugeMajorTicks = 6;     // 0, 60, ... 300 on the default range
inline constexpr int kGaugeMinorPerMajor = 6;  // a minor tick every 10 V on the default range

// --- LED bar -------------------------------------------------------------------------------------
// Segments are kLedSegmentHeight px high with a kLedSegmentGap px gap, stacked from the bottom of
// the area inside a kLedInset px border.
inline constexpr int kLedSegmentHeight = 4;
inline constexpr int kLedSegmentGap = 1;
inline constexpr int kLedInset = 2;

int LedSegmentCount(int height);
// How many segments are lit from the bottom: a segment lights as soon as the value reaches into
// it, so any load shows and any overload past a segment boundary lights the next one.
int LitSegments(double value, double min, double max, int segments);
// The lowest segment that lies wholly above mark (the 100 % line); segments from it upwards
// take the warning colour. Equals segments when the mark is at or above the maximum.
int FirstWarningSegment(double mark, double min, double max, int segments);
// Segment index counts from the bottom (0) within a widget of the given size.
QRectF LedSegmentRect(int index, const QSizeF& size);

// --- Charge pipe ---------------------------------------------------------------------------------
// Squares of size px with spacing px between them move through the pipe one pixel per step;
// the phase counts steps modulo size + spacing. Forward moves upwards, reverse downwards.
// Returns the top y of every square that shows at least partly in 0..height.
std::vector<int> PipeSquares(int phase, bool reverse, int height, int size = 6, int spacing = 8);

}  // namespace tessel
