// Exporting a grid of a log window to a CSV file: the save dialog, then the file written on a
// worker thread behind a progress window with Cancel, so that polling goes on meanwhile; the
// operator is told how it ended.
#pragma once

#include <QString>
#include <cstdint>

#include "log/csv_writer.h"

class QWidget;

namespace tessel {

class Prompter;

// table.Cell is called on the worker thread: it must only read data that stays unchanged until
// ExportGrid returns (the window's own copy of its rows, not a model the window may refill).
// suggestedName is the file name offered in the save dialog. Returns what was written; a
// cancelled dialog writes nothing and returns RowsWritten 0 with status Ok.
CsvResult ExportGrid(QWidget* parent, Prompter& prompter, uint8_t language, const CsvTable& table,
                     const QString& suggestedName = {});

// The same after the save dialog: writes to path (".csv" already applied) behind the progress
// window and tells the operator when it did not write every row.
CsvResult ExportGridToFile(QWidget* parent, Prompter& prompter, uint8_t language,
                           const CsvTable& table, const QString& path);

}  // namespace tessel
