#include "log/csv_writer.h"

#include <cstdio>

#include "model/gbk.h"

namespace tessel {

std::string CsvFileName(const std::string& chosen) {
  return chosen.find(".csv") == std::string::npos ? chosen + ".csv" : chosen;
}

std::string CsvCell(const std::string& text) {
  // Alarm texts such as "Bus abnormal, shutdown" hold commas; unquoted they would shift every
  // following column of the line.
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string CsvLine(const std::vector<std::string>& cells, const std::vector<bool>& visible) {
  std::string line;
  for (std::size_t c = 0; c < visible.size(); ++c) {
    if (!visible[c]) continue;
    if (c < cells.size()) line += CsvCell(cells[c]);
    line += ',';
  }
  return line;
}

CsvResult WriteCsv(const std::string& path, const CsvTable& table,
                   const std::function<void(std::size_t, std::size_t)>& progress) {
  CsvResult result;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    result.Status = CsvStatus::CannotCreate;
    return result;
  }
  if (progress) progress(0, table.RowCount);
  std::vector<std::string> cells(table.ColumnVisible.size());
  for (std::size_t r = 0; r < table.RowCount; ++r) {
    for (std::size_t c = 0; c < cells.size(); ++c)
      cells[c] = table.ColumnVisible[c] && table.Cell ? table.Cell(r, c) : std::string();
    std::string line = Utf8ToGbk(CsvLine(cells, table.ColumnVisible)) + "\r\n";
    if (std::fwrite(line.data(), 1, line.size(), f) != line.size() || std::fflush(f) != 0) {
      result.Status = CsvStatus::WriteFailed;
      break;
    }
    ++result.RowsWritten;
    if (progress) progress(result.RowsWritten, table.RowCount);
  }
  if (std::fclose(f) != 0 && result.Status == CsvStatus::Ok) result.Status = CsvStatus::WriteFailed;
  return result;
}

}  // namespace tessel
