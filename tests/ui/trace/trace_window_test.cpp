// The Trace window over a real host whose port is open on a pseudo-terminal: the memo lines, the
// counters, the debug grid, the send mode, and a hand-typed frame travelling over the line.
#include "ui/trace/trace_window.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <array>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "log/temp_folder.h"
#include "ui/run_until.h"

namespace tessel {
namespace {

using testing::TempFolder;

QString Del(int n = 1) {
  return QString(n, QChar(127));
}

TEST(TraceFrameLine, HexAndCharacterForms) {
  struct Case {
    std::vector<uint8_t> bytes;
    bool hex;
    QString line;
  };
  const Case cases[] = {
      {{0x7E, 0x31}, true, "7E 31 "},
      {{0x00, 0xFF, 0x0a}, true, "00 FF 0A "},
      {{}, true, ""},
      {{}, false, ""},
      // '0'..'z', '~', line feed and carriage return stand for themselves ...
      {{'0', 'A', 'z', '~', 10, 13}, false, QString("0Az~\n\r")},
      // ... everything else, the blank included, becomes the character 127.
      {{' '}, false, Del()},
      {{'/', '{', '}', 0x00, 0x7F, 0x80, 0xFF}, false, Del(7)},
      {{'~', '2', '0', 0x01, 'A'}, false, "~20" + Del() + "A"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TraceFrameLine(c.bytes.data(), static_cast<int>(c.bytes.size()), c.hex), c.line)
        << c.line.toStdString();
}

TEST(TraceCounters, InfoAndRejectionLines) {
  TCommDebug d;
  EXPECT_EQ(TraceCommInfo(d), "Send:0;  AcK:0;  AckOK:0;  Rate:0.0");
  EXPECT_EQ(TraceCommErr(d), "");
  EXPECT_EQ(TraceRate(d), 0.0);

  d.SendCnt = 3;
  d.AckCnt = 5;
  d.AckOkCnt = 2;
  d.Rate = TraceRate(d);
  EXPECT_EQ(TraceCommInfo(d), "Send:3;  AcK:5;  AckOK:2;  Rate:66.7");

  d.ErrCnt = {0, 2, 0, 0, 0, 7, 9, 9, 9, 9};  // entries 6..9 are not part of the line
  EXPECT_EQ(TraceCommErr(d), "B:2; F:7; ");
}

// A pseudo-terminal: the program's port opens on its far end, the test reads and writes the near
// end.
class Line {
 public:
  Line() {
    char name[256];
    if (openpty(&near_, &far_, name, nullptr, nullptr) == 0) name_ = name;
    if (near_ >= 0) fcntl(near_, F_SETFL, fcntl(near_, F_GETFL) | O_NONBLOCK);
  }
  ~Line() {
    if (far_ >= 0) close(far_);
    if (near_ >= 0) close(near_);
  }
  const std::string& Name() const { return name_; }
  std::vector<uint8_t> ReadAll() {
    std::vector<uint8_t> out;
    uint8_t buf[512];
    ssize_t n;
    while ((n = read(near_, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
    return out;
  }
  bool Write(const std::vector<uint8_t>& bytes) {
    return write(near_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

 private:
  int near_ = -1, far_ = -1;
  std::string name_;
};

class TraceWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No units in the list: nothing is polled, so the line carries only what the test sends.
    std::ofstream(home_ / "UserParaIni.ini")
        << "[CommPort]\nComName=" << line_.Name() << "\nBaudRate=9600\nProtocol=2\n";
    host_ = std::make_unique<Host>(MakeProgramPaths(home_.Path().string()));
    trace_ = std::make_unique<TFrmCom>(*host_);
    host_->Start();
    ASSERT_TRUE(host_->PortIsOpen());
  }
  void TearDown() override {
    trace_.reset();
    if (host_) host_->Stop();
    host_.reset();
  }
  template <class T>
  T* Find(const char* name) const {
    T* found = trace_->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QString Cell(int row) const { return Find<QTableWidget>("strGrdDbg")->item(row, 1)->text(); }
  QString Code(int row) const { return Find<QTableWidget>("strGrdDbg")->item(row, 0)->text(); }
  CommState& Comm() { return host_->Ctx().comm; }
  TCommMaster& Master() { return host_->Core().Master(); }
  void SelectManual() {
    Find<QRadioButton>("rbManual")->click();
    ASSERT_TRUE(Master().ManualMode());
    ASSERT_TRUE(Find<QPushButton>("btnMSend")->isEnabled());
  }

  TempFolder home_;
  Line line_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<TFrmCom> trace_;
};

TEST_F(TraceWindowTest, MemoFollowsItsBoxAndIsClearedPastFourHundredLines) {
  trace_->ShowTrace();
  auto* rx = Find<QPlainTextEdit>("MemoRx");
  auto* tx = Find<QPlainTextEdit>("MemoTx");
  const uint8_t frame[] = {'~', ' ', 0x31};

  trace_->ShowRxFrame(frame, 3);
  trace_->ShowTxFrame(frame, 3);
  EXPECT_EQ(rx->toPlainText(), "7E 20 31 ");
  Find<QCheckBox>("CheckBox2")->setChecked(false);  // each memo follows its own box
  trace_->ShowTxFrame(frame, 3);
  EXPECT_EQ(tx->toPlainText(), "7E 20 31 \n~" + Del() + "1");

  rx->clear();
  for (int i = 0; i < TFrmCom::kMemoMaxLines; ++i) trace_->ShowRxFrame(frame, 3);
  trace_->ShowRxFrame(frame, 3);
  EXPECT_EQ(rx->document()->blockCount(), TFrmCom::kMemoMaxLines + 1);  // 400 is not more
  const uint8_t last[] = {0xAB};
  trace_->ShowRxFrame(last, 1);
  EXPECT_EQ(rx->toPlainText(), "AB ");
}

TEST_F(TraceWindowTest, HidingInAnyWayReturnsToAuto) {
  struct Way {
    const char* name;
    std::function<void(TFrmCom&)> hide;
    bool stillShown;  // TraceShown after hiding
  };
  const Way ways[] = {
      {"close button", [](TFrmCom& w) { w.close(); }, false},
      {"Escape",
       [](TFrmCom& w) {
         QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
         QApplication::sendEvent(&w, &esc);
       },
       false},
      {"seam", [](TFrmCom& w) { w.HideTrace(); }, true},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    trace_->ShowTrace();
    EXPECT_TRUE(Comm().TraceShown);
    EXPECT_FALSE(Find<QLineEdit>("edtTx")->isEnabled());
    SelectManual();
    way.hide(*trace_);
    EXPECT_FALSE(trace_->isVisible());
    EXPECT_FALSE(Master().ManualMode());
    EXPECT_TRUE(Find<QRadioButton>("rbAuto")->isChecked());
    EXPECT_FALSE(Find<QLineEdit>("edtTx")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("btnMSend")->isEnabled());
    EXPECT_EQ(Comm().TraceShown != 0, way.stillShown);
  }
}

TEST_F(TraceWindowTest, DebugGridCodesAndBases) {
  trace_->ShowTrace();
  auto* base = Find<QSpinBox>("medtAddr");
  auto* grid = Find<QTableWidget>("strGrdDbg");
  ASSERT_EQ(grid->rowCount(), TFrmCom::kGridRows);
  ASSERT_TRUE(RunUntil([&] { return Comm().DbgVar[11] >= 2; }));

  // Base 0: the port and counter codes 21..30 in rows 22..31.
  Comm().Debug.SendCnt = 4;
  Comm().Debug.AckCnt = 3;
  host_->Ctx().settings.PortInfo.MaxReSend = 3;
  trace_->RefreshDebug();
  EXPECT_EQ(grid->item(0, 0)->text(), "");
  EXPECT_EQ(Code(1), "0");
  EXPECT_EQ(Cell(1), "0");
  EXPECT_EQ(Code(22), "21");
  EXPECT_EQ(Cell(22), "1");     // the port is open
  EXPECT_EQ(Cell(23), "9600");  // its baud rate
  EXPECT_EQ(Cell(25), "4");     // SendCnt
  EXPECT_EQ(Cell(27), "75");    // AckCnt per SendCnt
  EXPECT_EQ(Cell(29), "3");     // MaxReSend
  EXPECT_EQ(Code(100), "99");

  // Base 300: the twenty DbgVar entries; the tick interval and the tick count.
  base->setValue(300);
  trace_->RefreshDebug();
  EXPECT_EQ(Code(1), "300");
  EXPECT_EQ(Cell(2), "100");
  EXPECT_EQ(Cell(12), QString::number(Comm().DbgVar[11]));
  EXPECT_EQ(Code(21), "320");
  EXPECT_EQ(Cell(21), "0");  // past the last entry

  // Hex: four or more digits, negative values as their 32-bit pattern.
  Comm().DbgVar[3] = 255;
  Comm().DbgVar[4] = -1;
  Find<QCheckBox>("chkHex")->setChecked(true);
  trace_->RefreshDebug();
  EXPECT_EQ(Cell(4), "00FF");
  EXPECT_EQ(Cell(5), "FFFFFFFF");
  Find<QCheckBox>("chkHex")->setChecked(false);

  // Base 1000: the DbgCnt entries up to 1099; a double click on the grid zeroes both arrays.
  Comm().DbgCnt[5] = 7;
  Comm().DbgCnt[100] = 8;
  base->setValue(1000);
  trace_->RefreshDebug();
  EXPECT_EQ(Code(100), "1099");
  EXPECT_EQ(Cell(6), "7");
  QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(grid->viewport(), &dbl);
  EXPECT_EQ(Comm().DbgCnt[100], 0);
  EXPECT_EQ(Comm().DbgVar[3], 0);
  for (int r = 1; r < TFrmCom::kGridRows; ++r) EXPECT_EQ(Cell(r), "0") << r;

  // Highest base: codes 9000..9099 name nothing.
  base->setValue(99999);
  EXPECT_EQ(base->value(), 9000);
  trace_->RefreshDebug();
  EXPECT_EQ(Code(100), "9099");
  EXPECT_EQ(Cell(100), "0");
}

TEST_F(TraceWindowTest, RatesHoldAtTheLargestValueInsteadOfOverflowing) {
  TCommDebug& d = Comm().Debug;
  d.SendCnt = 1;
  d.AckCnt = std::numeric_limits<int32_t>::max();  // chunks can far outnumber frames
  d.AckOkCnt = std::numeric_limits<int32_t>::max();
  d.Rate = TraceRate(d);
  EXPECT_DOUBLE_EQ(d.Rate, 214748364700.0);
  for (uint16_t code : {26, 104, 105})
    EXPECT_EQ(DebugValue(host_->Ctx(), Master(), code), std::numeric_limits<int32_t>::max())
        << code;
  d.SendCnt = 0;
  EXPECT_EQ(DebugValue(host_->Ctx(), Master(), 26), 0);
  EXPECT_EQ(TraceRate(d), 0.0);
}

TEST_F(TraceWindowTest, ClearZeroesTheCountersItOwns) {
  trace_->ShowTrace();
  TCommDebug& d = Comm().Debug;
  d.SendCnt = 5;
  d.AckCnt = 4;
  d.AckOkCnt = 3;
  d.ErrCnt = {1, 1, 1, 1, 1, 1, 6, 7, 8, 9};
  Comm().DbgCnt[2] = 11;
  const uint8_t chunk[] = {'1'};
  trace_->ShowRxFrame(chunk, 1);
  Find<QPushButton>("btnClrRx")->click();
  EXPECT_EQ(Find<QPlainTextEdit>("MemoRx")->toPlainText(), "");
  EXPECT_EQ(d.SendCnt + d.AckCnt + d.AckOkCnt, 0);
  EXPECT_EQ(d.ErrCnt, (std::array<int32_t, 10>{0, 0, 0, 0, 0, 0, 6, 7, 8, 9}));
  EXPECT_EQ(Comm().DbgCnt[2], 11);
  EXPECT_EQ(Find<QLabel>("lb_CommInfo")->text(), "Send:0;  AcK:0;  AckOK:0;  Rate:0.0");
  EXPECT_EQ(Find<QLabel>("lb_CommErr")->text(), "");
}

// The Modbus-based protocols are binary: activating the window puts both memos in hexadecimal.
TEST_F(TraceWindowTest, ActivationWithModbusShowsHex) {
  Find<QCheckBox>("checkbox1")->setChecked(false);
  Find<QCheckBox>("CheckBox2")->setChecked(false);
  trace_->ShowTrace();
  ASSERT_TRUE(RunUntil([&] { return trace_->isActiveWindow(); }, 5000));
  EXPECT_TRUE(Find<QCheckBox>("checkbox1")->isChecked());
  EXPECT_TRUE(Find<QCheckBox>("CheckBox2")->isChecked());
}

TEST_F(TraceWindowTest, DebugShowFollowsTheFlag) {
  Comm().Debug.DbgShow = kFlagOn;
  trace_->ShowTrace();
  auto* box = Find<QCheckBox>("chkDbgShow");
  EXPECT_TRUE(box->isChecked());
  box->click();
  EXPECT_EQ(Comm().Debug.DbgShow, kFlagOff);
}

// The program ends when its main window closes, also while the Trace window is open.
TEST_F(TraceWindowTest, OpenTraceWindowDoesNotKeepTheProgramRunning) {
  QWidget main;
  main.show();
  trace_->ShowTrace();
  QTimer::singleShot(0, &main, [&main] { main.close(); });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QApplication::exit(1); });
  guard.start(5000);
  EXPECT_EQ(QApplication::exec(), 0);
}

// A frame typed by hand goes out byte for byte, the answer comes back into the receive memo.
TEST_F(TraceWindowTest, HandTypedFrameCrossesTheLine) {
  trace_->ShowTrace();
  SelectManual();
  line_.ReadAll();
  const int sent = Comm().Debug.SendCnt;

  Find<QLineEdit>("edtTx")->setText("7e3230 3031 zz 4");  // non-digits skipped, odd digit dropped
  Find<QPushButton>("btnMSend")->click();
  const std::vector<uint8_t> want = {0x7E, 0x32, 0x30, 0x30, 0x31};
  std::vector<uint8_t> got;
  ASSERT_TRUE(RunUntil([&] {
    const auto more = line_.ReadAll();
    got.insert(got.end(), more.begin(), more.end());
    return got.size() >= want.size();
  }));
  EXPECT_EQ(got, want);
  EXPECT_EQ(Comm().PollState.FrameLen, 5);
  EXPECT_EQ(Find<QPlainTextEdit>("MemoTx")->toPlainText(), "7E 32 30 30 31 ");

  ASSERT_TRUE(line_.Write({0x01, 0x03, 0x02, 0x00, 0x2A}));
  auto* rx = Find<QPlainTextEdit>("MemoRx");
  ASSERT_TRUE(RunUntil([&] { return !rx->toPlainText().isEmpty(); }));
  EXPECT_EQ(rx->toPlainText(), "01 03 02 00 2A ");

  // Text without digits: nothing reaches the line, but it counts and leaves an empty line.
  Find<QLineEdit>("edtTx")->setText("xyz: ghost");  // no 0-9 nor a-f
  Find<QPushButton>("btnMSend")->click();
  EXPECT_EQ(Comm().Debug.SendCnt, sent + 2);
  EXPECT_EQ(Find<QPlainTextEdit>("MemoTx")->document()->blockCount(), 2);
  QApplication::processEvents();
  EXPECT_TRUE(line_.ReadAll().empty());

  // More than 256 bytes: the first 256 go out.
  Find<QLineEdit>("edtTx")->setText(QString("A5").repeated(300));
  Find<QPushButton>("btnMSend")->click();
  got.clear();
  ASSERT_TRUE(RunUntil([&] {
    const auto more = line_.ReadAll();
    got.insert(got.end(), more.begin(), more.end());
    return got.size() >= 256;
  }));
  QApplication::processEvents(QEventLoop::AllEvents, 50);
  const auto rest = line_.ReadAll();
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, std::vector<uint8_t>(256, 0xA5));
}

}  // namespace
}  // namespace tessel
