// The event log viewer over a real host and a prepared event log in a temporary program folder;
// the viewer's model is checked by QAbstractItemModelTester throughout.
#include "ui/logs/event_log_window.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "log/event_log.h"
#include "log/temp_folder.h"
#include "model/clock.h"
#include "ui/fake_prompter.h"
#include "ui/logs/grid_export.h"
#include "ui/run_until.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

TEventRec Rec(double time, int addr, int kind, int code, int alarmState = 255) {
  TEventRec r;
  r.Time = time;
  r.Address = static_cast<uint8_t>(addr);
  r.Kind = static_cast<uint8_t>(kind);
  r.Code = code;
  r.AlarmState = static_cast<uint8_t>(alarmState);
  return r;
}

double At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return EncodeDateTime(y, mo, d, h, mi, s);
}

// Ten records; the number each gets (counting from the end of the file) is in the comment. Built
// when asked: the time stamp arithmetic is not ready during static initialisation.
std::vector<TEventRec> TenRecords() {
  return {
      Rec(At(2023, 12, 31, 23, 59, 59), 0, 0, 20),    // 10 program started
      Rec(At(2024, 3, 1, 8, 0, 0), 5, 0, 22),         // 9  communication established
      Rec(At(2024, 3, 5, 9, 0, 0), 5, 1, 4),          // 8  "Online"
      Rec(At(2024, 3, 5, 10, 0, 0), 7, 2, 9, 1),      // 7  "Fan fault" appeared
      Rec(At(2024, 3, 5, 11, 0, 0), 7, 2, 9, 0),      // 6  ... and cleared
      Rec(At(2024, 3, 5, 11, 30, 0), 5, 2, 9999, 1),  // 5  unknown alarm: no row
      Rec(At(2024, 3, 5, 12, 0, 0), 5, 0, 18),        // 4  communication lost
      Rec(At(2024, 3, 5, 12, 0, 1), 5, 2, 9999, 0),   // 3  unknown alarm cleared: no row
      Rec(At(2024, 4, 2, 0, 0, 0), 12, 1, 5),         // 2  "Battery Status"
      Rec(At(2024, 4, 2, 0, 0, 5), 0, 0, 21),         // 1  program closed
  };
}

class EventLogWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(home_ / "UserParaIni.ini")
        << "[CommPort]\nComName=/dev/no-such-port\n[Language]\nLanguage=0\n";
    host_ = std::make_unique<Host>(MakeProgramPaths(home_.Path().string()));
    host_->Start();
  }
  void TearDown() override {
    tester_.reset();
    window_.reset();
    host_->Stop();
  }

  fs::path LogPath() const { return host_->Core().EventLog().FilePath(); }
  TEventLog& Log() { return host_->Core().EventLog(); }

  // Replaces the live file (and forgets the program-start event the host wrote).
  void WriteLog(const std::vector<TEventRec>& recs) {
    std::vector<uint8_t> bytes;
    bytes.reserve(recs.size() * kEventRecSize);
    for (const TEventRec& r : recs) {
      const auto b = EncodeEventRec(r);
      bytes.insert(bytes.end(), b.begin(), b.end());
    }
    WriteBytes(LogPath(), bytes);
    Log().Changed = 0;
  }

  TFrmEventLog& Open(uint8_t language = 0) {
    host_->Ctx().settings.Language = language;
    window_ = std::make_unique<TFrmEventLog>(*host_, prompter_);
    window_->Today = [] { return QDate(2024, 3, 5); };
    tester_ = std::make_unique<QAbstractItemModelTester>(
        &window_->Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    window_->show();
    Settle();
    return *window_;
  }
  void Settle() {
    ASSERT_TRUE(RunUntil([this] { return !window_->Busy(); }, 20000));
  }

  template <class T>
  T* Find(const char* name) const {
    T* found = window_->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  QString Cell(int row, int column) const {
    return window_->Model().index(row, column).data().toString();
  }
  std::vector<int> Numbers() const {
    std::vector<int> out;
    for (int r = 0; r < window_->Model().rowCount(); ++r) out.push_back(Cell(r, 0).toInt());
    return out;
  }
  void Query(EventViewMode mode, QDate date, int address = 0) {
    Find<QRadioButton>(kModeButtons[static_cast<int>(mode)])->click();
    Find<QSpinBox>("spedtYear")->setValue(date.year());
    Find<QSpinBox>("spedtMonth")->setValue(date.month());
    Find<QSpinBox>("spedtDate")->setValue(date.day());
    Find<QCheckBox>("CheckBox1")->setChecked(address != 0);
    if (address != 0) Find<QSpinBox>("SpinAddr")->setValue(address);
    Find<QPushButton>("btnSearch")->click();
    Settle();
  }

  static constexpr const char* kModeButtons[] = {"rdViewModeAll", "rdViewModeYear",
                                                 "rdViewModeMonth", "rdViewModeDate"};
  TempFolder home_;
  FakePrompter prompter_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<TFrmEventLog> window_;
  std::unique_ptr<QAbstractItemModelTester> tester_;
};

TEST_F(EventLogWindowTest, FiltersAndNumbersFromTheEndOfTheFile) {
  WriteLog(TenRecords());
  Open();
  // Opened on the month of today.
  EXPECT_TRUE(Find<QRadioButton>("rdViewModeMonth")->isChecked());
  EXPECT_EQ(Numbers(), (std::vector<int>{4, 6, 7, 8, 9}));

  using M = EventViewMode;
  const QDate day(2024, 3, 5);
  struct Case {
    M mode;
    QDate date;
    int address;
    std::vector<int> numbers;
  } const cases[] = {
      {M::All, day, 0, {1, 2, 4, 6, 7, 8, 9, 10}},
      {M::Year, day, 0, {1, 2, 4, 6, 7, 8, 9}},
      {M::Year, QDate(2023, 1, 1), 0, {10}},
      {M::Month, day, 0, {4, 6, 7, 8, 9}},
      {M::Date, day, 0, {4, 6, 7, 8}},
      {M::Date, day, 5, {4, 8}},  // the 3rd and 7th record of the file
      {M::All, day, 5, {4, 8, 9}},
      {M::All, day, 12, {2}},  // the program's own events never match an address
      {M::Month, QDate(2024, 5, 1), 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << static_cast<int>(c.mode) << " " << c.date.toString(Qt::ISODate).toStdString()
                 << " @" << c.address);
    Query(c.mode, c.date, c.address);
    EXPECT_EQ(Numbers(), c.numbers);
  }

  Query(M::All, day);
  ASSERT_EQ(window_->Model().rowCount(), 8);
  // Number 6 (row 3): the cleared alarm. Number 1 (row 0): a program event, no address.
  EXPECT_EQ(Cell(3, 1), "2024-03-05 11:00:00");
  EXPECT_EQ(Cell(3, 2), "7");
  EXPECT_EQ(Cell(3, 3), "Recover from: Fan fault");
  EXPECT_EQ(Cell(0, 2), "");
  EXPECT_EQ(Cell(0, 3), "Monitor software is closed");
}

TEST_F(EventLogWindowTest, ModeEnablesTheDateControlsWithoutAQuery) {
  WriteLog(TenRecords());
  Open();
  EXPECT_FALSE(Find<QSpinBox>("spedtDate")->isEnabled());
  EXPECT_FALSE(Find<QSpinBox>("SpinAddr")->isEnabled());
  struct Case {
    int mode;
    bool year, month, date;
  } const cases[] = {{0, false, false, false},
                     {3, true, true, true},
                     {1, true, false, false},
                     {2, true, true, false}};
  for (const Case& c : cases) {
    Find<QRadioButton>(kModeButtons[c.mode])->click();
    EXPECT_FALSE(window_->Busy());
    EXPECT_EQ(Find<QSpinBox>("spedtYear")->isEnabled(), c.year) << c.mode;
    EXPECT_EQ(Find<QSpinBox>("spedtMonth")->isEnabled(), c.month) << c.mode;
    EXPECT_EQ(Find<QSpinBox>("spedtDate")->isEnabled(), c.date) << c.mode;
  }
  Find<QCheckBox>("CheckBox1")->click();
  EXPECT_TRUE(Find<QSpinBox>("SpinAddr")->isEnabled());
  Find<QCheckBox>("CheckBox1")->click();
  EXPECT_FALSE(Find<QSpinBox>("SpinAddr")->isEnabled());
}

TEST_F(EventLogWindowTest, SortRulesOfHeaderRowsAndRefresh) {
  WriteLog(TenRecords());
  Open();
  Query(EventViewMode::All, QDate(2024, 3, 5));
  QTableView* grid = Find<QTableView>("grdEvntRec");
  QHeaderView* header = grid->horizontalHeader();
  const auto pressHeader = [&](int column) {
    emit header->sectionPressed(column);
    Settle();
  };
  const auto pressRow = [&](int row) {
    emit grid->pressed(window_->Model().index(row, 1));
    Settle();
  };
  const auto refresh = [&] {
    Find<QPushButton>("bsSkinButton1")->click();
    Settle();
  };
  // Each step sorts the rows as they stand (stable), so ties keep the order of the step before.
  struct Step {
    const char* what;
    std::function<void()> act;
    int sortCol;
    bool desc;
    std::vector<int> numbers;
  } const steps[] = {
      {"start", [] {}, 0, false, {1, 2, 4, 6, 7, 8, 9, 10}},  // numbers as numbers: 10 last
      {"header 0 flips", [&] { pressHeader(0); }, 0, true, {10, 9, 8, 7, 6, 4, 2, 1}},
      // Another column keeps the direction; no address (program events) sorts above 252.
      {"header 2", [&] { pressHeader(2); }, 2, true, {10, 1, 2, 7, 6, 9, 8, 4}},
      {"row press", [&] { pressRow(3); }, 2, true, {10, 1, 2, 7, 6, 9, 8, 4}},
      {"header 2 flips", [&] { pressHeader(2); }, 2, false, {9, 8, 4, 7, 6, 2, 10, 1}},
      {"header 3", [&] { pressHeader(3); }, 3, false, {2, 4, 9, 7, 1, 10, 8, 6}},
      {"header 1", [&] { pressHeader(1); }, 1, false, {10, 9, 8, 7, 6, 4, 2, 1}},
      {"refresh", refresh, 1, false, {10, 9, 8, 7, 6, 4, 2, 1}},
  };
  for (const Step& s : steps) {
    s.act();
    EXPECT_EQ(window_->SortCol, s.sortCol) << s.what;
    EXPECT_EQ(window_->SortDesc, s.desc) << s.what;
    EXPECT_EQ(Numbers(), s.numbers) << s.what;
    EXPECT_EQ(header->sortIndicatorSection(), s.sortCol) << s.what;
  }

  // A search keeps the order chosen, and the debug line tells it when asked for.
  host_->Ctx().comm.Debug.DbgShow = 255;
  pressHeader(0);
  pressHeader(0);
  Query(EventViewMode::Month, QDate(2024, 3, 5));
  EXPECT_EQ(Numbers(), (std::vector<int>{9, 8, 7, 6, 4}));
  EXPECT_EQ(Find<QLineEdit>("edt1")->text(), "FSortCol:0    FSortDir: DEC");
  EXPECT_FALSE(Find<QLineEdit>("edt1")->isHidden());
}

TEST_F(EventLogWindowTest, NewEventRefreshesWithinTheTickAndNothingElseWakesIt) {
  WriteLog(TenRecords());
  Log().Changed = 255;  // events logged while no viewer was open
  Open();
  EXPECT_TRUE(window_->RefreshPending());
  window_->RefreshTick();
  Settle();
  EXPECT_EQ(Log().Changed, 0);
  EXPECT_FALSE(window_->RefreshPending());

  emit Find<QTableView>("grdEvntRec")->horizontalHeader()->sectionPressed(0);
  Settle();
  ASSERT_TRUE(window_->SortDesc);
  // Without news, a tick changes nothing.
  window_->RefreshTick();
  EXPECT_FALSE(window_->Busy());
  EXPECT_TRUE(window_->SortDesc);

  Log().Append(Rec(At(2024, 3, 6, 7, 0, 0), 5, 1, 3));
  EXPECT_TRUE(window_->RefreshPending());
  window_->RefreshTick();
  Settle();
  // Everything moved up by one; the direction went back to ascending and the first row is
  // selected.
  EXPECT_EQ(Numbers(), (std::vector<int>{1, 5, 7, 8, 9, 10}));
  EXPECT_FALSE(window_->SortDesc);
  EXPECT_EQ(window_->SelRow, 1);
  EXPECT_EQ(Find<QTableView>("grdEvntRec")->currentIndex().row(), 0);
  EXPECT_EQ(Cell(0, 3), "Bypass Status");

  // The real timer, once.
  Log().Append(Rec(At(2024, 3, 6, 7, 0, 1), 5, 1, 4));
  ASSERT_TRUE(RunUntil([this] { return window_->Model().rowCount() == 7; },
                       TFrmEventLog::kRefreshMs + 10000));
}

TEST_F(EventLogWindowTest, ClearAsksAndOnYesArchivesAndEmpties) {
  WriteLog(TenRecords());
  Open(1);
  const auto before = ReadBytes(LogPath());
  Find<QPushButton>("btnClear")->click();
  ASSERT_EQ(prompter_.Asked.size(), 1u);
  EXPECT_EQ(prompter_.Asked[0], "是否清除掉所有的事件记录？");
  EXPECT_EQ(ReadBytes(LogPath()), before);
  EXPECT_EQ(window_->Model().rowCount(), 5);

  prompter_.Answers = {true};
  Find<QPushButton>("btnClear")->click();
  EXPECT_EQ(window_->Model().rowCount(), 0);
  EXPECT_EQ(fs::file_size(LogPath()), 0u);
  EXPECT_EQ(ReadBytes(home_ / "Backup" / "EventLog1.dat"), before);
  Find<QPushButton>("btnSearch")->click();
  Settle();
  EXPECT_EQ(window_->Model().rowCount(), 0);
}

TEST_F(EventLogWindowTest, TextsInBothLanguages) {
  WriteLog(TenRecords());
  struct Texts {
    uint8_t language;
    QStringList controls;  // title, range, modes, address, labels, buttons
    QStringList headers;
    QString cleared;
  } const cases[] = {
      {1,
       {"事件日志", "查询时间范围", "全部", "按年", "按月", "按日", "指定设备地址:", "年", "月",
        "日", "查询", "刷新", "汇出", "清空数据库"},
       {"序号", "时间", "设备地址", "事件"},
       "恢复于: 风扇故障"},
      {0,
       {"Event Log", "Search Type", "All", "Year", "Month", "Date", "Specify Equipment Address:",
        "Year", "Month", "Date", "Search", "Refresh", "Export", "Clear Database"},
       {"Index", "Time", "Address", "Event"},
       "Recover from: Fan fault"},
  };
  for (const Texts& c : cases) {
    Open(c.language);
    const QStringList shown = {window_->windowTitle(),
                               Find<QGroupBox>("rdViewMode")->title(),
                               Find<QRadioButton>("rdViewModeAll")->text(),
                               Find<QRadioButton>("rdViewModeYear")->text(),
                               Find<QRadioButton>("rdViewModeMonth")->text(),
                               Find<QRadioButton>("rdViewModeDate")->text(),
                               Find<QCheckBox>("CheckBox1")->text(),
                               Find<QLabel>("lblYear")->text(),
                               Find<QLabel>("lblMonth")->text(),
                               Find<QLabel>("lblDate")->text(),
                               Find<QPushButton>("btnSearch")->text(),
                               Find<QPushButton>("bsSkinButton1")->text(),
                               Find<QPushButton>("bsSkinButton2")->text(),
                               Find<QPushButton>("btnClear")->text()};
    EXPECT_EQ(shown, c.controls);
    QStringList headers;
    for (int col = 0; col < 4; ++col)
      headers << window_->Model().headerData(col, Qt::Horizontal).toString();
    EXPECT_EQ(headers, c.headers);
    EXPECT_EQ(Cell(1, 3), c.cleared);  // number 6
    // Controls without a text of their own carry a name in the same language.
    for (const char* name : {"spedtYear", "SpinAddr", "grdEvntRec", "edt1", "prgBusy"})
      EXPECT_FALSE(Find<QWidget>(name)->accessibleName().isEmpty()) << name;
    EXPECT_EQ(Find<QWidget>("grdEvntRec")->accessibleName(), c.controls[0]);
  }
}

TEST_F(EventLogWindowTest, ExportTakesTheRowsInTheOrderShown) {
  WriteLog(TenRecords());
  Open();
  emit Find<QTableView>("grdEvntRec")->horizontalHeader()->sectionPressed(2);
  Settle();
  ASSERT_EQ(Numbers(), (std::vector<int>{4, 8, 9, 6, 7}));
  const CsvTable table = window_->ExportTable();
  // The table is a copy: a later search does not change what is being written.
  Query(EventViewMode::All, QDate(2024, 3, 5));
  const fs::path out = home_ / "events.csv";
  const CsvResult result =
      ExportGridToFile(nullptr, prompter_, 0, table, QString::fromStdString(out.string()));
  ASSERT_TRUE(result.Ok());
  const auto bytes = ReadBytes(out);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "Index,Time,Address,Event,\r\n"
            "4,2024-03-05 12:00:00,5,Communication lost,\r\n"
            "8,2024-03-05 09:00:00,5,Online,\r\n"
            "9,2024-03-01 08:00:00,5,Communication upbuilt,\r\n"
            "6,2024-03-05 11:00:00,7,Recover from: Fan fault,\r\n"
            "7,2024-03-05 10:00:00,7,Fan fault,\r\n");
}

