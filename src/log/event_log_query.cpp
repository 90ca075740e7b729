#include "log/event_log_query.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

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

namespace {

// Events with the same key have the same text.
uint64_t TextKey(uint8_t kind, uint8_t alarmState, int32_t code) {
  return (uint64_t{kind} << 40) | (uint64_t{alarmState == 1} << 32) | static_cast<uint32_t>(code);
}

// Whether an event has a text, asked once per kind, code and alarm state instead of once per
// record.
class TextPresence {
 public:
  explicit TextPresence(uint8_t language) : language_(language), prefix_(RecoverPrefix(language)) {}
  bool Has(const TEventRec& rec) {
    const uint64_t key = TextKey(rec.Kind, rec.AlarmState, rec.Code);
    auto it = known_.find(key);
    if (it == known_.end()) {
      const std::string text = EventText(rec, language_);
      it = known_.emplace(key, !text.empty() && text != prefix_).first;
    }
    return it->second;
  }

 private:
  uint8_t language_;
  std::string prefix_;
  std::unordered_map<uint64_t, bool> known_;
};

TEventRec AsRec(const EventLogEntry& e) {
  TEventRec r;
  r.Time = e.Time;
  r.Address = e.Address;
  r.Kind = e.Kind;
  r.Code = e.Code;
  r.AlarmState = e.AlarmState;
  return r;
}

}  // namespace

std::vector<EventLogEntry> QueryEventEntries(const std::string& filePath,
                                             const EventLogFilter& filter, uint8_t language,
                                             const std::function<bool()>& keepGoing,
                                             bool* stopped) {
  constexpr std::int64_t kAskEvery = 4096;
  std::vector<EventLogEntry> rows;
  const std::int64_t count = WholeRecords(filePath, kEventRecSize);
  std::int64_t number = count + 1;
  std::int64_t visited = 0;
  TextPresence texts(language);
  bool wasStopped = false;
  ForEachRecordWhile(filePath, kEventRecSize, count, [&](const uint8_t* bytes) {
    if (keepGoing && ++visited % kAskEvery == 0 && !keepGoing()) {
      wasStopped = true;
      return false;
    }
    const TEventRec rec = DecodeEventRec(bytes);
    if (!StampHasDate(rec.Time)) return true;
    --number;
    if (!DateMatches(DecodeDateTime(rec.Time), filter)) return true;
    if (filter.Address != 0 && rec.Address != filter.Address) return true;
    if (!texts.Has(rec)) return true;
    EventLogEntry e;
    e.Time = rec.Time;
    e.Number = number;
    e.Code = rec.Code;
    e.Address = rec.Address;
    e.Kind = rec.Kind;
    e.AlarmState = rec.AlarmState;
    rows.push_back(e);
    return true;
  });
  if (stopped) *stopped = wasStopped;
  return rows;
}

std::string EventLogCell(const EventLogEntry& entry, int column, uint8_t language) {
  switch (column) {
    case kEventColNumber:
      return std::to_string(entry.Number);
    case kEventColTime:
      return FormatDateTime(entry.Time);
    case kEventColAddress:
      return entry.Address == 0 ? std::string() : std::to_string(entry.Address);
    case kEventColText:
      return EventText(AsRec(entry), language);
    default:
      return "";
  }
}

void SortEventEntries(std::vector<EventLogEntry>& rows, int column, bool descending,
                      uint8_t language) {
  if (column < 0 || column >= kEventLogColumns || rows.size() < 2) return;
  // The text column sorts on the rank of each distinct text; there are only a few hundred.
  std::map<std::string, double> textRank;
  std::unordered_map<uint64_t, double> rankOfEvent;
  if (column == kEventColText) {
    std::unordered_map<uint64_t, std::string> textOfEvent;
    for (const EventLogEntry& e : rows) {
      const uint64_t key = TextKey(e.Kind, e.AlarmState, e.Code);
      if (textOfEvent.count(key)) continue;
      std::string text = EventText(AsRec(e), language);
      textRank.emplace(text, 0.0);
      textOfEvent.emplace(key, std::move(text));
    }
    double rank = 0;
    for (auto& [text, r] : textRank) r = rank++;  // std::string orders by bytes
    for (const auto& [key, text] : textOfEvent) rankOfEvent.emplace(key, textRank[text]);
  }
  struct Keyed {
    double key;
    uint32_t index;
  };
  std::vector<Keyed> keyed(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const EventLogEntry& e = rows[i];
    double key = 0;
    switch (column) {
      case kEventColNumber:
        key = static_cast<double>(e.Number);
        break;
      case kEventColTime:
        key = e.Time;
        break;
      case kEventColAddress:
        key = e.Address == 0 ? 256.0 : e.Address;  // the empty cell after every number
        break;
      default:
        key = rankOfEvent[TextKey(e.Kind, e.AlarmState, e.Code)];
        break;
    }
    keyed[i] = {key, static_cast<uint32_t>(i)};
  }
  // Rows straight from the file are in reverse order of their numbers and times, and a re-sort
  // often finds them in order already: both cost one pass instead of a sort.
  const auto before = [descending](double a, double b) { return descending ? a > b : a < b; };
  bool inOrder = true, reversed = true;
  for (size_t i = 1; i < keyed.size() && (inOrder || reversed); ++i) {
    if (before(keyed[i].key, keyed[i - 1].key))
      inOrder = false;
    else
      reversed = false;  // a tie too: reversing would swap equal rows
  }
  if (inOrder) return;
  if (reversed) {
    std::reverse(rows.begin(), rows.end());
    return;
  }
  // Ties broken by the old position: stable in both directions.
  std::sort(keyed.begin(), keyed.end(), [descending](const Keyed& a, const Keyed& b) {
    if (a.key != b.key) return descending ? a.key > b.key : a.key < b.key;
    return a.index < b.index;
  });
  std::vector<EventLogEntry> sorted;
  sorted.reserve(rows.size());
  for (const Keyed& k : keyed) sorted.push_back(rows[k.index]);
  rows = std::move(sorted);
}

std::vector<GridRow> QueryEventLog(const std::string& filePath, const EventLogFilter& filter,
                                   uint8_t language) {
  std::vector<GridRow> rows;
  for (const EventLogEntry& e : QueryEventEntries(filePath, filter, language)) {
    GridRow row;
    for (int c = 0; c < kEventLogColumns; ++c) row.push_back(EventLogCell(e, c, language));
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace tessel
