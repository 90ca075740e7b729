// The event log viewer: the records of a chosen period (all, a year, a month or a day), of one bus
// address if asked, numbered from the end of the file, sortable by any column, exportable and
// clearable. It reads and sorts on a worker thread, so that a large log never holds up polling,
// and refreshes itself within two seconds of a new event.
#pragma once

#include <QDate>
#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "log/csv_writer.h"
#include "log/event_log_query.h"
#include "ui/logs/event_log_model.h"

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableView;

namespace tessel {

class EventQueryWorker;
class Host;
class Prompter;
struct TEventRec;

class TFrmEventLog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kRefreshMs = 2000;  // tmr1

  TFrmEventLog(Host& host, Prompter& prompter, QWidget* parent = nullptr);
  ~TFrmEventLog() override;

  // The viewer of parent: brought to the front when one is open, else created (and freed when it
  // is closed) and shown.
  static TFrmEventLog* Open(Host& host, Prompter& prompter, QWidget* parent);

  void ApplyLanguage();
  // btnSearch: reads the log with the filter of the controls. A search still running is dropped.
  void Search();
  // bsSkinButton1 and a press on a data row: puts the rows shown into the order of SortCol and
  // SortDesc without reading the file again.
  void Resort();
  // A press on a column header: the current column flips the direction, another column becomes
  // the sort column with the direction kept.
  void HeaderPressed(int column);
  // btnClear: asks, then archives and empties the log and the grid.
  void ClearDatabase();
  // bsSkinButton2.
  void Export();
  // tmr1: a query when the log changed since the last look.
  void RefreshTick();

  // The rows shown, in the order shown, with the header as row 0; safe to read on another thread.
  CsvTable ExportTable() const;
  EventLogFilter Filter() const;
  bool Busy() const { return runningJob_ != 0; }
  EventLogModel& Model() { return *model_; }
  int RowsShown() const { return model_->rowCount(); }
  bool RefreshPending() const { return tmr1_.isActive(); }

  // Today's date for the date controls when the window is shown.
  std::function<QDate()> Today = [] { return QDate::currentDate(); };

  uint8_t SortCol = 0;
  bool SortDesc = false;
  int SelRow = 0;  // 1-based data row to select after each query; 0 none

 signals:
  // New rows or a new order are shown.
  void rowsShown();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void ViewModeChanged();
  void EventAppended();
  void Submit(bool read);
  void RowsArrived(uint64_t job, int sortCol, bool sortDesc, EventRows rows);
  void ShowSortState();
  void SelectRow();
  void SetBusy(bool busy);

  Host& host_;
  Prompter& prompter_;
  std::unique_ptr<EventLogModel> model_;
  QTimer tmr1_;

  QGroupBox* rdViewMode_ = nullptr;
  QButtonGroup* viewModes_ = nullptr;
  QRadioButton* modeButtons_[4] = {};
  QLabel* lblYear_ = nullptr;
  QLabel* lblMonth_ = nullptr;
  QLabel* lblDate_ = nullptr;
  QSpinBox* spedtYear_ = nullptr;
  QSpinBox* spedtMonth_ = nullptr;
  QSpinBox* spedtDate_ = nullptr;
  QCheckBox* checkBox1_ = nullptr;
  QSpinBox* spinAddr_ = nullptr;
  QPushButton* btnSearch_ = nullptr;
  QPushButton* btnClear_ = nullptr;
  QPushButton* bsSkinButton1_ = nullptr;
  QPushButton* bsSkinButton2_ = nullptr;
  QLineEdit* edt1_ = nullptr;
  QProgressBar* prgBusy_ = nullptr;
  QTableView* grdEvntRec_ = nullptr;

  uint64_t lastJob_ = 0;     // id of the newest job handed to the worker
  uint64_t runningJob_ = 0;  // the job whose rows are awaited; 0 none
  bool runningRead_ = false;
  int shownSortCol_ = 0;  // the order of the rows shown
  bool shownSortDesc_ = false;
  std::unique_ptr<EventQueryWorker> worker_;  // last: its thread stops before the rest goes
};

}  // namespace tessel