TEST_F(EventLogWindowTest, ShowsEveryMatchingRowOfALargeLogAndTheNewestSearchWins) {
  // 70,000 state records in March 2024, addresses 1, 2, 3 in turn, and one in February.
  constexpr int kCount = 70000;
  std::vector<TEventRec> recs;
  recs.reserve(kCount + 1);
  recs.push_back(Rec(At(2024, 2, 29, 23, 0, 0), 1, 0, 22));
  const double start = At(2024, 3, 1);
  for (int i = 0; i < kCount; ++i)
    recs.push_back(Rec(start + i / 86400.0 * 30, 1 + i % 3, 1, 1 + i % 11));
  WriteLog(recs);
  Open();
  ASSERT_EQ(window_->Model().rowCount(), kCount);
  EXPECT_EQ(Cell(kCount - 1, 0).toInt(), kCount);
  EXPECT_EQ(Cell(kCount - 1, 2), "1");

  // A second search before the first is done: only the second one's rows are shown.
  Find<QRadioButton>("rdViewModeAll")->click();
  Find<QPushButton>("btnSearch")->click();
  Find<QCheckBox>("CheckBox1")->setChecked(true);
  Find<QSpinBox>("SpinAddr")->setValue(2);
  Find<QPushButton>("btnSearch")->click();
  Settle();
  ASSERT_EQ(window_->Model().rowCount(), kCount / 3);
  for (int r : {0, kCount / 3 - 1}) EXPECT_EQ(Cell(r, 2), "2");
}

TEST_F(EventLogWindowTest, OneViewerPerParent) {
  QWidget parent;
  TFrmEventLog* first = TFrmEventLog::Open(*host_, prompter_, &parent);
  EXPECT_EQ(TFrmEventLog::Open(*host_, prompter_, &parent), first);
  EXPECT_TRUE(first->testAttribute(Qt::WA_DeleteOnClose));
  first->close();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(parent.findChild<TFrmEventLog*>(), nullptr);
}

}  // namespace
}  // namespace tessel
