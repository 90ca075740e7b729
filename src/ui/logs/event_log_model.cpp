#include "ui/logs/event_log_model.h"

namespace tessel {

EventLogModel::EventLogModel(QObject* parent)
    : QAbstractTableModel(parent), rows_(std::make_shared<const std::vector<EventLogEntry>>()) {}

void EventLogModel::SetRows(EventRows rows) {
  beginResetModel();
  rows_ = rows ? std::move(rows) : std::make_shared<const std::vector<EventLogEntry>>();
  endResetModel();
}

void EventLogModel::SetLanguage(uint8_t language) {
  if (language == language_) return;
  language_ = language;
  emit headerDataChanged(Qt::Horizontal, 0, kEventLogColumns - 1);
  if (!rows_->empty())
    emit dataChanged(index(0, kEventColText), index(rowCount() - 1, kEventColText));
}

int EventLogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_->size());
}

int EventLogModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kEventLogColumns;
}

QVariant EventLogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= kEventLogColumns)
    return {};
  if (role == Qt::DisplayRole) {
    const EventLogEntry& e = (*rows_)[static_cast<size_t>(index.row())];
    return QString::fromStdString(EventLogCell(e, index.column(), language_));
  }
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  return {};
}

QVariant EventLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= kEventLogColumns)
    return QAbstractTableModel::headerData(section, orientation, role);
  return QString::fromStdString(EventLogHeader(language_)[static_cast<size_t>(section)]);
}

void EventLogModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= kEventLogColumns) return;
  auto sorted = std::make_shared<std::vector<EventLogEntry>>(*rows_);
  SortEventEntries(*sorted, column, order == Qt::DescendingOrder, language_);
  SetRows(std::move(sorted));
}

}  // namespace tessel
