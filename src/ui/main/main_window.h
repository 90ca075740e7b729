// The operator's console: menus, tool bar, the device tree, the device pages and the status bar,
// and the display timer that is the only thing refreshing the screen. The window reads the model
// and asks the host; it never talks to a device itself.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>

#include "model/ups_info.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QToolButton;
class QTreeWidget;

namespace tessel {

class DevicePage;
class DeviceTree;
class Host;
class Prompter;
class RoundLamp;
class TraceSeam;

// How the main window opens the windows that other parts of the program provide. An entry that is
// not set leaves its menu item and button disabled.
struct WindowSeams {
  std::function<void()> SoftwareParameters;  // modal; also after the port failed at start-up
  std::function<void()> EventLog;
  std::function<void()> DataLog;
  std::function<void()> LogSetting;
  std::function<void()> BatteryTest;
  std::function<void()> TurnOnOff;
  std::function<void()> UserSet;  // modeless, only for a communicating device
  std::function<void()> Search;
  TraceSeam* Trace = nullptr;  // opened from the About window
};

class TFrmMain : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kTickMs = 10;          // the display timer's tick
  static constexpr int kTicksPerStep = 11;    // a fast step every 11th tick
  static constexpr int kStepsPerRefresh = 6;  // a full refresh every 6th fast step

  // Connects to the host's start-up signals: create the window before host.Start().
  TFrmMain(Host& host, Prompter& prompter, QWidget* parent = nullptr);
  ~TFrmMain() override;

  void SetSeams(WindowSeams seams);
  // A second copy asked this one to come to the front.
  void BringToFront();

  void ApplyLanguage();
  void ApplyProtocolLayout();
  // Runs n ticks of the display timer. The timer itself wakes only for the fast steps that can
  // change what is shown (a lamp lit, debug texts) and for the refreshes, and runs the ticks due.
  void AdvanceTicks(int n);
  void RefreshDisplay();
  uint8_t GetSelDevAddr() const;
  DeviceTree& Tree() { return *tree_; }
  DevicePage& Page() { return *page_; }
  bool DisplayTimerActive() const { return displayTimer_.isActive(); }

  // Display state of the timer contract.
  uint8_t FTickCount = 0;
  uint8_t FSlowCount = 0;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void BuildMenus();
  void BuildToolBar();
  QWidget* BuildLeftColumn();
  void BuildStatusBar();
  void ApplyTexts(uint8_t language);

  void OnSettingsRead();
  void OnDeviceListLoaded();
  void OnPortOpenTried(const QString& error);
  void FastStep();
  void ShowDebugInfo();
  void UpdateDeviceNode(int k);
  void ShowPortStatus();
  void ShowWriteOutcome(bool announce);
  void ShowPage(int page);
  void UpdateDisplayTimer();
  void CatchUpDisplay();
  void ArmDisplay();

  void ComButtonClick();
  void UserSetClick();
  void NewClick();
  void DeleteClick();
  void PropertyClick();
  void AboutClick();
  void SetLanguage(uint8_t language);
  void Open(const std::function<void()>& opener);

  Host& host_;
  Prompter& prompter_;
  WindowSeams seams_;
  QTimer displayTimer_;         // single shot, armed for the next tick that shows something
  QElapsedTimer displayClock_;  // display tick k is due k * 10 ms after the window was shown
  int64_t displayTicks_ = 0;
  bool displayRunning_ = false;  // started at the end of start-up, stopped by the exit

  std::unique_ptr<DeviceTree> tree_;
  std::unique_ptr<DevicePage> page_;
  QTreeWidget* treeView_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  QMenu* mni300_ = nullptr;
  QAction* mni101_ = nullptr;
  QAction* mni301_ = nullptr;
  QAction* mniTurnOn_ = nullptr;
  QLabel* lblProtocol_ = nullptr;
  QLabel* lblDevID_ = nullptr;
  QAction* lblDevIDAction_ = nullptr;
  RoundLamp* iLedTx_ = nullptr;
  RoundLamp* iLedRx_ = nullptr;
  QPushButton* btnCom_ = nullptr;
  QLineEdit* edtTreeData_ = nullptr;
  QLineEdit* edtArrEq_ = nullptr;
  QLineEdit* edtNode_ = nullptr;
  std::array<QLabel*, 4> statusPanels_{};
  uint32_t shownWriteSeq_ = 0;  // the last write outcome shown in the second panel
};

}  // namespace tessel
