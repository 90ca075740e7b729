#include "log/event_log_query.h"

#include <cmath>

#include "log/record_file.h"
#include "model/clock.h"
#include "model/texts.h"

namespace tessel {

EventLogFilter MakeEventLogFilter(EventViewMode mode, uint16_t year, uint16_t month, uint16_t day,
                                  bool byAddress, uint16_t address) {
  EventLogFilter f;
  switch (mode) {
    case EventViewMode::All:
      break;
    case EventViewMode::Year:
      f.Year = year;
      break;
    case EventViewMode::Month:
      f.Year = year;
      f.Month = month;
      break;
    case EventViewMode::Date:
      f.Year = year;
      f.Month = month;
      f.Day = day;
      break;
  }
  f.Address = byAddress ? address : 0;
  return f;
}

std::string RecoverPrefix(uint8_t language) {
  return language == 1 ? "恢复于: " : "Recover from: ";
}

std::string EventText(const TEventRec& rec, uint8_t language) {
  switch (rec.Kind) {
    case 0:
      return CommEventText(rec.Code, language);
    case 1:
      return StateText(rec.Code, language);
    case 2: {
      std::string text = AlarmText(rec.Code, language);
      if (text.empty() || rec.AlarmState == 1) return text;
      return RecoverPrefix(language) + text;
    }
    default:
      return "";
  }
}

bool StampHasDate(double stamp) {
  // 0001-01-01 .. 9999-12-31 23:59:59.999
  return std::isfinite(stamp) && stamp >= -693593.0 && stamp < 2958466.0;
}

GridRow EventLogHeader(uint8_t language) {
  if (language == 1) return {"序号", "时间", "设备地址", "事件"};
  return {"Index", "Time", "Address", "Event"};
}

namespace {

bool DateMatches(const DateTimeParts& d, const EventLogFilter& f) {
  if (f.Day != 0) return d.Year == f.Year && d.Month == f.Month && d.Day == f.Day;
  if (f.Month != 0) return d.Year == f.Year && d.Month == f.Month;
  if (f.Year != 0) return d.Year == f.Year;
  return true;
}

}  // namespace

std::vector<GridRow> QueryEventLog(const std::string& filePath, const EventLogFilter& filter,
                                   uint8_t language) {
  std::vector<GridRow> rows;
  const std::int64_t count = WholeRecords(filePath, kEventRecSize);
  std::int64_t number = count + 1;
  const std::string prefix = RecoverPrefix(language);
  ForEachRecord(filePath, kEventRecSize, count, [&](const uint8_t* bytes) {
    TEventRec rec = DecodeEventRec(bytes);
    if (!StampHasDate(rec.Time)) return;
    DateTimeParts d = DecodeDateTime(rec.Time);
    --number;
    if (!DateMatches(d, filter)) return;
    if (filter.Address != 0 && rec.Address != filter.Address) return;
    std::string text = EventText(rec, language);
    if (text.empty() || text == prefix) return;
    rows.push_back({std::to_string(number), FormatDateTime(rec.Time),
                    rec.Address == 0 ? std::string() : std::to_string(rec.Address),
                    std::move(text)});
  });
  return rows;
}

}  // namespace tessel
