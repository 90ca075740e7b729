// The data log as the viewer lists it: the month file of a filter, matching by date and address,
// the fifteen display columns, and the month files offered for deletion.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "log/data_log.h"
#include "log/grid_sort.h"

namespace tessel {

constexpr int kDataLogColumns = 15;

struct TRecFilter {
  uint16_t Year = 0;
  uint16_t Month = 0;
  uint16_t Day = 0;      // 0: the whole month file
  uint16_t Address = 0;  // 0: any address
  std::string FileName;  // the month file to read
};

// Path of the month file: recordDir + "DataLog" + year + "_" + two-digit month + ".dat".
std::string DataLogMonthPath(const std::string& recordDir, uint16_t year, uint16_t month);

// Filter from the viewer's controls: Day is 0 unless dateMode, Address 0 unless byAddress.
TRecFilter MakeDataLogFilter(const std::string& recordDir, bool dateMode, uint16_t year,
                             uint16_t month, uint16_t day, bool byAddress, uint16_t address);

// True when the record passes the filter's date (Day 0: any day of the file) and address tests.
// A record whose time has no calendar date never matches.
bool DataLogMatches(const TRecFilter& filter, const TDataRec& rec);

// Calls visit for each matching record of filter.FileName in file order, reading in blocks so that
// a month file of any size can be walked; a trailing partial record and records whose time has no
// calendar date are skipped. False (nothing visited) when the file cannot be opened.
bool ForEachDataLogMatch(const TRecFilter& filter,
                         const std::function<void(const TDataRec&)>& visit);

// Every matching record, in file order (no row limit).
std::vector<TDataRec> QueryDataLog(const TRecFilter& filter);

// Cell text of one column (0..14) of a record; empty for any other column.
std::string DataLogCell(const TDataRec& rec, int column);
GridRow DataLogRowCells(const TDataRec& rec);
GridRow DataLogHeader(uint8_t language);

// Sort key of a record's cell in one column (0..14), ordered as the grid sorts: cells that show a
// number before cells that show text, numbers by their typed value (not their rounded text), text
// by its bytes ("" < "-INF" < "INF" < "NAN"). Compare keys as unsigned integers.
uint64_t DataLogSortKey(const TDataRec& rec, int column);

// value rounded to at most `precision` significant digits and `digits` decimals (halves away from
// zero) in fixed notation with exactly `digits` decimals; a value with more than `precision`
// integer digits is written in exponent notation ("1.2346E+05").
std::string FormatSignificant(double value, int precision, int digits);

// Month files of the record folder for the delete dialog: each "*.dat" file whose name, without
// ".dat", starts with "DataLog" ("DataLog2024_03"), sorted by name.
std::vector<std::string> ListDataLogMonths(const std::string& recordDir);

// Deletes recordDir + item + ".dat" for an item of ListDataLogMonths. False when the item is not
// such a name or the file could not be deleted.
bool DeleteDataLogMonth(const std::string& recordDir, const std::string& item);

}  // namespace tessel
