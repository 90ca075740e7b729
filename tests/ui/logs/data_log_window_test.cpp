// The data log viewer, its settings dialog and the monthly delete dialog over a temporary program
// folder whose month files are written here byte by byte.
#include "ui/logs/data_log_window.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/program_folder.h"
#include "host/host.h"
#include "log/temp_folder.h"
#include "ui/fake_prompter.h"
#include "ui/logs/data_log_model.h"
#include "ui/logs/data_log_set_dialog.h"
#include "ui/logs/del_data_rec_dialog.h"
#include "ui/run_until.h"

namespace fs = std::filesystem;

namespace tessel {
namespace {

using testing::TempFolder;

TDataRec Sample(int day, int minute, uint8_t addr, double inV = 220.0, int32_t capa = 90,
                uint16_t backup = 30) {
  TDataRec r;
  r.Time = EncodeDateTime(2024, 3, day, 10, minute, 0);
  r.Address = addr;
  TUpsInfo u{};
  u.InputV_A = inV;
  u.BattCapa = capa;
  u.BattLivingTime = backup;
  r.Block = MeasureBlock(u);
  return r;
}

class DataLogWindowTest : public ::testing::Test {
 protected:
  DataLogWindowTest() : host_(MakeProgramPaths(home_.Path().string())) {
    fs::create_directories(RecordDir());
  }
  fs::path RecordDir() const { return fs::path(host_.Paths().RecordDir); }
  void WriteMonth(const std::string& name, const std::vector<TDataRec>& recs) {
    std::vector<uint8_t> bytes;
    for (const auto& r : recs) {
      auto b = EncodeDataRec(r);
      bytes.insert(bytes.end(), b.begin(), b.end());
    }
    testing::WriteBytes(RecordDir() / name, bytes);
  }
  // A viewer on March 2024, month mode, every address, its first query done.
  std::unique_ptr<TFrmDataLog> Viewer(int rowsPerStep = 0) {
    auto v = std::make_unique<TFrmDataLog>(host_, prompter_);
    v->Model()->SetRowsPerStep(rowsPerStep);
    v->findChild<QSpinBox*>("spedtYearD")->setValue(2024);
    v->findChild<QSpinBox*>("spedtMonthD")->setValue(3);
    tester_ = std::make_unique<QAbstractItemModelTester>(
        v->Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    v->show();  // showing runs the first query
    EXPECT_TRUE(RunUntil([&] { return !v->Busy(); }));
    return v;
  }
  void Search(TFrmDataLog& v) {
    QTest::mouseClick(v.findChild<QPushButton*>("btnSearch"), Qt::LeftButton);
    ASSERT_TRUE(RunUntil([&] { return !v.Busy(); }));
  }
  static std::vector<std::string> Column(const TFrmDataLog& v, int column) {
    std::vector<std::string> out;
    for (int r = 0; r < v.Model()->rowCount(); ++r)
      out.push_back(v.Model()->index(r, column).data().toString().toStdString());
    return out;
  }

  TempFolder home_;
  Host host_;
  FakePrompter prompter_;
  std::unique_ptr<QAbstractItemModelTester> tester_;
};

TEST_F(DataLogWindowTest, MonthDateAndAddressFilters) {
  WriteMonth("DataLog2024_03.dat", {Sample(4, 0, 1), Sample(4, 0, 2), Sample(5, 1, 1),
                                    Sample(5, 1, 2), Sample(5, 2, 1), Sample(31, 59, 2)});
  auto v = Viewer();
  auto* date = v->findChild<QRadioButton*>("rdDate");
  auto* day = v->findChild<QSpinBox*>("spedtDateD");
  auto* byAddr = v->findChild<QCheckBox*>("CheckBox1");
  auto* addr = v->findChild<QSpinBox*>("SpinAddr");
  EXPECT_FALSE(day->isEnabled());
  EXPECT_FALSE(addr->isEnabled());

  struct Case {
    const char* name;
    bool dateMode;
    int day;
    bool byAddress;
    int address;
    int month;
    std::vector<std::string> times;
  };
  const Case cases[] = {
      {"whole month, all addresses",
       false,
       9,
       false,
       0,
       3,
       {"2024-03-04 10:00:00", "2024-03-04 10:00:00", "2024-03-05 10:01:00", "2024-03-05 10:01:00",
        "2024-03-05 10:02:00", "2024-03-31 10:59:00"}},
      {"one day",
       true,
       5,
       false,
       0,
       3,
       {"2024-03-05 10:01:00", "2024-03-05 10:01:00", "2024-03-05 10:02:00"}},
      {"one day, one address", true, 5, true, 2, 3, {"2024-03-05 10:01:00"}},
      {"month, one address",
       false,
       5,
       true,
       2,
       3,
       {"2024-03-04 10:00:00", "2024-03-05 10:01:00", "2024-03-31 10:59:00"}},
      {"address nobody has", false, 5, true, 254, 3, {}},
      {"no file for the month", false, 1, false, 0, 4, {}},
  };
  for (const Case& c : cases) {
    (c.dateMode ? date : v->findChild<QRadioButton*>("rdMonth"))->click();
    EXPECT_EQ(day->isEnabled(), c.dateMode) << c.name;
    day->setValue(c.day);
    if (byAddr->isChecked() != c.byAddress) byAddr->click();
    EXPECT_EQ(addr->isEnabled(), c.byAddress) << c.name;
    addr->setValue(c.address);
    v->findChild<QSpinBox*>("spedtMonthD")->setValue(c.month);
    Search(*v);
    EXPECT_EQ(Column(*v, 0), c.times) << c.name;
  }
  EXPECT_TRUE(prompter_.Told.empty()) << "a missing month is no error";
}

TEST_F(DataLogWindowTest, FifteenColumnsWithTheirTitlesAndFormats) {
  TDataRec r;
  r.Time = EncodeDateTime(2024, 3, 5, 14, 7, 9);
  r.Address = 17;
  TUpsInfo u{};
  u.InputV_A = 229.44;
  u.InputV_B = 231.25;
  u.InputV_C = 0;
  u.OutputV_A = 220.06;
  u.OutputV_B = 123456.7;  // more integer digits than 5 significant ones
  u.OutputV_C = -1.25;
  u.LoadPer_A = 46.5;
  u.LoadPer_B = 0.4;
  u.LoadPer_C = 112;
  u.OutputFreq = 49.98;
  u.DCInputV = 405.2;
  u.BattCapa = 0;
  u.BattLivingTime = 0;
  TDataRec filled = r;
  u.BattCapa = 87;
  u.BattLivingTime = 120;
  filled.Block = MeasureBlock(u);
  u.BattCapa = 0;
  u.BattLivingTime = 0;
  r.Block = MeasureBlock(u);
  WriteMonth("DataLog2024_03.dat", {r, filled});

  auto v = Viewer();
  ASSERT_EQ(v->Model()->rowCount(), 2);
  ASSERT_EQ(v->Model()->columnCount(), 15);
  const std::vector<QString> want = {"2024-03-05 14:07:09",
                                     "17",
                                     "229.4",
                                     "231.3",
                                     "0.0",
                                     "220.1",
                                     "1.2346E+05",
                                     "-1.3",
                                     "47",
                                     "0",
                                     "112",
                                     "50.0",
                                     "405.2",
                                     "",
                                     ""};
  for (int c = 0; c < 15; ++c)
    EXPECT_EQ(v->Model()->index(0, c).data().toString(), want[c]) << "column " << c;
  EXPECT_EQ(v->Model()->index(1, 13).data().toString(), "87");
  EXPECT_EQ(v->Model()->index(1, 14).data().toString(), "120");

  EXPECT_EQ(v->windowTitle(), "Data Log");
  EXPECT_TRUE(v->findChild<QLineEdit*>("edt1")->isHidden()) << "only with Debug show";
  EXPECT_EQ(v->Model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Time");
  EXPECT_EQ(v->Model()->headerData(14, Qt::Horizontal, Qt::DisplayRole).toString(),
            "BattSuppTime(min)");
  host_.Ctx().settings.Language = 1;
  TFrmDataLog zh(host_, prompter_);
  EXPECT_EQ(zh.windowTitle(), "数据日志");
  EXPECT_EQ(zh.findChild<QPushButton*>("btnClearMonthData")->text(), "清除月记录");
  EXPECT_EQ(zh.Model()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
            "输入A相电压(V)");
  // Every column opens wide enough for its title.
  auto* grid = zh.findChild<QTableView*>("grdRecData");
  for (int c = 0; c < 15; ++c) {
    const QString title = zh.Model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_GE(grid->columnWidth(c),
              grid->horizontalHeader()->fontMetrics().horizontalAdvance(title))
        << c;
  }
}

TEST_F(DataLogWindowTest, ClicksSortOnTypedValuesAndTiesKeepFileOrder) {
  // Addresses name the rows; 9.5 and 10.0 sort as numbers, not as text.
  WriteMonth("DataLog2024_03.dat", {Sample(1, 0, 1, 10.0, 50, 0), Sample(1, 1, 2, 9.5, 0, 7),
                                    Sample(1, 2, 3, 230.0, 100, 30), Sample(1, 3, 4, 10.0, 5, 0),
                                    Sample(1, 4, 5, -2.0, 0, 300)});
  host_.Ctx().comm.Debug.DbgShow = kFlagOn;  // the diagnostic line names each sort
  auto v = Viewer();
  auto* grid = v->findChild<QTableView*>("grdRecData");
  struct Step {
    const char* name;
    int column;
    bool viaDataCell;
    std::vector<std::string> addresses;
    bool desc;
  };
  // The view opens with column 0 ascending, so the first press on it turns it round; a press on
  // another column keeps the direction.
  const Step steps[] = {
      {"time, again: descending", 0, false, {"5", "4", "3", "2", "1"}, true},
      {"voltage, still descending, equal values in file order",
       2,
       false,
       {"3", "1", "4", "2", "5"},
       true},
      {"voltage again: ascending, ties still in file order",
       2,
       true,
       {"5", "2", "1", "4", "3"},
       false},
      {"capacity: empty cells after the numbers", 13, true, {"4", "1", "3", "2", "5"}, false},
      {"back-up time", 14, false, {"2", "3", "5", "1", "4"}, false},
      {"back-up time descending: empty cells first", 14, false, {"1", "4", "5", "3", "2"}, true},
  };
  for (const Step& s : steps) {
    if (s.viaDataCell) {
      const QRect cell = grid->visualRect(v->Model()->index(1, s.column));
      QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    } else {
      QTest::mouseClick(grid->horizontalHeader()->viewport(), Qt::LeftButton, {},
                        QPoint(grid->horizontalHeader()->sectionViewportPosition(s.column) + 5, 5));
    }
    ASSERT_TRUE(RunUntil([&] { return !v->Busy(); }));
    EXPECT_EQ(Column(*v, 1), s.addresses) << s.name;
    EXPECT_EQ(v->SortCol(), s.column) << s.name;
    EXPECT_EQ(v->SortDesc(), s.desc) << s.name;
  }
  EXPECT_EQ(v->findChild<QLineEdit*>("edt1")->text(), "FSortCol:14    FSortDir: DEC");
  // A right-button press changes nothing.
  QTest::mousePress(grid->viewport(), Qt::RightButton, {},
                    grid->visualRect(v->Model()->index(0, 2)).center());
  EXPECT_FALSE(v->Busy());
  EXPECT_EQ(v->SortCol(), 14);
}

TEST_F(DataLogWindowTest, MoreThan65535RowsAllShownAndExportedInTheOrderShown) {
  // 70,000 records straight as bytes: one address every 100th record.
  constexpr int kRecords = 70000;
  std::vector<uint8_t> bytes;
  bytes.reserve(kRecords * kDataRecSize + 50);
  for (int i = 0; i < kRecords; ++i) {
    TDataRec r;
    r.Time = EncodeDateTime(2024, 3, 1) + i / 86400.0;
    r.Address = static_cast<uint8_t>(i % 100 == 0 ? 200 : 1 + i % 7);
    TUpsInfo u{};
    u.InputV_A = i;
    r.Block = MeasureBlock(u);
    auto b = EncodeDataRec(r);
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  bytes.insert(bytes.end(), 50, 0xEE);  // a partial record being written
  testing::WriteBytes(RecordDir() / "DataLog2024_03.dat", bytes);

  // The view takes the rows on in steps (a month of millions would hold up the event loop);
  // small steps here, so that the steps run under the model tester too.
  auto v = Viewer(9000);
  ASSERT_EQ(v->Model()->rowCount(), kRecords);
  EXPECT_EQ(v->Model()->index(kRecords - 1, 2).data().toString(), "69999.0");
  EXPECT_EQ(v->Model()->index(65535, 2).data().toString(), "65535.0");

  v->SortByColumn(2);  // another column: ascending
  v->SortByColumn(2);  // again: descending
  ASSERT_TRUE(RunUntil([&] { return !v->Busy(); }));
  EXPECT_EQ(v->Model()->index(0, 2).data().toString(), "69999.0");

  v->findChild<QTableView*>("grdRecData")->setColumnHidden(1, true);
  const CsvTable table = v->ExportTable();
  ASSERT_EQ(table.RowCount, kRecords + 1u);
  ASSERT_EQ(table.ColumnVisible.size(), 15u);
  EXPECT_FALSE(table.ColumnVisible[1]);
  EXPECT_TRUE(table.ColumnVisible[2]);
  EXPECT_EQ(table.Cell(0, 2), "InV-A (V)");
  EXPECT_EQ(table.Cell(1, 2), "69999.0");
  EXPECT_EQ(table.Cell(kRecords, 2), "0.0");

  // The table keeps its rows when the grid is refilled behind it.
  v->findChild<QCheckBox*>("CheckBox1")->click();
  v->findChild<QSpinBox*>("SpinAddr")->setValue(200);
  Search(*v);
  EXPECT_EQ(v->Model()->rowCount(), kRecords / 100);
  EXPECT_EQ(table.Cell(2, 2), "69998.0");
}

TEST_F(DataLogWindowTest, NewerQueryReplacesOlderAndClosingDuringAQueryIsSafe) {
  std::vector<TDataRec> recs;
  for (int i = 0; i < 200000; ++i) recs.push_back(Sample(1 + i % 28, i % 60, 1 + i % 3));
  WriteMonth("DataLog2024_03.dat", recs);
  WriteMonth("DataLog2024_02.dat", {Sample(1, 0, 9)});
  for (int round = 0; round < 3; ++round) {
    auto v = std::make_unique<TFrmDataLog>(host_, prompter_);
    v->findChild<QSpinBox*>("spedtYearD")->setValue(2024);
    v->findChild<QSpinBox*>("spedtMonthD")->setValue(3);
    v->RunQuery();
    v->findChild<QSpinBox*>("spedtMonthD")->setValue(2);
    v->RunQuery();
    ASSERT_TRUE(RunUntil([&] { return !v->Busy(); }));
    EXPECT_EQ(Column(*v, 1), std::vector<std::string>{"9"});

    v->findChild<QSpinBox*>("spedtMonthD")->setValue(3);
    v->RunQuery();
    if (round == 1) v->StopJob();
    v.reset();  // closed while the query may still be reading
  }
}

TEST_F(DataLogWindowTest, MonthDeleteListsDeletesAndKeepsWhatCannotGo) {
  WriteMonth("DataLog2024_03.dat", {Sample(1, 0, 1)});
  WriteMonth("DataLog2024_04.dat", {});
  WriteMonth("EventLog.dat", {});
  WriteMonth("TreeNode.dat", {});
  const fs::path before = fs::current_path();
  TFrmDelDataRec dialog(0, host_.Paths().RecordDir, prompter_);
  EXPECT_EQ(fs::current_path(), before);
  auto* list = dialog.findChild<QListWidget*>("ListBox1");
  auto* del = dialog.findChild<QPushButton*>("btnDelete");
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(0)->text(), "DataLog2024_03");
  EXPECT_EQ(list->item(1)->text(), "DataLog2024_04");

  // Yes without a selection, and No with one: nothing goes.
  prompter_.Answers = {true, false};
  del->click();
  list->setCurrentRow(1);
  del->click();
  EXPECT_EQ(prompter_.Asked,
            std::vector<QString>(2, "Are you sure delete data log of this month ?"));
  // A warning with its own caption and No pre-selected, as for clearing the events.
  EXPECT_EQ(prompter_.WarningCaptions, std::vector<QString>(2, "Confirm"));
  EXPECT_TRUE(fs::exists(RecordDir() / "DataLog2024_04.dat"));

  prompter_.Answers = {true};
  del->click();
  EXPECT_FALSE(fs::exists(RecordDir() / "DataLog2024_04.dat"));
  ASSERT_EQ(list->count(), 1);

  // A month that cannot be deleted (here it has turned into a folder with content) is reported
  // and stays listed.
  fs::remove(RecordDir() / "DataLog2024_03.dat");
  fs::create_directories(RecordDir() / "DataLog2024_03.dat" / "x");
  list->setCurrentRow(0);
  prompter_.Answers = {true};
  del->click();
  ASSERT_EQ(prompter_.Told.size(), 1u);
  EXPECT_TRUE(prompter_.Told[0].Text.startsWith("Unable to delete "));
  EXPECT_TRUE(prompter_.Told[0].Text.contains("DataLog2024_03.dat"));
  EXPECT_EQ(list->count(), 1);
  EXPECT_EQ(dialog.Deleted(), 1);
}

TEST_F(DataLogWindowTest, MonthDeleteAsksInChineseUnderItsCaption) {
  WriteMonth("DataLog2024_04.dat", {});
  TFrmDelDataRec dialog(1, host_.Paths().RecordDir, prompter_);
  auto* list = dialog.findChild<QListWidget*>("ListBox1");
  list->setCurrentRow(0);
  prompter_.Answers = {false};
  dialog.findChild<QPushButton*>("btnDelete")->click();
  EXPECT_EQ(prompter_.WarningCaptions, std::vector<QString>{"请确认"});
  EXPECT_EQ(prompter_.Asked, std::vector<QString>{"你确定要删除该月数据日志? "});
  EXPECT_TRUE(fs::exists(RecordDir() / "DataLog2024_04.dat"));
}

TEST_F(DataLogWindowTest, SettingsDialogShowsAndStoresTheInterval) {
  struct Case {
    const char* name;
    int32_t stored;
    bool shownOn;
    int shownSeconds;
    std::function<void(QCheckBox*, QSpinBox*)> change;
    bool ok;
    int32_t after;
  };
  const Case cases[] = {
      {"off shows 300 seconds and stays off", 0, false, 300, {}, true, 0},
      {"the shortest stored interval shows 10 seconds", 50, true, 10, {}, true, 100},
      {"one minute unchanged", 600, true, 60, {}, true, 600},
      {"switched on at 20 seconds", 0, false, 300,
       [](QCheckBox* on, QSpinBox* s) {
         on->click();
         s->setValue(20);
       },
       true, 200},
      {"switched off", 600, true, 60, [](QCheckBox* on, QSpinBox*) { on->click(); }, true, 0},
      {"cancel keeps the value", 600, true, 60, [](QCheckBox* on, QSpinBox*) { on->click(); },
       false, 600},
  };
  for (const Case& c : cases) {
    host_.Ctx().settings.RecInterval = c.stored;
    host_.Ctx().comm.RecDly = 77;
    TFrmDataLogSet dialog(host_);
    auto* on = dialog.findChild<QCheckBox*>("ckbRecord");
    auto* seconds = dialog.findChild<QSpinBox*>("spedtSpace");
    auto* group = dialog.findChild<QGroupBox*>("GroupBox1");
    EXPECT_EQ(on->isChecked(), c.shownOn) << c.name;
    EXPECT_EQ(group->isEnabled(), c.shownOn) << c.name;
    EXPECT_EQ(seconds->value(), c.shownSeconds) << c.name;
    if (c.change) c.change(on, seconds);
    EXPECT_EQ(group->isEnabled(), on->isChecked()) << c.name;
    dialog.findChild<QPushButton*>(c.ok ? "btnOK" : "btnCancel")->click();
    EXPECT_EQ(host_.Ctx().settings.RecInterval, c.after) << c.name;
    EXPECT_EQ(host_.Ctx().comm.RecDly, c.ok ? 0 : 77) << c.name;
    EXPECT_EQ(dialog.result(), c.ok ? QDialog::Accepted : QDialog::Rejected) << c.name;
  }
}

}  // namespace
}  // namespace tessel
