#include "ui/widgets/mode_diagram.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineF>
#include <QTabWidget>
#include <QTest>
#include <set>

#include "ui/widgets/mode_diagram_layout.h"

namespace tessel {
namespace {

using namespace diagram;
using K = DiagramKind;
using B = DiagramBlock;

struct LitCase {
  DiagramKind kind;
  std::set<DiagramBlock> lit;
};

TEST(ModeDiagramLayout, LitBlocksPerMode) {
  const LitCase cases[] = {
      {K::Standby, {}},
      {K::Online, {B::Rectifier, B::Inverter, B::Battery}},
      {K::Bypass, {}},
      {K::Battery, {B::Inverter, B::Battery}},
      {K::Economy, {B::Rectifier, B::Inverter, B::Battery}},
      {K::Test, {B::Rectifier, B::Inverter, B::Battery}},
      {K::Fault, {}},
  };
  for (const LitCase& c : cases)
    for (DiagramBlock b : kAllBlocks)
      EXPECT_EQ(BlockLit(c.kind, b), c.lit.count(b) == 1)
          << "kind " << int(c.kind) << " block " << int(b);
}

TEST(ModeDiagramLayout, FrameCounts) {
  for (DiagramKind k : kAllKinds) {
    const int expected = k == K::Standby ? 1 : k == K::Fault ? 5 : 9;
    EXPECT_EQ(FrameCount(k), expected) << int(k);
  }
}

TEST(ModeDiagramLayout, StillPicturesHaveNoDots) {
  for (DiagramKind k : {K::Standby, K::Fault})
    for (int f = 0; f < FrameCount(k); ++f) EXPECT_TRUE(DotPositions(k, f).empty()) << int(k);
}

// Where the dots are expected to run: a probe point on a straight stretch of a wire and the
// direction power flows there. Each frame, the dot nearest the probe must reappear one step
// further along that direction on the next frame, including the step from the last frame back to
// frame 0 that closes the loop.
struct FlowCase {
  DiagramKind kind;
  QPointF probe;
  QPointF direction;
  const char* what;
};

constexpr QPointF kRight(1, 0), kUp(0, -1), kDown(0, 1);

TEST(ModeDiagramLayout, DotsMoveWithThePowerAndLoopSeamlessly) {
  const VerticalSegment bat = BatteryLine();
  const QPointF batteryMid(bat.x, (bat.y1 + bat.y2) / 2);
  const double mainY = BatteryJunction().y();
  const double topY = BypassSwitchRect().center().y();
  const double bypassDropX = WirePath(DiagramWire::BypassOut).back().x();
  const QPointF output(WirePath(DiagramWire::Output).front().x() + 10, mainY);
  const QPointF dcRight(bat.x + 35, mainY);
  const QPointF dcLeft(bat.x - 35, mainY);
  const FlowCase cases[] = {
      {K::Online, batteryMid, kDown, "online charges the battery"},
      {K::Online, dcLeft, kRight, "online rectifier to DC link"},
      {K::Online, dcRight, kRight, "online DC link to inverter"},
      {K::Online, output, kRight, "online output"},
      {K::Battery, batteryMid, kUp, "battery discharges"},
      {K::Battery, dcRight, kRight, "battery DC link to inverter"},
      {K::Battery, output, kRight, "battery output"},
      {K::Test, batteryMid, kUp, "test discharges"},
      {K::Test, output, kRight, "test output"},
      {K::Bypass, QPointF(100, topY), kRight, "bypass along the top"},
      {K::Bypass, QPointF(bypassDropX, (topY + mainY) / 2), kDown, "bypass drops to output"},
      {K::Bypass, output, kRight, "bypass output"},
      {K::Economy, QPointF(300, topY), kRight, "economy bypass"},
      {K::Economy, batteryMid, kDown, "economy charges the battery"},
      {K::Economy, output, kRight, "economy output"},
  };
  const double step = kDotSpacing / kFlowFrames;
  for (const FlowCase& c : cases) {
    SCOPED_TRACE(c.what);
    for (int f = 0; f < kFlowFrames; ++f) {
      const std::vector<QPointF> now = DotPositions(c.kind, f);
      const std::vector<QPointF> next = DotPositions(c.kind, (f + 1) % kFlowFrames);
      ASSERT_FALSE(now.empty());
      QPointF nearest = now.front();
      for (const QPointF& d : now)
        if (QLineF(d, c.probe).length() < QLineF(nearest, c.probe).length()) nearest = d;
      ASSERT_LT(QLineF(nearest, c.probe).length(), kDotSpacing) << "no dot near the probe";
      const QPointF expected = nearest + c.direction * step;
      double best = 1e9;
      for (const QPointF& d : next) best = std::min(best, QLineF(d, expected).length());
      EXPECT_LT(best, 1e-6) << "frame " << f;
    }
  }
}

TEST(ModeDiagramLayout, DotsOnlyOnLiveWiresAndNeverInsideABlock) {
  // Wires that must stay dark, per mode: a dot there would show power where there is none.
  const std::pair<DiagramKind, std::set<DiagramWire>> dark[] = {
      {K::Online, {DiagramWire::BypassIn, DiagramWire::BypassOut}},
      {K::Bypass,
       {DiagramWire::RectifierIn, DiagramWire::DcLeft, DiagramWire::DcRight,
        DiagramWire::BatteryLink, DiagramWire::InverterOut}},
      {K::Battery,
       {DiagramWire::InputFeed, DiagramWire::RectifierIn, DiagramWire::DcLeft,
        DiagramWire::BypassIn, DiagramWire::BypassOut}},
      {K::Economy, {DiagramWire::DcRight, DiagramWire::InverterOut}},
  };
  for (const auto& [kind, wires] : dark)
    for (DiagramWire w : kAllWires)
      for (int f = 0; f < kFlowFrames; ++f)
        EXPECT_EQ(WireDots(kind, w, f).empty(), wires.count(w) == 1)
            << "kind " << int(kind) << " wire " << int(w) << " frame " << f;

  const QRectF canvas(0, 0, kWidth, kHeight);
  for (DiagramKind k : kAllKinds)
    for (int f = 0; f < FrameCount(k); ++f)
      for (const QPointF& d : DotPositions(k, f)) {
        EXPECT_TRUE(canvas.contains(d));
        for (DiagramBlock b : kAllBlocks)
          EXPECT_FALSE(BlockRect(b).adjusted(-1, -1, 1, 1).contains(d))
              << "kind " << int(k) << " dot in block " << int(b);
        EXPECT_FALSE(BypassSwitchRect().contains(d));
      }
}

// The charge pipe is laid over this segment from outside, so it must be exactly the wire between
// the DC link and the top of the battery, and as long as the pipe.
TEST(ModeDiagramLayout, BatteryLineIsTheWireUnderTheChargePipe) {
  const VerticalSegment s = ModeDiagram::BatteryLine();
  const std::vector<QPointF> wire = WirePath(DiagramWire::BatteryLink);
  EXPECT_DOUBLE_EQ(s.x, wire.front().x());
  EXPECT_DOUBLE_EQ(s.x, wire.back().x());
  EXPECT_NEAR(s.y1, BatteryJunction().y(), 1.0);
  EXPECT_DOUBLE_EQ(s.y2, BlockRect(DiagramBlock::Battery).top());
  EXPECT_DOUBLE_EQ(s.y2 - s.y1, 68);
  const QRectF pipe = ChargePipeRect();
  EXPECT_EQ(pipe, QRectF(s.x - 7.5, s.y1, 15, 68));
  EXPECT_EQ(pipe, QRectF(pipe.toRect()));  // whole pixels, so a widget can sit exactly there
  EXPECT_TRUE(QRectF(0, 0, kWidth, kHeight).contains(pipe));
}

TEST(ModeDiagramLayout, FaultRingPulsesOverFiveFrames) {
  for (int f = 1; f < kFaultFrames; ++f) {
    EXPECT_GT(FaultRingAt(f).radius, FaultRingAt(f - 1).radius);
    EXPECT_LT(FaultRingAt(f).opacity, FaultRingAt(f - 1).opacity);
    EXPECT_GT(FaultRingAt(f).opacity, 0);
  }
  EXPECT_EQ(FaultRingAt(kFaultFrames).radius, FaultRingAt(0).radius);
}

TEST(ModeDiagramWidget, AdvanceWrapsAfterTheLastFrame) {
  for (DiagramKind k : kAllKinds) {
    ModeDiagram d(k);
    EXPECT_EQ(d.Kind(), k);
    EXPECT_EQ(d.size(), QSize(420, 220));
    EXPECT_EQ(d.FrameCount(), FrameCount(k));
    for (int i = 1; i < d.FrameCount(); ++i) {
      d.Advance();
      EXPECT_EQ(d.Frame(), i);
    }
    d.Advance();
    EXPECT_EQ(d.Frame(), 0) << int(k);
  }
}

TEST(ModeDiagramWidget, TimerRunsOnlyWhileShownAndKeepsThePhase) {
  QTabWidget window;
  auto* page = new QWidget;
  window.addTab(page, "picture");
  window.addTab(new QWidget, "other");
  auto* online = new ModeDiagram(K::Online, page);
  auto* standby = new ModeDiagram(K::Standby, page);
  EXPECT_FALSE(online->IsAnimating());  // never shown yet

  window.show();
  EXPECT_TRUE(online->IsAnimating());
  EXPECT_FALSE(standby->IsAnimating());  // a still picture never wakes the process

  online->Advance();
  online->Advance();
  online->show();  // already visible: nothing restarts
  EXPECT_EQ(online->Frame(), 2);

  online->hide();  // the window switched to another mode picture
  EXPECT_FALSE(online->IsAnimating());
  online->show();
  EXPECT_TRUE(online->IsAnimating());
  EXPECT_EQ(online->Frame(), 2);

  window.setCurrentIndex(1);
  EXPECT_FALSE(online->IsAnimating());
  window.setCurrentIndex(0);
  EXPECT_TRUE(online->IsAnimating());

  // Minimised: Qt hides the children, and even where the platform goes on reporting the window
  // exposed (and so shows them again) the picture stays still.
  window.showMinimized();
  QApplication::processEvents();
  EXPECT_FALSE(online->IsAnimating());
  window.showNormal();
  QApplication::processEvents();
  EXPECT_TRUE(online->IsAnimating());
  EXPECT_GE(online->Frame(), 2);  // a tick may have passed meanwhile, but no restart

  // Restoring the window must not wake a picture that is not the one on show.
  online->hide();
  window.showMinimized();
  QApplication::processEvents();
  window.showNormal();
  QApplication::processEvents();
  EXPECT_FALSE(online->IsAnimating());
}

TEST(ModeDiagramWidget, TimerAdvancesTheFrame) {
  ModeDiagram d(K::Fault);
  d.show();
  QTRY_VERIFY_WITH_TIMEOUT(d.Frame() != 0, 2000);
}

}  // namespace
}  // namespace tessel
