// The grid export file: one line per grid row, each visible cell followed by ",", CR LF line ends,
// GBK text.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tessel {

// What an export needs of a grid. Row 0 is the header row; cells are UTF-8 as displayed.
struct CsvTable {
  std::size_t RowCount = 0;
  std::vector<bool> ColumnVisible;  // one entry per column; hidden (width 0) columns are left out
  std::function<std::string(std::size_t row, std::size_t column)> Cell;
};

enum class CsvStatus {
  Ok,            // every row written
  CannotCreate,  // the file could not be created or emptied; nothing written
  WriteFailed,   // a write failed (e.g. disk full); the whole lines before it are in the file
  Cancelled,     // the progress callback asked to stop; the whole lines before it are in the file
};

struct CsvResult {
  CsvStatus Status = CsvStatus::Ok;
  std::size_t RowsWritten = 0;  // whole lines in the file, the header line included
  std::string Error;            // the system's reason when creating or writing failed
  bool Ok() const { return Status == CsvStatus::Ok; }
};

// The chosen name with ".csv" appended unless it already contains ".csv" (exact case).
std::string CsvFileName(const std::string& chosen);

// A cell as written: quoted (inner quotes doubled) when it holds a comma, a double quote, CR or
// LF, so that such a cell stays one column; otherwise unchanged. UTF-8 in and out.
std::string CsvCell(const std::string& text);

// One line of the file without its line end, still UTF-8: each visible cell followed by ",".
std::string CsvLine(const std::vector<std::string>& cells, const std::vector<bool>& visible);

// Writes the table to path (an existing file is replaced), converting to GBK. Lines are collected
// and written in blocks of about 64 KB; whatever happens, the file ends with a whole line.
// progress(done, total) is called with 0 before the first line and after each line; returning
// false cancels the export after that line.
CsvResult WriteCsv(const std::string& path, const CsvTable& table,
                   const std::function<bool(std::size_t done, std::size_t total)>& progress = {});

}  // namespace tessel
