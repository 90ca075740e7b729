// The event log query over an event file of arbitrary bytes, and the viewer's sort of its rows.
//
// Input: six bytes of filter (mode 0..3, year 2000 + b, month, day, address, language), then the
// file content.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "log/event_log.h"
#include "log/event_log_query.h"
#include "log/grid_sort.h"

using namespace tessel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  static const std::string path = fuzz::ScratchDir() + "/EventLog.dat";
  fuzz::WriteFile(path, data + 6, size - 6);

  const EventLogFilter filter =
      MakeEventLogFilter(static_cast<EventViewMode>(data[0] % 4),
                         static_cast<uint16_t>(2000 + data[1]), static_cast<uint16_t>(data[2] % 14),
                         static_cast<uint16_t>(data[3] % 33), data[4] != 0, data[4]);
  const uint8_t language = data[5] & 1;
  std::vector<GridRow> rows = QueryEventLog(path, filter, language);

  // Numbers count down from the record count, one row per record at most.
  const long long count = static_cast<long long>((size - 6) / kEventRecSize);
  if (static_cast<long long>(rows.size()) > count) __builtin_trap();
  long long last = count + 1;
  for (const GridRow& r : rows) {
    if (r.size() != 4 || r[3].empty()) __builtin_trap();
    const long long n = std::stoll(r[0]);
    if (n < 1 || n >= last) __builtin_trap();
    last = n;
    if (filter.Address != 0 && r[2] != std::to_string(filter.Address)) __builtin_trap();
  }

  // Sorting keeps the rows, whichever column and direction.
  for (int col = 0; col < 4; ++col) {
    for (bool desc : {false, true}) {
      std::vector<GridRow> sorted = rows;
      SortGridRows(sorted, col, desc);
      if (sorted.size() != rows.size()) __builtin_trap();
    }
  }
  return 0;
}
