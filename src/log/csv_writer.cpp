#include "log/csv_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

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

namespace {

constexpr std::size_t kBlockBytes = 64 * 1024;

}  // namespace

CsvResult WriteCsv(const std::string& path, const CsvTable& table,
                   const std::function<bool(std::size_t, std::size_t)>& progress) {
  CsvResult result;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    result.Status = CsvStatus::CannotCreate;
    result.Error = std::strerror(errno);
    return result;
  }
  std::setvbuf(f, nullptr, _IONBF, 0);  // the blocks below are the buffer
  std::string block;
  block.reserve(kBlockBytes + 4096);
  std::size_t inBlock = 0;   // lines collected and not yet written
  std::uintmax_t good = 0;   // bytes of whole lines known to be in the file
  // Writes the collected lines; on failure the file is cut back to the last whole line.
  const auto writeBlock = [&]() {
    if (block.empty()) return true;
    if (std::fwrite(block.data(), 1, block.size(), f) != block.size()) {
      result.Status = CsvStatus::WriteFailed;
      result.Error = std::strerror(errno);
      return false;
    }
    good += block.size();
    result.RowsWritten += inBlock;
    block.clear();
    inBlock = 0;
    return true;
  };

  bool go = !progress || progress(0, table.RowCount);
  std::vector<std::string> cells(table.ColumnVisible.size());
  for (std::size_t r = 0; go && r < table.RowCount; ++r) {
    for (std::size_t c = 0; c < cells.size(); ++c)
      cells[c] = table.ColumnVisible[c] && table.Cell ? table.Cell(r, c) : std::string();
    block += Utf8ToGbk(CsvLine(cells, table.ColumnVisible));
    block += "\r\n";
    ++inBlock;
    if (block.size() >= kBlockBytes && !writeBlock()) break;
    go = !progress || progress(r + 1, table.RowCount);
  }
  if (result.Status == CsvStatus::Ok) {
    if (!go) result.Status = CsvStatus::Cancelled;
    writeBlock();
  }
  if (std::fclose(f) != 0 && result.Status != CsvStatus::WriteFailed) {
    result.Status = CsvStatus::WriteFailed;
    result.Error = std::strerror(errno);
  }
  if (result.Status == CsvStatus::WriteFailed) {
    std::error_code ec;  // a device such as /dev/full has no size to cut back to
    if (std::filesystem::is_regular_file(path, ec)) std::filesystem::resize_file(path, good, ec);
  }
  return result;
}

}  // namespace tessel
