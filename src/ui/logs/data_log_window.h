// The data log viewer: the samples of one month or one day, optionally of one bus address, as a
// 15-column grid that sorts on a click and exports to CSV. Queries and sorts read the whole month
// file on a worker thread, so polling goes on; the grid shows every matching record.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>

#include "log/csv_writer.h"
#include "log/data_log_query.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableView;
class QTimer;

namespace tessel {

class DataLogJobRunner;
struct UiText;
class DataLogModel;
class Host;
class Prompter;

class TFrmDataLog : public QDialog {
 public:
  TFrmDataLog(Host& host, Prompter& prompter, QWidget* parent = nullptr);
  ~TFrmDataLog() override;

  // Empties the grid and starts a query of the controls' period and address; a query or sort
  // still running is dropped.
  void RunQuery();
  // Sorts by a column: the sort column again flips the direction, another one becomes the sort
  // column in the direction kept from before. Ignored while a query runs.
  void SortByColumn(int column);
  // Stops a running query (the grid is left empty) or sort (the grid keeps its order).
  void StopJob();
  bool Busy() const;
  TRecFilter CurrentFilter() const;
  DataLogModel* Model() const { return model_; }
  int SortCol() const { return sortCol_; }
  bool SortDesc() const { return sortDesc_; }
  // The grid as an export writes it: the header row, then the rows in the order shown, the
  // visible columns only. Shares the rows, so it stays valid while the grid is refilled.
  CsvTable ExportTable() const;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyTexts();
  void ModeChanged();
  void ShowBusy(const UiText* what);
  void UpdateBusy();
  void ShowCount();
  void Export();
  void OpenLogSetting();
  void OpenMonthDelete();

  Host& host_;
  Prompter& prompter_;
  uint8_t language_;
  uint8_t sortCol_ = 0;
  bool sortDesc_ = false;
  bool shownOnce_ = false;
  bool querying_ = false;
  TRecFilter lastFilter_;

  QGroupBox* rdDataViewMode_;
  QRadioButton* rdMonth_;
  QRadioButton* rdDate_;
  QLabel* lblYear_;
  QSpinBox* spedtYearD_;
  QLabel* lblMonth_;
  QSpinBox* spedtMonthD_;
  QLabel* lblDate_;
  QSpinBox* spedtDateD_;
  QCheckBox* checkBox1_;
  QSpinBox* spinAddr_;
  QPushButton* btnSearch_;
  QPushButton* btnRefresh_;
  QPushButton* bsSkinButton2_;
  QPushButton* bsSkinButton1_;
  QPushButton* btnClearMonthData_;
  QLineEdit* edt1_;
  QLabel* lblBusy_;
  QProgressBar* prgBusy_;
  QPushButton* btnStop_;
  QLabel* lblCount_;
  QTableView* grdRecData_;
  DataLogModel* model_;
  DataLogJobRunner* runner_;
  QTimer* busyTimer_;
};

}  // namespace tessel
