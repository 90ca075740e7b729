// The event log as the viewer lists it: filtering by date and address, numbering from the end of
// the file, and the text of each event in the chosen language.
#pragma once

#include <cstdint>
#include <functional>
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

// One row of the viewer, kept compact (a log can hold millions): the fields its columns show.
// The cells are formatted only when they are displayed (EventLogCell).
struct EventLogEntry {
  double Time = 0;
  std::int64_t Number = 0;  // newest record of the file = 1
  std::int32_t Code = 0;
  std::uint8_t Address = 0;
  std::uint8_t Kind = 0;
  std::uint8_t AlarmState = 255;
};

enum EventLogColumn { kEventColNumber = 0, kEventColTime, kEventColAddress, kEventColText };
constexpr int kEventLogColumns = 4;

// The records of the live file at filePath that match the filter, in file order, numbered from
// the end: the newest record of the file is 1 and every record with a date counts, so
// filtered-out records leave gaps. Records without a date or without text give no row; a
// trailing partial record is ignored. A file that cannot be opened gives no rows. keepGoing, when
// set, is asked every few thousand records; when it says false the walk stops, the rows found so
// far are returned and *stopped (when given) is set.
std::vector<EventLogEntry> QueryEventEntries(const std::string& filePath,
                                             const EventLogFilter& filter, uint8_t language,
                                             const std::function<bool()>& keepGoing = {},
                                             bool* stopped = nullptr);

// The text of one cell as the grid shows it: the number in decimal, the time
// "yyyy-mm-dd hh:mm:ss", the address in decimal (empty for 0, the program's own events), the
// event text. Empty for a column the grid does not have.
std::string EventLogCell(const EventLogEntry& entry, int column, uint8_t language);

// Sorts the rows by one column on its typed value: number, time stamp, address (the program's
// own events, whose address cell is empty, after every address, as text sorts after numbers) or
// the event text by its bytes. Stable: equal cells keep their order in both directions. A column
// the grid does not have leaves the rows as they are.
void SortEventEntries(std::vector<EventLogEntry>& rows, int column, bool descending,
                      uint8_t language);

// The rows of QueryEventEntries as text, four cells each.
std::vector<GridRow> QueryEventLog(const std::string& filePath, const EventLogFilter& filter,
                                   uint8_t language);

}  // namespace tessel
