#include "ui/widgets/mode_diagram_layout.h"

#include <QLineF>
#include <algorithm>
#include <cmath>

namespace tessel::diagram {
namespace {

// Wires are 3 px wide, so their centre lines sit on half pixels and their edges stay sharp.
constexpr double kMainY = 98.5;    // input, DC link and output
constexpr double kTopY = 28.5;     // bypass
constexpr double kBranchX = 36.5;  // the bypass leaves the input here
constexpr double kJoinX = 380.5;   // and joins the output here
constexpr double kBatteryX = 209.5;
constexpr double kBatteryTop = 167;  // top edge of the battery block
constexpr double kInputStart = 12;   // right of the mains terminal circle
constexpr double kOutputEnd = 401;   // where the load arrow begins
// Dots are kept this far from a wire's ends, so none sits on a block outline or on the dot of the
// next wire at a junction.
constexpr double kDotMargin = 3;

constexpr QRectF kRectifier(80, 77, 60, 44);
constexpr QRectF kInverter(280, 77, 60, 44);
constexpr QRectF kBattery(180, kBatteryTop, 60, 44);
constexpr QRectF kSwitch(192, kTopY - 12, 36, 24);

using enum DiagramKind;
using enum DiagramWire;

// The point at distance s along the polyline (clamped to its ends).
QPointF PointAt(const std::vector<QPointF>& path, double s) {
  for (size_t i = 1; i < path.size(); ++i) {
    const QLineF seg(path[i - 1], path[i]);
    if (s <= seg.length()) return seg.pointAt(seg.length() > 0 ? s / seg.length() : 0);
    s -= seg.length();
  }
  return path.back();
}

double Length(const std::vector<QPointF>& path) {
  double len = 0;
  for (size_t i = 1; i < path.size(); ++i) len += QLineF(path[i - 1], path[i]).length();
  return len;
}

}  // namespace

VerticalSegment BatteryLine() {
  return {kBatteryX, std::ceil(kMainY), kBatteryTop};
}

QRectF ChargePipeRect() {
  const VerticalSegment s = BatteryLine();
  return {s.x - 7.5, s.y1, 15, s.y2 - s.y1};
}

QRectF BlockRect(DiagramBlock block) {
  switch (block) {
    case DiagramBlock::Rectifier:
      return kRectifier;
    case DiagramBlock::Inverter:
      return kInverter;
    case DiagramBlock::Battery:
      return kBattery;
  }
  return {};
}

std::vector<QPointF> WirePath(DiagramWire wire) {
  switch (wire) {
    case InputFeed:
      return {{kInputStart, kMainY}, {kBranchX, kMainY}};
    case RectifierIn:
      return {{kBranchX, kMainY}, {kRectifier.left(), kMainY}};
    case DcLeft:
      return {{kRectifier.right(), kMainY}, {kBatteryX, kMainY}};
    case DcRight:
      return {{kBatteryX, kMainY}, {kInverter.left(), kMainY}};
    case BatteryLink:
      return {{kBatteryX, kMainY}, {kBatteryX, kBatteryTop}};
    case InverterOut:
      return {{kInverter.right(), kMainY}, {kJoinX, kMainY}};
    case BypassIn:
      return {{kBranchX, kMainY}, {kBranchX, kTopY}, {kSwitch.left(), kTopY}};
    case BypassOut:
      return {{kSwitch.right(), kTopY}, {kJoinX, kTopY}, {kJoinX, kMainY}};
    case Output:
      return {{kJoinX, kMainY}, {kOutputEnd, kMainY}};
  }
  return {};
}

QRectF BypassSwitchRect() {
  return kSwitch;
}

QPointF BatteryJunction() {
  return {kBatteryX, kMainY};
}

QPointF TestBadgeCentre() {
  return {kBattery.right() + 20, kBattery.center().y()};
}

std::array<QPointF, 3> LoadArrow() {
  return {QPointF(kOutputEnd - 1, kMainY - 7.5), QPointF(kOutputEnd + 14, kMainY),
          QPointF(kOutputEnd - 1, kMainY + 7.5)};
}

int FrameCount(DiagramKind kind) {
  switch (kind) {
    case Standby:
      return 1;
    case Fault:
      return kFaultFrames;
    default:
      return kFlowFrames;
  }
}

bool BlockLit(DiagramKind kind, DiagramBlock block) {
  switch (kind) {
    case Online:
    case Economy:
    case Test:
      return true;
    case Battery:
      return block != DiagramBlock::Rectifier;
    case Standby:
    case Bypass:
    case Fault:
      return false;
  }
  return false;
}

DiagramFlow WireFlow(DiagramKind kind, DiagramWire wire) {
  constexpr DiagramFlow F = DiagramFlow::Forward, R = DiagramFlow::Reverse, N = DiagramFlow::None;
  switch (kind) {
    case Online:
      // Mains through both converters to the load; the DC link also charges the battery.
      switch (wire) {
        case BypassIn:
        case BypassOut:
          return N;
        default:
          return F;
      }
    case Bypass:
      switch (wire) {
        case InputFeed:
        case BypassIn:
        case BypassOut:
        case Output:
          return F;
        default:
          return N;
      }
    case Battery:
    case Test:
      // The battery feeds the inverter; in a self-test the rectifier stays up but carries nothing.
      switch (wire) {
        case BatteryLink:
          return R;
        case DcRight:
        case InverterOut:
        case Output:
          return F;
        default:
          return N;
      }
    case Economy:
      // The load runs on the bypass; the rectifier keeps the battery charged, the inverter waits.
      switch (wire) {
        case DcRight:
        case InverterOut:
          return N;
        default:
          return F;
      }
    case Standby:
    case Fault:
      return N;
  }
  return N;
}

bool BypassClosed(DiagramKind kind) {
  return WireFlow(kind, BypassOut) != DiagramFlow::None;
}

std::vector<QPointF> WireDots(DiagramKind kind, DiagramWire wire, int frame) {
  const DiagramFlow flow = WireFlow(kind, wire);
  if (flow == DiagramFlow::None) return {};
  std::vector<QPointF> path = WirePath(wire);
  if (flow == DiagramFlow::Reverse) std::reverse(path.begin(), path.end());
  const int n = FrameCount(kind);
  const int f = ((frame % n) + n) % n;
  const double len = Length(path);
  std::vector<QPointF> dots;
  // Frame n would put every dot where its neighbour was on frame 0, so the cycle has no seam.
  for (double s = f * kDotSpacing / n; s <= len - kDotMargin; s += kDotSpacing)
    if (s >= kDotMargin) dots.push_back(PointAt(path, s));
  return dots;
}

std::vector<QPointF> DotPositions(DiagramKind kind, int frame) {
  std::vector<QPointF> all;
  for (DiagramWire w : kAllWires) {
    const std::vector<QPointF> d = WireDots(kind, w, frame);
    all.insert(all.end(), d.begin(), d.end());
  }
  return all;
}

FaultRing FaultRingAt(int frame) {
  const int f = ((frame % kFaultFrames) + kFaultFrames) % kFaultFrames;
  return {7.0 + 3.0 * f, 1.0 - static_cast<double>(f) / kFaultFrames};
}

}  // namespace tessel::diagram
