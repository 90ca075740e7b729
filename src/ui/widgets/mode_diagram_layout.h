// Geometry of the one-line mode pictures: where the blocks and wires of the 420 x 220 drawing lie,
// which of them are alive in each operating mode, and where the moving dots are on a given frame.
// Nothing here paints; ModeDiagram draws what these functions say, and tests check them without
// pixels.
#pragma once

#include <QPointF>
#include <QRectF>
#include <array>
#include <vector>

namespace tessel {

// The operating modes the unit reports, one picture each.
enum class DiagramKind { Standby, Online, Bypass, Battery, Economy, Test, Fault };

enum class DiagramBlock { Rectifier, Inverter, Battery };

// Wires, each cut where a block or a junction interrupts it. A wire's path runs in its usual
// direction of power flow: from the mains towards the load, and from the DC link down into the
// battery (charging).
enum class DiagramWire {
  InputFeed,    // mains terminal to the bypass branch point
  RectifierIn,  // branch point to the rectifier
  DcLeft,       // rectifier to the battery junction
  DcRight,      // battery junction to the inverter
  BatteryLink,  // battery junction down to the battery (the charge pipe lies over it)
  InverterOut,  // inverter to the point where the bypass joins
  BypassIn,     // branch point up and along the top to the static switch
  BypassOut,    // static switch along the top and down to the output
  Output,       // joining point to the load
};

// How power moves on a wire in a mode: not at all, along its path, or against it (discharging).
enum class DiagramFlow { None, Forward, Reverse };

namespace diagram {

inline constexpr int kWidth = 420;
inline constexpr int kHeight = 220;
inline constexpr int kFlowFrames = 9;   // the dots move 1/9 of their spacing per frame
inline constexpr int kFaultFrames = 5;  // pulses of the fault ring
inline constexpr int kFrameMs = 500;
inline constexpr double kDotSpacing = 14.0;
inline constexpr double kDotDiameter = 5.0;

inline constexpr std::array<DiagramKind, 7> kAllKinds = {
    DiagramKind::Standby, DiagramKind::Online, DiagramKind::Bypass, DiagramKind::Battery,
    DiagramKind::Economy, DiagramKind::Test,   DiagramKind::Fault};
inline constexpr std::array<DiagramBlock, 3> kAllBlocks = {
    DiagramBlock::Rectifier, DiagramBlock::Inverter, DiagramBlock::Battery};
inline constexpr std::array<DiagramWire, 9> kAllWires = {
    DiagramWire::InputFeed, DiagramWire::RectifierIn, DiagramWire::DcLeft,
    DiagramWire::DcRight,   DiagramWire::BatteryLink, DiagramWire::InverterOut,
    DiagramWire::BypassIn,  DiagramWire::BypassOut,   DiagramWire::Output};

// The vertical wire between the DC link and the battery, in widget coordinates: the charge pipe
// (15 wide, y2 - y1 = 68 tall) is placed centred on x from y1 to y2.
struct VerticalSegment {
  double x;
  double y1;
  double y2;
};
VerticalSegment BatteryLine();
// The rectangle a 15-wide charge pipe covers when laid over BatteryLine().
QRectF ChargePipeRect();

QRectF BlockRect(DiagramBlock block);
// The wire's polyline, from its source end to its sink end.
std::vector<QPointF> WirePath(DiagramWire wire);
// Centre and half-size of the static switch on the bypass line (the gap between BypassIn and
// BypassOut).
QRectF BypassSwitchRect();
// Where the DC link meets the battery wire; the fault marker sits there.
QPointF BatteryJunction();
// Centre of the self-test mark drawn beside the battery in the Test picture.
QPointF TestBadgeCentre();
// The load arrow at the right end of the output line, as a closed triangle.
std::array<QPointF, 3> LoadArrow();

int FrameCount(DiagramKind kind);
bool BlockLit(DiagramKind kind, DiagramBlock block);
DiagramFlow WireFlow(DiagramKind kind, DiagramWire wire);
// True when the static switch conducts (the bypass carries the load).
bool BypassClosed(DiagramKind kind);

// Dot centres on one wire for a frame (taken modulo FrameCount), in the order power reaches them.
// Empty when the wire carries nothing in this mode.
std::vector<QPointF> WireDots(DiagramKind kind, DiagramWire wire, int frame);
// Every dot of the picture for a frame.
std::vector<QPointF> DotPositions(DiagramKind kind, int frame);

// The pulsing ring of the fault picture on a frame: radius grows, colour fades.
struct FaultRing {
  double radius;
  double opacity;  // 0..1
};
FaultRing FaultRingAt(int frame);

}  // namespace diagram
}  // namespace tessel
