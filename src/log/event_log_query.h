// The event log as the viewer lists it: filtering by date and address, numbering from the end of
// the file, and the text of each event in the chosen language.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log/event_log.h"
#include "log/grid_sort.h"

namespace tessel {

// 0 in any field means "any".
struct EventLogFilter {
  uint16_t Year = 0;
  uint16_t Month = 0;
  uint16_t Day = 0;
  uint16_t Address = 0;
};

// The viewer's modes: 0 all, 1 year, 2 month, 3 date.
enum class EventViewMode { All = 0, Year = 1, Month = 2, Date = 3 };

// Filter from the viewer's controls; the date parts the mode does not use become 0, and the
// address is 0 unless byAddress.
EventLogFilter MakeEventLogFilter(EventViewMode mode, uint16_t year, uint16_t month, uint16_t day,
                                  bool byAddress, uint16_t address);

// Prefix of a cleared alarm's text: "恢复于: " / "Recover from: ".
std::string RecoverPrefix(uint8_t language);

// Text of one event: kind 0 communication/program text, 1 state text, 2 alarm text (with the
// cleared prefix unless AlarmState is 1). Empty when the kind or code has no text.
std::string EventText(const TEventRec& rec, uint8_t language);

// True when the stamp lies in years 1..9999 and so has a calendar date.
bool StampHasDate(double stamp);

// Header texts of the four columns: "序号", "时间", "设备地址", "事件" / "Index", "Time",
// "Address", "Event".
GridRow EventLogHeader(uint8_t language);

// Rows of the live file at filePath that match the filter, in file order. Each row holds four
// cells: the number (newest record of the file = 1, counting every record with a date, so
// filtered-out records leave gaps), the time "yyyy-mm-dd hh:mm:ss", the address (empty for 0)
// and the text. Records without a date or without text give no row. A file that cannot be
// opened gives no rows. A trailing partial record is ignored.
std::vector<GridRow> QueryEventLog(const std::string& filePath, const EventLogFilter& filter,
                                   uint8_t language);

}  // namespace tessel
