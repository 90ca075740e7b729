// Exporting a grid: written on a thread of its own while the window's thread goes on, a progress
// window that can cancel, and a message whenever not every row was written.
#include "ui/logs/grid_export.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <thread>

#include "log/temp_folder.h"
#include "ui/fake_prompter.h"
#include "ui/logs/progress_dialog.h"

namespace tessel {
namespace {

using testing::ReadBytes;

CsvTable Slow(std::size_t rows) {
  CsvTable t;
  t.RowCount = rows;
  t.ColumnVisible = {true, false, true};
  t.Cell = [](std::size_t r, std::size_t c) {
    if (c == 0) std::this_thread::sleep_for(std::chrono::microseconds(500));
    return r == 0 ? std::string(c == 0 ? "序号" : "事件") : std::to_string(r * 10 + c);
  };
  return t;
}

TEST(GridExport, WritesWhileTheWindowThreadGoesOn) {
  testing::TempFolder folder;
  QWidget parent;
  FakePrompter prompter;
  int ticks = 0;
  QTimer poll;  // stands for the poll timer of the host
  QObject::connect(&poll, &QTimer::timeout, [&] { ++ticks; });
  poll.start(10);
  const QString path = QString::fromStdString((folder / "out.csv").string());
  const CsvResult r = ExportGridToFile(&parent, prompter, 1, Slow(400), path);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.RowsWritten, 400u);
  EXPECT_TRUE(prompter.Told.empty());
  EXPECT_GT(ticks, 5);  // about 200 ms of export
  const auto bytes = ReadBytes(folder / "out.csv");
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.substr(0, 12), "\xD0\xF2\xBA\xC5,\xCA\xC2\xBC\xFE,\r\n");  // GBK header
  EXPECT_EQ(text.substr(text.size() - 14), "\r\n3990,3992,\r\n");
}

TEST(GridExport, CancelStopsAtAWholeLineAndSaysSo) {
  testing::TempFolder folder;
  QWidget parent;
  FakePrompter prompter;
  // Press Cancel once the progress window is up.
  QTimer press;
  QObject::connect(&press, &QTimer::timeout, [&] {
    if (auto* p = parent.findChild<TfrmProgress*>(); p && p->isVisible())
      p->findChild<QPushButton*>("btnCancel")->click();
  });
  press.start(20);
  const QString path = QString::fromStdString((folder / "out.csv").string());
  const CsvResult r = ExportGridToFile(&parent, prompter, 0, Slow(100000), path);
  EXPECT_EQ(r.Status, CsvStatus::Cancelled);
  EXPECT_LT(r.RowsWritten, 100000u);
  ASSERT_EQ(prompter.Told.size(), 1u);
  EXPECT_EQ(prompter.Told[0].Kind, MessageKind::Information);
  EXPECT_TRUE(prompter.Told[0].Text.startsWith("Export cancelled after " +
                                               QString::number(r.RowsWritten) + " of 100000 rows"));
  const auto bytes = ReadBytes(folder / "out.csv");
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), static_cast<long>(r.RowsWritten));
  EXPECT_EQ(bytes.back(), '\n');
}

// Quitting the program (tray Exit, SIGTERM, the main window's Exit) while a log window exports:
// the writer is cancelled before it is joined, so the window's thread (and polling) is not held
// until the whole file is written; the file ends at a whole line and no message box holds the
// ending program.
TEST(GridExport, QuittingCancelsTheExportAtAWholeLine) {
  testing::TempFolder folder;
  QWidget parent;
  FakePrompter prompter;
  const QString path = QString::fromStdString((folder / "out.csv").string());
  CsvResult r;
  bool returned = false;
  QElapsedTimer clock;
  clock.start();
  qint64 exportMs = -1;
  // As in the program: the export runs inside the application's event loop, which is told to quit
  // while the file is being written (100000 rows take about 50 s here).
  QTimer::singleShot(0, [&] {
    r = ExportGridToFile(&parent, prompter, 0, Slow(100000), path);
    exportMs = clock.elapsed();
    returned = true;
  });
  QTimer::singleShot(300, [] { QCoreApplication::quit(); });
  QCoreApplication::exec();
  ASSERT_TRUE(returned);
  EXPECT_LT(exportMs, 5000);
  EXPECT_EQ(r.Status, CsvStatus::Cancelled);
  EXPECT_GT(r.RowsWritten, 0u);
  EXPECT_LT(r.RowsWritten, 100000u);
  EXPECT_TRUE(prompter.Told.empty());
  const auto bytes = ReadBytes(folder / "out.csv");
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), static_cast<long>(r.RowsWritten));
  EXPECT_EQ(bytes.back(), '\n');
}

TEST(GridExport, FileThatCannotBeCreatedIsReported) {
  testing::TempFolder folder;
  FakePrompter prompter;
  const QString path = QString::fromStdString((folder / "missing" / "out.csv").string());
  const CsvResult r = ExportGridToFile(nullptr, prompter, 0, Slow(3), path);
  EXPECT_EQ(r.Status, CsvStatus::CannotCreate);
  ASSERT_EQ(prompter.Told.size(), 1u);
  EXPECT_EQ(prompter.Told[0].Kind, MessageKind::Error);
  EXPECT_TRUE(prompter.Told[0].Text.startsWith("Cannot create the file " + path + ": "));
}

}  // namespace
}  // namespace tessel
