// The data log viewer's rows: the month file mapped into memory, the matching records kept as
// their positions in it, a table model that formats a cell only when the view asks, and a worker
// thread for the queries and sorts that read a whole month (up to about 11 million records).
#pragma once

#include <QAbstractTableModel>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "log/data_log_query.h"

namespace tessel {

// The whole records of a month file, mapped read-only. Month files only grow, so the records
// mapped stay valid while the sampler appends behind them.
class DataLogMonthMap {
 public:
  // Null when the file cannot be opened (no file for that month).
  static std::shared_ptr<const DataLogMonthMap> Open(const QString& path);
  ~DataLogMonthMap();
  int64_t Records() const { return records_; }
  const uint8_t* RecordBytes(int64_t index) const { return base_ + index * kDataRecSize; }

 private:
  DataLogMonthMap() = default;
  std::unique_ptr<QFile> file_;
  const uint8_t* base_ = nullptr;
  int64_t records_ = 0;
};

using DataLogPositions = std::shared_ptr<const std::vector<uint32_t>>;

// One result as the grid shows it: the positions of the matching records in the month file, in
// file order and in the order shown (the same vector until a sort). Never changed once made, so
// the grid, a sort and an export can share it across threads.
struct DataLogRows {
  std::shared_ptr<const DataLogMonthMap> Month;
  DataLogPositions Matches;  // file order
  DataLogPositions Shown;

  std::size_t Count() const { return Shown ? Shown->size() : 0; }
  TDataRec Record(std::size_t row) const {
    return DecodeDataRec(Month->RecordBytes((*Shown)[row]));
  }
};

// What a running job reports and is stopped by.
struct DataLogJobControl {
  std::atomic<bool> Cancel{false};
  std::atomic<int64_t> Done{0};
  std::atomic<int64_t> Total{0};  // 0 while the amount is unknown
  // Rows to show before the job ends (a query's first matches); called on the job's thread.
  std::function<void(std::shared_ptr<const DataLogRows>)> Preview;
};

// The matching records of filter.FileName in file order; null when the file cannot be opened or
// the job was cancelled. The first matches are handed to control.Preview as soon as they are found,
// so a month of millions of records shows its first rows at once.
std::shared_ptr<const DataLogRows> RunDataLogQuery(const TRecFilter& filter,
                                                   DataLogJobControl& control);
// The rows ordered by one column; equal cells stay in file order in both directions. Null when
// cancelled.
std::shared_ptr<const DataLogRows> SortDataLogRows(const DataLogRows& rows, int column,
                                                   bool descending, DataLogJobControl& control);

// Runs one job at a time on its own thread; the result comes back on the owner's thread. Starting
// a job cancels the one running (its result is dropped); destroying the runner cancels and waits.
class DataLogJobRunner : public QObject {
 public:
  using Job = std::function<std::shared_ptr<const DataLogRows>(DataLogJobControl&)>;
  using Done = std::function<void(std::shared_ptr<const DataLogRows>)>;

  explicit DataLogJobRunner(QObject* parent = nullptr) : QObject(parent) {}
  ~DataLogJobRunner() override { Cancel(); }

  // preview, when given, receives the job's early rows on the owner's thread.
  void Start(Job job, Done done, Done preview = {});
  // Stops the running job; its done is never called.
  void Cancel();
  bool Busy() const { return busy_; }
  // Progress of the running job in percent, or -1 while unknown.
  int Percent() const;

 private:
  void Join();

  std::thread thread_;
  std::shared_ptr<DataLogJobControl> control_;
  uint64_t generation_ = 0;
  bool busy_ = false;
};

class DataLogModel : public QAbstractTableModel {
 public:
  // Rows the view takes on per turn of the event loop. A view keeps a few bytes for each row it
  // knows, and taking on millions of new rows at once would keep the user-interface thread (and
  // with it the polling) busy for a third of a second.
  static constexpr int kRowsPerStep = 1 << 19;
  void SetRowsPerStep(int rows) { rowsPerStep_ = rows > 0 ? rows : kRowsPerStep; }

  explicit DataLogModel(uint8_t language, QObject* parent = nullptr);

  // Shows rows: at once when the row count stays as it is (a sort), else in steps of
  // kRowsPerStep (or SetRowsPerStep), one per turn of the event loop.
  void SetRows(std::shared_ptr<const DataLogRows> rows);
  const std::shared_ptr<const DataLogRows>& Rows() const { return rows_; }
  // Every row of Rows() is not yet in the view.
  bool Growing() const { return shown_ < Total(); }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  int Total() const;
  void Grow();

  uint8_t language_;
  GridRow header_;
  std::shared_ptr<const DataLogRows> rows_;
  int shown_ = 0;  // rows the view knows of
  int rowsPerStep_ = kRowsPerStep;
  QTimer* growTimer_;
  // The view asks for the cells of one row one after another: decode each record once.
  mutable std::size_t cachedRow_ = SIZE_MAX;
  mutable TDataRec cached_;
};

}  // namespace tessel
