// The data log query over a month file of arbitrary bytes, every display cell of what it finds,
// and the viewer's sort of those rows.
//
// Input: five bytes of filter (date mode, year 2000 + b, month, day, address), then the file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "log/data_log.h"
#include "log/data_log_query.h"
#include "log/grid_sort.h"

using namespace tessel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  static const std::string dir = fuzz::ScratchDir();
  TRecFilter filter = MakeDataLogFilter(dir, data[0] & 1, static_cast<uint16_t>(2000 + data[1]),
                                        static_cast<uint16_t>(data[2] % 13 + 1),
                                        static_cast<uint16_t>(data[3] % 32), data[4] != 0, data[4]);
  fuzz::WriteFile(filter.FileName, data + 5, size - 5);

  std::vector<GridRow> rows;
  size_t visited = 0;
  const bool opened = ForEachDataLogMatch(filter, [&](const TDataRec& rec) {
    ++visited;
    if (filter.Address != 0 && rec.Address != filter.Address) __builtin_trap();
    GridRow row = DataLogRowCells(rec);
    if (row.size() != kDataLogColumns) __builtin_trap();
    for (int c = 0; c < kDataLogColumns; ++c)
      if (DataLogCell(rec, c) != row[c]) __builtin_trap();
    rows.push_back(std::move(row));
  });
  if (!opened) __builtin_trap();
  if (visited > (size - 5) / kDataRecSize) __builtin_trap();
  if (QueryDataLog(filter).size() != visited) __builtin_trap();

  for (int col : {0, 1, 2, 10, 13, 14}) {
    for (bool desc : {false, true}) {
      std::vector<GridRow> sorted = rows;
      SortGridRows(sorted, col, desc);
      if (sorted.size() != rows.size()) __builtin_trap();
    }
  }
  return 0;
}
