#include "ui/trace/trace_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTextBlock>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "host/host.h"
#include "protocol/func_unit.h"

namespace tessel {

namespace {

constexpr int kGridRowHeight = 18;
constexpr int kMaxBase = 9000;

int32_t ClampToInt32(double v) {
  if (!(v == v)) return 0;  // NaN
  if (v >= static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  if (v <= static_cast<double>(std::numeric_limits<int32_t>::min()))
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);  // truncates toward zero
}

// AckCnt per SendCnt in percent: chunks can outnumber frames, so the product is taken in 64 bits
// and the quotient held at the largest value a code can show.
int32_t AckPercent(const TCommDebug& d) {
  if (d.SendCnt <= 0) return 0;
  const int64_t q = int64_t{d.AckCnt} * 100 / d.SendCnt;
  return static_cast<int32_t>(std::clamp<int64_t>(q, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int LineCount(const QPlainTextEdit* memo) {
  const QTextDocument* doc = memo->document();
  return doc->isEmpty() ? 0 : doc->blockCount();
}

void SetTextIfChanged(QTableWidgetItem* item, const QString& text) {
  if (item->text() != text) item->setText(text);
}

}  // namespace

QString TraceFrameLine(const uint8_t* data, int n, bool hex) {
  if (data == nullptr || n <= 0) return {};
  if (hex) return QString::fromStdString(BytesToHex(data, n, " "));
  QString line;
  line.reserve(n);
  for (int i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    const bool plain = b == 10 || b == 13 || (b >= '0' && b <= 'z') || b == '~';
    line += QChar(plain ? b : 127);
  }
  return line;
}

double TraceRate(const TCommDebug& d) {
  if (d.SendCnt <= 0) return 0;
  return static_cast<double>(d.AckOkCnt) * 100.0 / static_cast<double>(d.SendCnt);
}

QString TraceCommInfo(const TCommDebug& d) {
  return QString("Send:%1;  AcK:%2;  AckOK:%3;  Rate:%4")
      .arg(d.SendCnt)
      .arg(d.AckCnt)
      .arg(d.AckOkCnt)
      .arg(d.Rate, 0, 'f', 1);
}

QString TraceCommErr(const TCommDebug& d) {
  QString s;
  for (int i = 0; i < 6; ++i)
    if (d.ErrCnt[i] > 0) s += QString("%1:%2; ").arg(QChar('A' + i)).arg(d.ErrCnt[i]);
  return s;
}

int32_t DebugValue(const Context& ctx, const TCommMaster& master, uint16_t code) {
  const CommState& c = ctx.comm;
  const TCommDebug& d = c.Debug;
  const TPollState& ps = c.PollState;
  const TPortInfo& port = ctx.settings.PortInfo;
  const auto& table = ctx.model.UpsTable;

  switch (code) {
    case 21:
      return master.CommIsOpen() ? 1 : 0;
    case 22:
      return master.PortSettings().BaudRate;
    case 23:
      return master.PortSettings().ReadIntervalTimeout;
    case 24:
      return d.SendCnt;
    case 25:
      return d.AckCnt;
    case 26:
      return AckPercent(d);
    case 27:
      return port.WaitTimer;
    case 28:
      return port.MaxReSend;
    case 29:
      return port.CommErrCnt;
    case 30:
      return port.CommLostCnt;
    case 50:
      return ps.Awaiting ? 1 : 0;
    case 51:
      return ps.Reserved1;
    case 52:
      return ps.Reserved2;
    case 53:
      return ps.WaitTicks;
    case 54:
      return ps.SendCount;
    case 55:
      return ps.SendLimit;
    case 56:
      return ps.FrameLen;
    case 57:
      return ps.SchedState;
    case 58:
      return port.Protocol;
    case 100:
      return d.SendCnt;
    case 101:
      return d.Reserved;
    case 102:
      return d.AckCnt;
    case 103:
      return d.AckOkCnt;
    case 104:
      return ClampToInt32(d.Rate);
    case 105:
      return AckPercent(d);
    default:
      break;
  }
  if (code >= 110 && code <= 119) return d.ErrCnt[code - 110];
  if (code >= 200 && code <= 209) return table[code - 200].PollCnt;
  if (code >= 210 && code <= 219) return table[code - 210].OkCnt;
  if (code >= 220 && code <= 229) return table[code - 220].RecvCnt;
  if (code >= 300 && code < 300 + static_cast<int>(c.DbgVar.size())) return c.DbgVar[code - 300];
  if (code >= 1000 && code < 1000 + static_cast<int>(c.DbgCnt.size())) return c.DbgCnt[code - 1000];
  return 0;
}

TFrmCom::TFrmCom(Host& host, QWidget* parent) : QWidget(parent, Qt::Window), host_(host) {
  setObjectName("TFrmCom");
  setWindowTitle("Trace");
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  // The main window's exit ends the program; an open Trace window must not keep it running with
  // the host already stopped.
  setAttribute(Qt::WA_QuitOnClose, false);

  auto named = [](QWidget* w, const char* name, const QString& accessible = {}) {
    w->setObjectName(name);
    if (!accessible.isEmpty()) w->setAccessibleName(accessible);
  };
  auto memo = [&](const char* name, const QString& accessible) {
    auto* m = new QPlainTextEdit(this);
    named(m, name, accessible);
    m->setReadOnly(true);
    m->setLineWrapMode(QPlainTextEdit::NoWrap);
    m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m->setFont(QFont("Monospace"));
    m->viewport()->installEventFilter(this);
    return m;
  };

  // Received chunks.
  label2_ = new QLabel("Accept:", this);
  named(label2_, "Label2");
  memoRx_ = memo("MemoRx", "Received frames");
  label2_->setBuddy(memoRx_);
  checkbox1_ = new QCheckBox("ASCII", this);
  named(checkbox1_, "checkbox1");
  checkbox1_->setChecked(true);
  btnClrRx_ = new QPushButton("Clear", this);
  named(btnClrRx_, "btnClrRx");
  lbCommInfo_ = new QLabel(this);
  named(lbCommInfo_, "lb_CommInfo");
  lbCommErr_ = new QLabel(this);
  named(lbCommErr_, "lb_CommErr");
  lbCommErr_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  // Sent frames.
  label3_ = new QLabel("Send:", this);
  named(label3_, "Label3");
  memoTx_ = memo("MemoTx", "Sent frames");
  label3_->setBuddy(memoTx_);
  checkBox2_ = new QCheckBox("ASCII", this);
  named(checkBox2_, "CheckBox2");
  checkBox2_->setChecked(true);
  label4_ = new QLabel(QString::fromUtf8("Resend："), this);
  named(label4_, "Label4");
  edtReCnt_ = new QLineEdit("0", this);
  named(edtReCnt_, "edtReCnt", "Resend count");
  edtReCnt_->setReadOnly(true);
  edtReCnt_->setMaximumWidth(60);
  label4_->setBuddy(edtReCnt_);
  edtRecDly_ = new QLineEdit("0", this);
  named(edtRecDly_, "edtRecDly", "Ticks to the next data log sample");
  edtRecDly_->setReadOnly(true);
  edtRecDly_->setMaximumWidth(80);

  // Send mode and the hand-typed frame.
  rgSendMode_ = new QGroupBox("Send Mode", this);
  named(rgSendMode_, "rgSendMode");
  rbAuto_ = new QRadioButton("Auto", rgSendMode_);
  named(rbAuto_, "rbAuto");
  rbManual_ = new QRadioButton("Manual", rgSendMode_);
  named(rbManual_, "rbManual");
  rbAuto_->setChecked(true);
  auto* modeRow = new QHBoxLayout(rgSendMode_);
  modeRow->addWidget(rbAuto_);
  modeRow->addWidget(rbManual_);
  edtTx_ = new QLineEdit(this);
  named(edtTx_, "edtTx", "Frame to send in hexadecimal");
  btnMSend_ = new QPushButton("Send", this);
  named(btnMSend_, "btnMSend");

  // Debug grid.
  chkHex_ = new QCheckBox("Hex", this);
  named(chkHex_, "chkHex");
  medtAddr_ = new QSpinBox(this);
  named(medtAddr_, "medtAddr", "First debug code");
  medtAddr_->setRange(0, kMaxBase);
  medtAddr_->setValue(0);
  medtAddr_->setButtonSymbols(QAbstractSpinBox::NoButtons);
  medtAddr_->setMaximumWidth(70);
  strGrdDbg_ = new QTableWidget(kGridRows, 2, this);
  named(strGrdDbg_, "strGrdDbg", "Debug values");
  strGrdDbg_->horizontalHeader()->hide();
  strGrdDbg_->verticalHeader()->hide();
  strGrdDbg_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  strGrdDbg_->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
  strGrdDbg_->horizontalHeader()->setStretchLastSection(true);
  strGrdDbg_->setColumnWidth(0, 56);
  strGrdDbg_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  strGrdDbg_->setSelectionMode(QAbstractItemView::SingleSelection);
  strGrdDbg_->viewport()->installEventFilter(this);
  const QBrush fixed = palette().brush(QPalette::Button);
  for (int r = 0; r < kGridRows; ++r) {
    for (int col = 0; col < 2; ++col) {
      auto* item = new QTableWidgetItem;
      if (r == 0 || col == 0) item->setBackground(fixed);
      if (col == 1) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      strGrdDbg_->setItem(r, col, item);
    }
  }
  strGrdDbg_->setMinimumWidth(170);
  chkDbgShow_ = new QCheckBox("Debug show", this);
  named(chkDbgShow_, "chkDbgShow");

  // Layout: traffic on the left, the debug grid on the right.
  auto* rxHead = new QHBoxLayout;
  rxHead->addWidget(label2_);
  rxHead->addStretch();
  rxHead->addWidget(checkbox1_);
  rxHead->addWidget(btnClrRx_);
  auto* counters = new QHBoxLayout;
  counters->addWidget(lbCommInfo_, 1);
  counters->addWidget(lbCommErr_, 1);
  auto* txHead = new QHBoxLayout;
  txHead->addWidget(label3_);
  txHead->addStretch();
  txHead->addWidget(checkBox2_);
  txHead->addWidget(label4_);
  txHead->addWidget(edtReCnt_);
  txHead->addWidget(edtRecDly_);
  auto* sendRow = new QHBoxLayout;
  sendRow->addWidget(rgSendMode_);
  sendRow->addWidget(edtTx_, 1);
  sendRow->addWidget(btnMSend_);
  auto* left = new QVBoxLayout;
  left->addLayout(rxHead);
  left->addWidget(memoRx_, 3);
  left->addLayout(counters);
  left->addLayout(txHead);
  left->addWidget(memoTx_, 2);
  left->addLayout(sendRow);
  auto* gridHead = new QHBoxLayout;
  gridHead->addWidget(chkHex_);
  gridHead->addStretch();
  gridHead->addWidget(medtAddr_);
  auto* right = new QVBoxLayout;
  right->addLayout(gridHead);
  right->addWidget(strGrdDbg_, 1);
  right->addWidget(chkDbgShow_);
  auto* top = new QHBoxLayout(this);
  top->addLayout(left, 3);
  top->addLayout(right, 1);
  resize(760, 520);

  // Auto at start: nothing to type or send.
  edtTx_->setEnabled(false);
  btnMSend_->setEnabled(false);

  connect(rbManual_, &QRadioButton::toggled, this, [this] { SendModeClicked(); });
  connect(btnMSend_, &QPushButton::clicked, this, [this] { SendManualFrame(); });
  connect(edtTx_, &QLineEdit::returnPressed, this, [this] {
    if (btnMSend_->isEnabled()) SendManualFrame();
  });
  connect(btnClrRx_, &QPushButton::clicked, this, [this] { ClearCounters(); });
  connect(chkDbgShow_, &QCheckBox::clicked, this, [this](bool on) {
    host_.CatchUp();
    host_.Ctx().comm.Debug.DbgShow = on ? kFlagOn : kFlagOff;
    host_.Rearm();
  });
  connect(chkHex_, &QCheckBox::toggled, this, [this] {
    if (host_.Ctx().comm.TraceShown) RefreshDebug();
  });
  connect(medtAddr_, &QSpinBox::valueChanged, this, [this] {
    if (host_.Ctx().comm.TraceShown) RefreshDebug();
  });

  // The master exists once the host has started; attach as soon as it does.
  if (host_.Started()) {
    host_.Core().Master().SetTraceSink(this);
  } else {
    connect(&host_, &Host::portOpenTried, this,
            [this] { host_.Core().Master().SetTraceSink(this); });
  }
}

TFrmCom::~TFrmCom() {
  if (host_.Started()) host_.Core().Master().SetTraceSink(nullptr);
}

void TFrmCom::AppendLine(QPlainTextEdit* memo, const uint8_t* data, int n, bool hex) {
  if (LineCount(memo) > kMemoMaxLines) memo->clear();
  memo->appendPlainText(TraceFrameLine(data, n, hex));
}

void TFrmCom::ShowTxFrame(const uint8_t* data, int n) {
  AppendLine(memoTx_, data, n, checkBox2_->isChecked());
}

void TFrmCom::ShowRxFrame(const uint8_t* data, int n) {
  AppendLine(memoRx_, data, n, checkbox1_->isChecked());
}

void TFrmCom::RefreshDebug() {
  const Context& ctx = host_.Ctx();
  const TCommMaster& master = host_.Core().Master();
  const int base = medtAddr_->value();
  const bool hex = chkHex_->isChecked();
  for (int r = 0; r < kGridRows - 1; ++r) {
    const int code = base + r;
    const int32_t v = DebugValue(ctx, master, static_cast<uint16_t>(code & 0xFFFF));
    SetTextIfChanged(strGrdDbg_->item(r + 1, 0), QString::number(code));
    SetTextIfChanged(strGrdDbg_->item(r + 1, 1),
                     hex ? QString("%1").arg(static_cast<uint32_t>(v), 4, 16, QChar('0')).toUpper()
                         : QString::number(v));
  }

  TCommDebug& d = host_.Ctx().comm.Debug;
  d.Rate = TraceRate(d);
  const QString info = TraceCommInfo(d);
  if (lbCommInfo_->text() != info) lbCommInfo_->setText(info);
  const QString err = TraceCommErr(d);
  if (lbCommErr_->text() != err) lbCommErr_->setText(err);
  const QString resend = QString::number(ctx.comm.PollState.SendCount);
  if (edtReCnt_->text() != resend) edtReCnt_->setText(resend);
}

void TFrmCom::ShowRecDly(int32_t recDly) {
  const QString text = QString::number(recDly);
  if (edtRecDly_->text() != text) edtRecDly_->setText(text);
}

void TFrmCom::ShowTrace() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void TFrmCom::HideTrace() {
  hide();  // hideEvent puts the send mode back to Auto
}

void TFrmCom::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  host_.CatchUp();
  host_.Ctx().comm.TraceShown = kFlagOn;
  host_.Rearm();
  chkDbgShow_->setChecked(host_.Ctx().comm.Debug.DbgShow != 0);
}

void TFrmCom::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  // A window nobody can see must not keep automatic polling paused. Minimising is not hiding:
  // the window stays at hand, and the system sends that as a spontaneous event.
  if (!e->spontaneous()) SelectAuto();
}

void TFrmCom::closeEvent(QCloseEvent* e) {
  host_.CatchUp();
  host_.Ctx().comm.TraceShown = kFlagOff;
  host_.Rearm();
  SelectAuto();
  e->accept();
}

void TFrmCom::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow()) {
    // The Modbus-based protocols are binary: show their traffic in hexadecimal.
    const uint8_t protocol = host_.Ctx().settings.PortInfo.Protocol;
    if (protocol == 2 || protocol == 3) {
      checkbox1_->setChecked(true);
      checkBox2_->setChecked(true);
    }
  }
}

