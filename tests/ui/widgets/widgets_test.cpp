// The painted widgets: their geometry from the pure functions (no pixels), the setters' clamping
// and repaint economy, and the charge pipe's animation timer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QPointer>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/run_until.h"
#include "ui/widgets/angular_gauge.h"
#include "ui/widgets/charge_pipe.h"
#include "ui/widgets/led_bar.h"
#include "ui/widgets/widget_geometry.h"

namespace tessel {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(GaugeGeometry, AngleFollowsTheScaleAndClampsAtItsEnds) {
  struct Case {
    double value, min, max, angle;
  };
  const Case cases[] = {
      {0, 0, 300, 170},
      {300, 0, 300, 10},
      {150, 0, 300, 90},
      {60, 0, 300, 138},
      {240, 0, 300, 42},
      {-5, 0, 300, 170},
      {1000, 0, 300, 10},
      {kNan, 0, 300, 170},
      {kInf, 0, 300, 10},
      {-kInf, 0, 300, 170},
      {200, 100, 300, 90},                     // a range that does not start at zero
      {250, 300, 0, 170 - 160 * 250 / 300.0},  // a reversed range is taken in order
      {150, 100, 100, 170},                    // an empty range must not divide by zero
      {150, kNan, 300, 170},
  };
  for (const Case& c : cases) {
    const double a = GaugeAngleDeg(c.value, c.min, c.max);
    EXPECT_NEAR(a, c.angle, 1e-9) << c.value << " on " << c.min << ".." << c.max;
  }
}

TEST(GaugeGeometry, NeedleStaysInsideTheGaugeAndIsSymmetric) {
  const QRectF r(0, 0, 140, 96);
  const GaugeLayout l = GaugeLayoutFor(r);
  EXPECT_GT(l.hub.y(), r.height() * 0.6) << "hub near the bottom";
  EXPECT_NEAR(l.hub.x(), 70, 1e-9);

  const QPointF up = GaugeNeedleTip(r, GaugeAngleDeg(150, 0, 300));
  EXPECT_NEAR(up.x(), l.hub.x(), 1e-9);
  EXPECT_LT(up.y(), l.hub.y());
  const QPointF lo = GaugeNeedleTip(r, GaugeAngleDeg(0, 0, 300));
  const QPointF hi = GaugeNeedleTip(r, GaugeAngleDeg(300, 0, 300));
  EXPECT_LT(lo.x(), l.hub.x());
  EXPECT_LT(lo.y(), l.hub.y()) << "the minimum is above the hub line, upper left";
  EXPECT_NEAR(lo.x() + hi.x(), 2 * l.hub.x(), 1e-9);
  EXPECT_NEAR(lo.y(), hi.y(), 1e-9);
  for (double v = 0; v <= 300; v += 7.5) {
    const QPointF tip = GaugeNeedleTip(r, GaugeAngleDeg(v, 0, 300));
    EXPECT_TRUE(r.adjusted(2, 2, -2, -2).contains(tip)) << v;
  }
}

// The tick numbers are read all day at this size: at 7 pt none may overlap another, leave the
// gauge or touch the scale (where the needle would cover it).
TEST(GaugeGeometry, TickNumbersAtSevenPointDoNotCollide) {
  QFont f = QApplication::font();
  f.setPointSizeF(7);
  const QFontMetricsF fm(f);
  for (const QRectF r : {QRectF(0, 0, 140, 96), QRectF(10, 20, 140, 96)}) {
    const GaugeLayout l = GaugeLayoutFor(r);
    std::vector<QRectF> boxes;
    for (double v : {0, 60, 120, 180, 240, 300}) {
      const QString text = QString::number(v);
      const QRectF box = GaugeLabelRect(l, GaugeAngleDeg(v, 0, 300),
                                        QSizeF(fm.horizontalAdvance(text), fm.height()));
      EXPECT_TRUE(r.contains(box)) << v;
      for (const QPointF& corner :
           {box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight()}) {
        const QPointF d = corner - l.hub;
        EXPECT_GT(std::hypot(d.x(), d.y()), l.radius) << v << " on the scale";
      }
      for (const QRectF& other : boxes) EXPECT_FALSE(box.intersects(other)) << v;
      boxes.push_back(box);
    }
  }
}

TEST(LedBarGeometry, LitSegmentsFromTheBottom) {
  struct Case {
    double value;
    int segments, lit;
  };
  const Case cases[] = {
      {0, 36, 0},       {100, 36, 24},  {150, 36, 36}, {151, 36, 36}, {kNan, 36, 0},
      {-kInf, 36, 0},   {kInf, 36, 36}, {-3, 36, 0},   {0.01, 36, 1},  // any load shows
      {100.01, 36, 25},  // any overload lights the first warning segment
      {100, 37, 25},     // 100 % inside segment 24 of 37: that one lights, no warning one
      {50, 0, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LitSegments(c.value, 0, 150, c.segments), c.lit)
        << c.value << " with " << c.segments << " segments";
}

// Whatever the height, the value 100 never lights a warning segment and anything a segment
// above it does; the segments fit inside the border without overlapping.
TEST(LedBarGeometry, WarningZoneAndSegmentsFitTheHeight) {
  EXPECT_EQ(LedSegmentCount(190), 37);
  EXPECT_EQ(LedSegmentCount(3), 0);
  EXPECT_EQ(LedSegmentCount(2 * kLedInset + kLedSegmentHeight), 1);
  for (int h : {9, 60, 185, 190, 300}) {
    const int n = LedSegmentCount(h);
    const int first = FirstWarningSegment(100, 0, 150, n);
    EXPECT_LE(LitSegments(100, 0, 150, n), first) << h;
    if (first < n) {
      EXPECT_GT(LitSegments(100 + 150.0 / n, 0, 150, n), first) << h;
    }
    EXPECT_GE(LedSegmentRect(n - 1, QSizeF(26, h)).top(), kLedInset) << h;
    EXPECT_EQ(LedSegmentRect(0, QSizeF(26, h)).bottom(), h - kLedInset) << h;
    EXPECT_EQ(LedSegmentCount(h + kLedSegmentHeight + kLedSegmentGap), n + 1) << h;
  }
  EXPECT_EQ(FirstWarningSegment(100, 0, 150, 36), 24);
  EXPECT_EQ(FirstWarningSegment(200, 0, 150, 36), 36);
  EXPECT_EQ(FirstWarningSegment(kNan, 0, 150, 36), 36);
}

TEST(PipeGeometry, SquaresMoveUpForwardAndDownInReverseAndWrap) {
  struct Case {
    int phase;
    bool reverse;
    std::vector<int> ys;
  };
  // Height 28, squares 6 with 8 between: a period of 14 px.
  const Case cases[] = {
      {0, false, {0, 14}},      {1, false, {-1, 13, 27}},  {5, false, {-5, 9, 23}},
      {14, false, {0, 14}},     {15, false, {-1, 13, 27}}, {1, true, {1, 15}},
      {13, true, {-1, 13, 27}}, {14, true, {0, 14}},       {0, true, {0, 14}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PipeSquares(c.phase, c.reverse, 28), c.ys)
        << "phase " << c.phase << (c.reverse ? " reverse" : " forward");
  EXPECT_TRUE(PipeSquares(0, false, 0).empty());
}

// --- The widgets ------------------------------------------------------------------------------

class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

TEST(GaugeBarPipeSetters, SettersThatChangeNothingDoNotRepaint) {
  struct Case {
    const char* name;
    std::function<QWidget*()> make;  // shown and painted once before the change
    std::function<void(QWidget*)> change;
    bool repaints;
  };
  const auto gauge = [](double v) {
    return [v] {
      auto* g = new AngularGauge;
      g->SetValue(v);
      return g;
    };
  };
  const auto bar = [](double v) {
    return [v] {
      auto* b = new LedBar;
      b->SetValue(v);
      return b;
    };
  };
  // A minute between steps: the timer cannot paint during the check.
  const auto pipe = [](bool running) {
    return [running] {
      auto* p = new ChargePipe;
      p->SetFlow(running, false, 60000);
      return p;
    };
  };
  const auto asGauge = [](QWidget* w) { return static_cast<AngularGauge*>(w); };
  const auto asBar = [](QWidget* w) { return static_cast<LedBar*>(w); };
  const auto asPipe = [](QWidget* w) { return static_cast<ChargePipe*>(w); };
  const Case cases[] = {
      {"gauge NaN at the minimum", gauge(0), [&](QWidget* w) { asGauge(w)->SetValue(kNan); },
       false},
      {"gauge beyond the top again", gauge(300), [&](QWidget* w) { asGauge(w)->SetValue(kInf); },
       false},
      {"gauge same range", gauge(10), [&](QWidget* w) { asGauge(w)->SetRange(0, 300); }, false},
      {"gauge new value", gauge(0), [&](QWidget* w) { asGauge(w)->SetValue(230); }, true},
      {"gauge same sections",
       [] {
         auto* g = new AngularGauge;
         g->SetSections(GaugeSections::Input());
         return g;
       },
       [&](QWidget* w) { asGauge(w)->SetSections(GaugeSections::Input()); }, false},
      {"bar clamped to the same end", bar(150), [&](QWidget* w) { asBar(w)->SetValue(151); },
       false},
      {"bar new segment", bar(50), [&](QWidget* w) { asBar(w)->SetValue(120); }, true},
      {"pipe same flow", pipe(true), [&](QWidget* w) { asPipe(w)->SetFlow(true, false, 60000); },
       false},
      {"pipe direction while off", pipe(false),
       [&](QWidget* w) { asPipe(w)->SetFlow(false, true, 60000); }, false},
      {"pipe turns round", pipe(true), [&](QWidget* w) { asPipe(w)->SetFlow(true, true, 60000); },
       true},
      {"pipe stops", pipe(true), [&](QWidget* w) { asPipe(w)->SetFlow(false, false, 60000); },
       true},
  };
  for (const Case& c : cases) {
    std::unique_ptr<QWidget> w(c.make());
    w->show();
    QApplication::processEvents();
    PaintCounter counter;
    w->installEventFilter(&counter);
    c.change(w.get());
    QApplication::processEvents();
    EXPECT_EQ(counter.paints > 0, c.repaints) << c.name;
  }
}

TEST(GaugeBarPipeSetters, ValuesAreClampedBeforeUse) {
  AngularGauge g;
  g.SetValue(kNan);
  EXPECT_EQ(g.Value(), 0);
  g.SetValue(-kInf);
  EXPECT_EQ(g.Value(), 0);
  g.SetValue(250);
  g.SetRange(200, 0);  // reversed: taken in order, the value follows the new top
  EXPECT_EQ(g.Minimum(), 0);
  EXPECT_EQ(g.Maximum(), 200);
  EXPECT_EQ(g.Value(), 200);
  for (auto [lo, hi] : {std::pair{kNan, 300.0}, {0.0, kInf}, {50.0, 50.0}}) {
    g.SetRange(lo, hi);  // ignored
    EXPECT_EQ(g.Maximum(), 200);
  }

  LedBar bar;
  bar.resize(26, 190);
  bar.SetValue(kNan);
  EXPECT_EQ(bar.Value(), 0);
  EXPECT_EQ(bar.Lit(), 0);
  bar.SetValue(1e300);
  EXPECT_EQ(bar.Value(), 150);
  EXPECT_EQ(bar.Lit(), bar.Segments());
  // The 100 % line lies between the segments lit at 100 % and the first warning segment.
  EXPECT_EQ(bar.MarkY(), LedSegmentRect(bar.FirstWarning(), bar.size()).bottom());
  bar.SetValue(100);
  EXPECT_GE(LedSegmentRect(bar.Lit() - 1, bar.size()).top(), bar.MarkY());
}

TEST(PipeAnimation, SettingTheSameFlowKeepsThePhase) {
  ChargePipe pipe;
  pipe.show();
  pipe.SetFlow(true, false, 60000);
  for (int i = 0; i < 3; ++i) pipe.Step();
  ASSERT_EQ(pipe.Phase(), 3);
  pipe.SetFlow(true, false, 60000);
  EXPECT_EQ(pipe.Phase(), 3);
  EXPECT_TRUE(pipe.IsAnimating());

  // Too short an interval is raised to the floor; asking for it again is the same flow.
  pipe.SetFlow(true, false, 1);
  EXPECT_EQ(pipe.IntervalMs(), ChargePipe::kMinIntervalMs);
  pipe.SetFlow(true, false, -100);
  EXPECT_EQ(pipe.IntervalMs(), ChargePipe::kMinIntervalMs);
  EXPECT_EQ(pipe.Phase(), 3);

  // Turning round leaves the squares where they are; they then move the other way.
  const auto before = PipeSquares(pipe.Phase(), false, pipe.height());
  pipe.SetFlow(true, true, 60000);
  EXPECT_TRUE(pipe.IsReverse());
  EXPECT_EQ(PipeSquares(pipe.Phase(), true, pipe.height()), before);
  pipe.Step();
  const auto after = PipeSquares(pipe.Phase(), true, pipe.height());
  ASSERT_FALSE(after.empty());
  EXPECT_NE(std::find(before.begin(), before.end(), after.back() - 1), before.end());
}

// The timer runs only while the flow is on and the pipe is shown: a hidden page, a hidden parent
// or a stopped flow must not wake the process.
TEST(PipeAnimation, TimerRunsOnlyWhileShownAndRunning) {
  QWidget page;
  auto* pipe = new ChargePipe(&page);
  pipe->SetFlow(true, false, 20);
  EXPECT_FALSE(pipe->IsAnimating()) << "not shown yet";
  page.show();
  EXPECT_TRUE(pipe->IsAnimating());
  const int start = pipe->Phase();
  EXPECT_TRUE(RunUntil([&] { return pipe->Phase() != start; }, 5000)) << "the timer steps";

  page.hide();
  EXPECT_FALSE(pipe->IsAnimating()) << "parent hidden";
  page.show();
  EXPECT_TRUE(pipe->IsAnimating()) << "shown again";
  pipe->hide();
  EXPECT_FALSE(pipe->IsAnimating()) << "pipe hidden";
  pipe->SetFlow(true, true, 40);
  EXPECT_FALSE(pipe->IsAnimating()) << "a new flow while hidden";
  pipe->show();
  EXPECT_TRUE(pipe->IsAnimating());
  pipe->SetFlow(false, true, 40);
  EXPECT_FALSE(pipe->IsAnimating()) << "stopped";
  EXPECT_FALSE(pipe->IsRunning());
}

}  // namespace
}  // namespace tessel
