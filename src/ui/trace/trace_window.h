// The Trace window: the service view of the communication master. It shows every frame sent and
// every chunk received, the traffic counters and a grid of numbered debug values, pauses automatic
// polling for frames typed in hexadecimal, and switches the other windows into showing their debug
// details. It is a view: the master and its scheduler belong to the host, and every change made
// here goes through the host's CatchUp / Rearm so the idle ticks stay exact.
#pragma once

#include <QWidget>
#include <cstdint>

#include "comm/comm_master.h"
#include "ui/common/trace_seam.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;

namespace tessel {

class Host;
struct Context;

// The line a memo shows for a frame: in hexadecimal each byte as two uppercase digits and a
// blank; otherwise the bytes as characters, where only line ends, '0'..'z' and '~' stand for
// themselves and every other byte becomes the character 127.
QString TraceFrameLine(const uint8_t* data, int n, bool hex);

// "Send:n;  AcK:n;  AckOK:n;  Rate:r.r" and the rejection counters "A:n; B:n; " (entries 0..5
// above 0 only).
QString TraceCommInfo(const TCommDebug& d);
QString TraceCommErr(const TCommDebug& d);

// AckOkCnt per SendCnt in percent, 0 before anything was sent; never overflows.
double TraceRate(const TCommDebug& d);

// The value behind a debug code; 0 for codes that name nothing.
int32_t DebugValue(const Context& ctx, const TCommMaster& master, uint16_t code);

class TFrmCom : public QWidget, public TraceSink, public TraceSeam {
 public:
  static constexpr int kGridRows = 101;      // a fixed first row, then 100 codes
  static constexpr int kMemoMaxLines = 400;  // a memo holding more is cleared before the next line
  static constexpr int kMaxFrame = kTxBufSize;

  explicit TFrmCom(Host& host, QWidget* parent = nullptr);
  ~TFrmCom() override;

  // TraceSink
  void ShowTxFrame(const uint8_t* data, int n) override;
  void ShowRxFrame(const uint8_t* data, int n) override;
  void RefreshDebug() override;
  void ShowRecDly(int32_t recDly) override;

  // TraceSeam
  bool TraceExists() const override { return true; }
  void ShowTrace() override;
  void HideTrace() override;

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void AppendLine(QPlainTextEdit* memo, const uint8_t* data, int n, bool hex);
  void SendModeClicked();
  void SelectAuto();
  void SendManualFrame();
  void ClearCounters();
  void ClearDebugArrays();

  Host& host_;
  QLabel* label2_;
  QPlainTextEdit* memoRx_;
  QCheckBox* checkbox1_;
  QPushButton* btnClrRx_;
  QLabel* lbCommInfo_;
  QLabel* lbCommErr_;
  QLabel* label3_;
  QPlainTextEdit* memoTx_;
  QCheckBox* checkBox2_;
  QLabel* label4_;
  QLineEdit* edtReCnt_;
  QLineEdit* edtRecDly_;
  QGroupBox* rgSendMode_;
  QRadioButton* rbAuto_;
  QRadioButton* rbManual_;
  QLineEdit* edtTx_;
  QPushButton* btnMSend_;
  QCheckBox* chkHex_;
  QSpinBox* medtAddr_;
  QTableWidget* strGrdDbg_;
  QCheckBox* chkDbgShow_;
};

}  // namespace tessel