void TFrmCom::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(e);
}

bool TFrmCom::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::MouseButtonDblClick) {
    if (watched == memoRx_->viewport()) {
      memoRx_->clear();
      return true;
    }
    if (watched == memoTx_->viewport()) {
      memoTx_->clear();
      return true;
    }
    if (watched == strGrdDbg_->viewport()) {
      ClearDebugArrays();
      return true;
    }
  }
  return QWidget::eventFilter(watched, e);
}

void TFrmCom::SendModeClicked() {
  const bool manual = rbManual_->isChecked();
  edtTx_->setEnabled(manual);
  btnMSend_->setEnabled(manual);
  if (!host_.Started()) return;
  TCommMaster& master = host_.Core().Master();
  if (master.ManualMode() == manual) return;
  host_.CatchUp();
  master.SetManualMode(manual);
  host_.Rearm();
}

void TFrmCom::SelectAuto() {
  rbAuto_->setChecked(true);  // toggles Manual off, which runs SendModeClicked
  SendModeClicked();          // and once more when it was already Auto: the master may differ
}

void TFrmCom::SendManualFrame() {
  if (!host_.Started()) return;
  std::vector<uint8_t> bytes = HexToBytes(edtTx_->text().toStdString());
  if (bytes.size() > static_cast<size_t>(kMaxFrame)) bytes.resize(kMaxFrame);
  host_.CatchUp();
  CommState& c = host_.Ctx().comm;
  const int n = static_cast<int>(bytes.size());
  c.PollState.FrameLen = n;
  std::copy(bytes.begin(), bytes.end(), c.TxBuf.begin());
  host_.Core().Master().SendFrame(c.TxBuf.data(), static_cast<uint16_t>(n));
  host_.Rearm();
}

void TFrmCom::ClearCounters() {
  memoRx_->clear();
  host_.CatchUp();
  TCommDebug& d = host_.Ctx().comm.Debug;
  d.SendCnt = 0;
  d.AckCnt = 0;
  d.AckOkCnt = 0;
  std::fill(d.ErrCnt.begin(), d.ErrCnt.begin() + 6, 0);  // 6..9 are kept
  host_.Rearm();
  if (host_.Ctx().comm.TraceShown && host_.Started()) RefreshDebug();
}

void TFrmCom::ClearDebugArrays() {
  host_.CatchUp();
  CommState& c = host_.Ctx().comm;
  c.DbgVar.fill(0);
  c.DbgCnt.fill(0);
  host_.Rearm();
  if (c.TraceShown && host_.Started()) RefreshDebug();
}

}  // namespace tessel
