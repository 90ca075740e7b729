#include "ui/logs/grid_export.h"

#include <QEventLoop>
#include <QFileDialog>
#include <QMetaObject>
#include <QTimer>
#include <atomic>
#include <thread>

#include "ui/common/prompter.h"
#include "ui/common/window_texts.h"
#include "ui/logs/progress_dialog.h"

namespace tessel {

namespace {

constexpr int kShowAfterMs = 100;  // a short export finishes before its window would flash
constexpr int kProgressEveryMs = 100;

}  // namespace

CsvResult ExportGrid(QWidget* parent, Prompter& prompter, uint8_t language, const CsvTable& table,
                     const QString& suggestedName) {
  const QString chosen =
      QFileDialog::getSaveFileName(parent, QString(), suggestedName, ".csv (*.csv)");
  if (chosen.isEmpty()) return {};
  const QString path = QString::fromStdString(CsvFileName(chosen.toStdString()));
  return ExportGridToFile(parent, prompter, language, table, path);
}

CsvResult ExportGridToFile(QWidget* parent, Prompter& prompter, uint8_t language,
                           const CsvTable& table, const QString& path) {
  // The file is written on a thread of its own while this thread goes on polling and drawing;
  // the window only reads the two counters below.
  std::atomic<std::size_t> done{0};
  std::atomic<bool> cancel{false};
  CsvResult result;
  TfrmProgress progress(language, parent);
  progress.setWindowModality(Qt::WindowModal);
  QEventLoop loop;
  QObject::connect(&progress, &TfrmProgress::cancelRequested, [&cancel] { cancel = true; });
  QTimer show;
  show.setSingleShot(true);
  QObject::connect(&show, &QTimer::timeout, &progress, [&] {
    progress.SetProgress(done, table.RowCount);
    progress.show();
  });
  show.start(kShowAfterMs);
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, &progress,
                   [&] { progress.SetProgress(done, table.RowCount); });
  tick.start(kProgressEveryMs);

  std::atomic<bool> finished{false};
  std::thread writer([&] {
    result = WriteCsv(path.toStdString(), table, [&](std::size_t rows, std::size_t) {
      done = rows;
      return !cancel;
    });
    finished = true;
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  // The loop ends before the file is written only when the program quits (tray Exit, SIGTERM,
  // the main window's Exit: QCoreApplication::exit leaves every loop): stop the writer as Cancel
  // does, at a whole line, instead of holding this thread until the whole file is written.
  const bool quitting = !finished;
  if (quitting) cancel = true;
  writer.join();
  tick.stop();
  show.stop();
  progress.hide();
  if (quitting) return result;  // no message box while the program ends

  const QString rows = QString::number(result.RowsWritten);
  const QString all = QString::number(table.RowCount);
  const QString why = QString::fromLocal8Bit(result.Error.c_str());
  switch (result.Status) {
    case CsvStatus::Ok:
      break;
    case CsvStatus::CannotCreate:
      prompter.Tell(parent, MessageKind::Error,
                    Tr(txt::ExportCannotCreate, language).arg(path, why));
      break;
    case CsvStatus::WriteFailed:
      prompter.Tell(parent, MessageKind::Error,
                    Tr(txt::ExportWriteFailed, language).arg(path, rows, all, why));
      break;
    case CsvStatus::Cancelled:
      prompter.Tell(parent, MessageKind::Information,
                    Tr(txt::ExportCancelled, language).arg(path, rows, all));
      break;
  }
  return result;
}

}  // namespace tessel
