#include "ui/logs/data_log_model.h"

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
  const int64_t n = month->Records();
  control.Total = n;
  auto matches = std::make_shared<std::vector<uint32_t>>();
  // Room for every record up front: growing by doubling would copy and hold up to twice as much.
  matches->reserve(static_cast<std::size_t>(n));
  for (int64_t start = 0; start < n; start += kSlice) {
    if (control.Cancel) return nullptr;
    const int64_t end = std::min(n, start + kSlice);
    for (int64_t i = start; i < end; ++i)
      if (DataLogMatches(filter, DecodeDataRec(month->RecordBytes(i))))
        matches->push_back(static_cast<uint32_t>(i));
    control.Done = end;
    if (control.Preview && !matches->empty() && end < n) {
      auto first = std::make_shared<DataLogRows>();
      first->Month = month;
      first->Matches = first->Shown = std::make_shared<std::vector<uint32_t>>(*matches);
      control.Preview(std::move(first));
      control.Preview = nullptr;
    }
  }
  matches->shrink_to_fit();
  auto rows = std::make_shared<DataLogRows>();
  rows->Month = month;
  rows->Matches = rows->Shown = std::move(matches);
  return rows;
}

std::shared_ptr<const DataLogRows> SortDataLogRows(const DataLogRows& rows, int column,
                                                   bool descending, DataLogJobControl& control) {
  const std::vector<uint32_t>& matches = *rows.Matches;
  const std::size_t n = matches.size();
  control.Total = static_cast<int64_t>(n);
  // Keys are read in file order, front to back through the month, whatever order is shown now;
  // the position breaks ties, so equal cells stay in file order in both directions and the
  // order before this sort does not matter. Key and position side by side: the sort walks one
  // array instead of the mapped month.
  std::vector<std::pair<uint64_t, uint32_t>> keyed(n);
  for (std::size_t start = 0; start < n; start += kSlice) {
    if (control.Cancel) return nullptr;
    const std::size_t end = std::min(n, start + static_cast<std::size_t>(kSlice));
    for (std::size_t r = start; r < end; ++r) {
      const uint64_t key =
          DataLogSortKey(DecodeDataRec(rows.Month->RecordBytes(matches[r])), column);
      keyed[r] = {descending ? ~key : key, matches[r]};
    }
    control.Done = static_cast<int64_t>(end);
  }
  control.Total = 0;  // the sort itself reports no progress
  std::sort(keyed.begin(), keyed.end());
  if (control.Cancel) return nullptr;
  auto shown = std::make_shared<std::vector<uint32_t>>();
  shown->reserve(n);
  for (const auto& k : keyed) shown->push_back(k.second);
  auto sorted = std::make_shared<DataLogRows>();
  sorted->Month = rows.Month;
  sorted->Matches = rows.Matches;
  sorted->Shown = std::move(shown);
  return sorted;
}

void DataLogJobRunner::Start(Job job, Done done, Done preview) {
  Cancel();
  const uint64_t generation = ++generation_;
  control_ = std::make_shared<DataLogJobControl>();
  if (preview) {
    control_->Preview = [this, generation, preview](std::shared_ptr<const DataLogRows> rows) {
      QMetaObject::invokeMethod(
          this,
          [this, generation, preview, rows = std::move(rows)] {
            if (generation == generation_) preview(rows);
          },
          Qt::QueuedConnection);
    };
  }
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
    : QAbstractTableModel(parent), language_(language), header_(DataLogHeader(language)) {
  growTimer_ = new QTimer(this);
  growTimer_->setInterval(0);
  connect(growTimer_, &QTimer::timeout, this, &DataLogModel::Grow);
}

void DataLogModel::SetRows(std::shared_ptr<const DataLogRows> rows) {
  const int before = shown_;  // the rows the view knows; the same count costs it nothing
  beginResetModel();
  rows_ = std::move(rows);
  cachedRow_ = SIZE_MAX;
  const int total = Total();
  shown_ = total == before ? total : std::min(total, rowsPerStep_);
  endResetModel();
  if (Growing())
    growTimer_->start();
  else
    growTimer_->stop();
}

void DataLogModel::Grow() {
  const int total = Total();
  if (shown_ >= total) {
    growTimer_->stop();
    return;
  }
  const int next = total - shown_ > rowsPerStep_ ? shown_ + rowsPerStep_ : total;
  beginInsertRows({}, shown_, next - 1);
  shown_ = next;
  endInsertRows();
  if (!Growing()) growTimer_->stop();
}

int DataLogModel::Total() const {
  return rows_ ? static_cast<int>(std::min<std::size_t>(rows_->Count(), INT_MAX)) : 0;
}

int DataLogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shown_;
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
