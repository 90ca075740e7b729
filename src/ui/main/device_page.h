// The real-time page of the selected device and its two trend charts. Built once with the main
// window and rewritten from the device's record at every display refresh; it reads the record
// and never sends anything. What each control shows is decided by the small functions below, so
// that a test can check them without a window.
#pragma once

#include <QString>
#include <QTime>
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "model/ups_info.h"

class QChartView;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QTabWidget;
class QWidget;

namespace tessel {

class AngularGauge;
class ChargePipe;
class LedBar;
class ModeDiagram;
class ValueText;

// The tree's icons.
enum TreeImage : int { kImageQuiet = 0, kImageOk = 1, kImageTrouble = 2, kImagePage = 3 };

// What a device's tree node shows for its record.
struct NodeLook {
  bool changes = true;  // false: the node keeps what it shows
  int image = kImageQuiet;
  std::string state;  // in brackets after the name; empty: the bare name
};
bool DeviceHasAlarm(const TUpsInfo& u);
NodeLook LookOfNode(const TUpsInfo& u, bool portOpen, uint8_t language);

// The operating-mode picture for a RunState, as an index of the seven pictures (standby, online,
// bypass, battery, ECO, self-test, fault); -1 for none.
int DiagramOfState(int32_t runState);

// The battery pipe: shown or not, and how its flow runs.
struct ChargeFlow {
  bool visible = false;
  bool running = false;
  bool reverse = false;  // downward, from the DC link into the battery
  int intervalMs = 500;  // per step of the flow; smaller is faster
  bool operator==(const ChargeFlow&) const = default;
};
// keepReverse is the direction the pipe has now; a pipe shown with its flow stopped keeps it.
ChargeFlow ChargeFlowOf(const TUpsInfo& u, uint8_t protocol, bool keepReverse);

// A measured value as the page writes it: fixed point with `decimals`, "--" when the device sent
// something that is not a number.
QString FixedText(double v, int decimals);
// Two status words as "XXXX-XXXX".
QString WordPair(uint16_t a, uint16_t b);
// The supply texts; empty for a code that leaves the shown text as it is.
QString InputSupplyText(uint8_t code, uint8_t language);
QString UpsSupplyText(uint8_t code, bool ecoMode, uint8_t language);

class DevicePage {
 public:
  static constexpr int kChartPoints = 120;  // a chart starts afresh at this many points
  static constexpr int kDiagrams = 7;

  // Builds the controls as children of window's pages; RealTimePage() and TrendPage() are then
  // placed by the window.
  DevicePage();

  QWidget* RealTimePage() const { return realTime_; }
  QWidget* TrendPage() const { return trend_; }
  QTabWidget* InnerPages() const { return innerPages_; }
  QLabel* UpsStateLabel() const { return lblUpsState_; }

  void ApplyProtocolLayout(uint8_t protocol);
  // The switch rows and the support-time panel stay hidden until the protocol layout says.
  void HideSwitchRows();
  // Rewrites the page from the record of the selected device.
  void Show(const TUpsInfo& u, uint8_t protocol, uint8_t language);

  // For tests: the picture that is shown (-1 none), the pipe, the point count of a chart.
  int ShownDiagram() const;
  const ChargePipe& Pipe() const { return *pipe_; }
  int ChartPointCount(int chart) const;

  // The time that labels the charts' points.
  std::function<QTime()> Now = [] { return QTime::currentTime(); };

 private:
  QWidget* BuildRealTimePage();
  QWidget* BuildDataTab();
  QWidget* BuildSketchTab();
  QWidget* BuildSwitchAndAlarm();
  QWidget* BuildTrendPage();

  void ShowInputValues(const TUpsInfo& u);
  void ShowOutputValues(const TUpsInfo& u);
  void ShowStates(const TUpsInfo& u, uint8_t protocol, uint8_t language);
  void ShowModeDiagram(int32_t runState);
  void HideModeDiagrams();
  void ShowAlarms(const TUpsInfo& u, uint8_t language);
  void ShowChargeFlow(const TUpsInfo& u, uint8_t protocol);
  void AppendPoints(QChartView* chart, std::array<double, 3> values);
  void ClearChart(QChartView* chart);

  QWidget* realTime_ = nullptr;
  QWidget* trend_ = nullptr;
  QTabWidget* innerPages_ = nullptr;
  std::array<AngularGauge*, 3> inputGauges_{};
  std::array<AngularGauge*, 3> outputGauges_{};
  std::array<LedBar*, 3> loadBars_{};
  std::array<ValueText*, 3> stInputV_{};
  std::array<ValueText*, 3> stOutputV_{};
  std::array<ValueText*, 3> stLoadPer_{};
  ValueText* stOutputFreq_ = nullptr;
  ValueText* stDCInputV_ = nullptr;
  ValueText* stBattLivingTime_ = nullptr;
  ValueText* stBattCapa_ = nullptr;
  QWidget* pnlBattCapa_ = nullptr;
  QWidget* pnlBattLivingTime_ = nullptr;
  QLabel* stComStatus_ = nullptr;
  std::array<ModeDiagram*, kDiagrams> diagrams_{};
  ChargePipe* pipe_ = nullptr;
  QGroupBox* grpCode_ = nullptr;
  QLabel* lblCMMState_ = nullptr;
  QLabel* lblINVState_ = nullptr;
  QLabel* lblCMMAlarm_ = nullptr;
  QLabel* lblINVAlarm_ = nullptr;
  QLabel* lbSysState_ = nullptr;
  QLabel* lbSysAlarm_ = nullptr;
  QLabel* lblUpsState_ = nullptr;
  ValueText* stInputPowerSupply_ = nullptr;
  ValueText* stUpsPowerSupply_ = nullptr;
  QPlainTextEdit* memoAlarm_ = nullptr;
  QChartView* chart1_ = nullptr;
  QChartView* chart2_ = nullptr;
  int chartAddr_ = -1;  // the device whose values the charts hold
};

}  // namespace tessel
