// The rows of the event log viewer as a table model: four columns over the matched records, each
// cell formatted only when the view asks for it. The rows are shared and never changed in place,
// so a sort or an export can work on them off the user-interface thread.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <memory>
#include <vector>

#include "log/event_log_query.h"

namespace tessel {

using EventRows = std::shared_ptr<const std::vector<EventLogEntry>>;

class EventLogModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit EventLogModel(QObject* parent = nullptr);

  // Replaces every row (a new query or a new order).
  void SetRows(EventRows rows);
  const EventRows& Rows() const { return rows_; }
  // Headers and event texts follow the language from now on.
  void SetLanguage(uint8_t language);
  uint8_t Language() const { return language_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // Sorts on the typed values of the column, here and now (the window sorts large sets on its
  // worker instead).
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  EventRows rows_;
  uint8_t language_ = 0;
};

}  // namespace tessel
