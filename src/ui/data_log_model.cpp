#include "ui/data_log_model.h"

#include <QMetaObject>
#include <algorithm>
#include <climits>
#include <utility>

namespace tessel {

namespace {

// How many records a job handles between two looks at its cancel flag (8 MiB of file).
constexpr int64_t kSlice = 65536;

}  // namespace

std::shared_ptr<const DataLogMonthMap> DataLogMonthMap::Open(const QString& path) {
  auto file = std::make_unique<QFile>(path);
  if (!file->open(QIODevice::ReadOnly)) return nullptr;
  std::shared_ptr<DataLogMonthMap> m(new DataLogMonthMap);
  // Whole records only: a trailing partial record is the next append's place.
  m->records_ = file->size() / kDataRecSize;
  // Positions are kept in 32 bits: 4 billion records are far beyond any month.
  m->records_ = std::min<int64_t>(m->records_, UINT32_MAX);
  if (m->records_ > 0) {
    m->base_ = file->map(0, m->records_ * kDataRecSize);
    if (m->base_ == nullptr) return nullptr;
  }
  // The last owner may drop the map on another thread; the file never needs events.
  file->moveToThread(nullptr);
  m->file_ = std::move(file);
  return m;
}

DataLogMonthMap::~DataLogMonthMap() {
  if (base_ != nullptr) file_->unmap(const_cast<uint8_t*>(base_));
}

std::shared_ptr<const DataLogRows> RunDataLogQuery(const TRecFilter& filter,
                                                   DataLogJobControl& control) {
  auto month = DataLogMonthMap::Open(QString::fromStdString(filter.FileName));
  if (!month) return nullptr;
  auto rows = std::make_shared<DataLogRows>();
  rows->Month = month;
  const int64_t n = month->Records();
  control.Total = n;
  for (int64_t start = 0; start < n; start += kSlice) {
    if (control.Cancel) return nullptr;
    const int64_t end = std::min(n, start + kSlice);
    for (int64_t i = start; i < end; ++i)
      if (DataLogMatches(filter, DecodeDataRec(month->RecordBytes(i))))
        rows->Positions.push_back(static_cast<uint32_t>(i));
    control.Done = end;
  }
  rows->Positions.shrink_to_fit();
  return rows;
}

std::shared_ptr<const DataLogRows> SortDataLogRows(const DataLogRows& rows, int column,
                                                   bool descending, DataLogJobControl& control) {
  const std::size_t n = rows.Count();
  control.Total = static_cast<int64_t>(n);
  // Key and position side by side: the sort walks one array instead of the mapped month. The
  // position breaks ties, which keeps equal cells in file order whatever the direction.
  std::vector<std::pair<uint64_t, uint32_t>> keyed(n);
  for (std::size_t start = 0; start < n; start += kSlice) {
    if (control.Cancel) return nullptr;
    const std::size_t end = std::min(n, start + static_cast<std::size_t>(kSlice));
    for (std::size_t r = start; r < end; ++r) {
      const uint64_t key = DataLogSortKey(rows.Record(r), column);
      keyed[r] = {descending ? ~key : key, rows.Positions[r]};
    }
    control.Done = static_cast<int64_t>(end);
  }
  control.Total = 0;  // the sort itself reports no progress
  std::sort(keyed.begin(), keyed.end());
  if (control.Cancel) return nullptr;
  auto sorted = std::make_shared<DataLogRows>();
  sorted->Month = rows.Month;
  sorted->Positions.reserve(n);
  for (const auto& k : keyed) sorted->Positions.push_back(k.second);
  return sorted;
}

void DataLogJobRunner::Start(Job job, Done done) {
  Cancel();
  const uint64_t generation = ++generation_;
  control_ = std::make_shared<DataLogJobControl>();
  busy_ = true;
  thread_ = std::thread([this, generation, control = control_, job = std::move(job),
                         done = std::move(done)]() mutable {
    std::shared_ptr<const DataLogRows> result = job(*control);
    if (control->Cancel) return;
    // Back on the owner's thread. The runner joins this thread before it goes away, and a queued
    // call to a destroyed object is dropped, so `this` is valid whenever the call runs.
    QMetaObject::invokeMethod(
        this,
        [this, generation, result = std::move(result), done = std::move(done)] {
          if (generation != generation_) return;  // a newer job replaced this one
          Join();
          busy_ = false;
          done(result);
        },
        Qt::QueuedConnection);
  });
}

void DataLogJobRunner::Cancel() {
  if (control_) control_->Cancel = true;
  Join();
  ++generation_;
  busy_ = false;
}

void DataLogJobRunner::Join() {
  if (thread_.joinable()) thread_.join();
}

int DataLogJobRunner::Percent() const {
  if (!busy_ || !control_) return -1;
  const int64_t total = control_->Total;
  if (total <= 0) return -1;
  return static_cast<int>(std::min<int64_t>(100, control_->Done * 100 / total));
}

DataLogModel::DataLogModel(uint8_t language, QObject* parent)
    : QAbstractTableModel(parent), language_(language), header_(DataLogHeader(language)) {}

void DataLogModel::SetRows(std::shared_ptr<const DataLogRows> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  cachedRow_ = SIZE_MAX;
  endResetModel();
}

int DataLogModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !rows_) return 0;
  return static_cast<int>(std::min<std::size_t>(rows_->Count(), INT_MAX));
}

int DataLogModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kDataLogColumns;
}

QVariant DataLogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !rows_ || index.row() >= rowCount()) return {};
  if (role == Qt::TextAlignmentRole)
    return index.column() == 0 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                               : QVariant(Qt::AlignRight | Qt::AlignVCenter);
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
  const auto row = static_cast<std::size_t>(index.row());
  if (row != cachedRow_) {
    cached_ = rows_->Record(row);
    cachedRow_ = row;
  }
  return QString::fromStdString(DataLogCell(cached_, index.column()));
}

QVariant DataLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= kDataLogColumns) return {};
  return QString::fromStdString(header_[static_cast<std::size_t>(section)]);
}

}  // namespace tessel
