#include "log/event_log_query.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "log/temp_folder.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

TEventRec Rec(double time, int addr, int kind, int code, int alarmState = 255) {
  TEventRec r;
  r.Time = time;
  r.Address = static_cast<uint8_t>(addr);
  r.Kind = static_cast<uint8_t>(kind);
  r.Code = code;
  r.AlarmState = static_cast<uint8_t>(alarmState);
  return r;
}

void WriteLog(const fs::path& p, const std::vector<TEventRec>& recs, size_t extraBytes = 0) {
  std::vector<uint8_t> bytes;
  for (const auto& r : recs) {
    auto b = EncodeEventRec(r);
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  bytes.insert(bytes.end(), extraBytes, 0x5A);
  testing::WriteBytes(p, bytes);
}

std::vector<std::string> Numbers(const std::vector<GridRow>& rows) {
  std::vector<std::string> out;
  for (const auto& r : rows) out.push_back(r[0]);
  return out;
}

class EventLogQueryTest : public ::testing::Test {
 protected:
  // Numbers in the comments: count 9 + 1, minus one for each record with a date.
  void SetUp() override {
    WriteLog(path, {
                       Rec(EncodeDateTime(2023, 12, 31, 10, 0, 0), 0, 0, 20),    // 9
                       Rec(EncodeDateTime(2024, 3, 5, 8, 0, 0), 5, 1, 4),        // 8
                       Rec(EncodeDateTime(2024, 3, 5, 9, 0, 0), 6, 0, 22),       // 7
                       Rec(EncodeDateTime(2024, 3, 6, 9, 0, 0), 5, 2, 51, 1),    // 6
                       Rec(EncodeDateTime(2024, 4, 1, 0, 0, 0), 5, 2, 51, 0),    // 5
                       Rec(EncodeDateTime(2025, 3, 5, 0, 0, 0), 5, 0, 18),       // 4
                       Rec(std::nan(""), 5, 0, 18),                              // no date
                       Rec(EncodeDateTime(2024, 3, 5, 23, 59, 59), 0, 0, 21),    // 3
                       Rec(EncodeDateTime(2024, 3, 5, 12, 0, 0), 5, 2, 129, 1),  // 2
                   });
  }

  testing::TempFolder folder;
  fs::path path = folder / "EventLog.dat";
};

TEST_F(EventLogQueryTest, FiltersByDateAndAddressAndNumbersFromTheEnd) {
  using M = EventViewMode;
  struct Case {
    EventLogFilter filter;
    std::vector<std::string> numbers;
  } const cases[] = {
      {MakeEventLogFilter(M::All, 2024, 3, 5, false, 5), {"9", "8", "7", "6", "5", "4", "3", "2"}},
      {MakeEventLogFilter(M::Year, 2024, 3, 5, false, 5), {"8", "7", "6", "5", "3", "2"}},
      {MakeEventLogFilter(M::Month, 2024, 3, 5, false, 5), {"8", "7", "6", "3", "2"}},
      {MakeEventLogFilter(M::Date, 2024, 3, 5, false, 5), {"8", "7", "3", "2"}},
      {MakeEventLogFilter(M::Date, 2024, 3, 5, true, 5), {"8", "2"}},
      {MakeEventLogFilter(M::All, 2024, 3, 5, true, 5), {"8", "6", "5", "4", "2"}},
      {MakeEventLogFilter(M::Year, 2026, 1, 1, false, 0), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.filter.Year << "-" << c.filter.Month << "-"
                                      << c.filter.Day << " @" << c.filter.Address);
    EXPECT_EQ(Numbers(QueryEventLog(path.string(), c.filter, 0)), c.numbers);
  }
}

TEST_F(EventLogQueryTest, RowsHoldTimeAddressAndTextInTheChosenLanguage) {
  auto en = QueryEventLog(path.string(), {}, 0);
  ASSERT_EQ(en.size(), 8u);
  EXPECT_EQ(en[0], (GridRow{"9", "2023-12-31 10:00:00", "", "Monitor software is open"}));
  EXPECT_EQ(en[1], (GridRow{"8", "2024-03-05 08:00:00", "5", "Online"}));
  EXPECT_EQ(en[2], (GridRow{"7", "2024-03-05 09:00:00", "6", "Communication upbuilt"}));
  EXPECT_EQ(en[3], (GridRow{"6", "2024-03-06 09:00:00", "5", "Overload"}));
  EXPECT_EQ(en[4], (GridRow{"5", "2024-04-01 00:00:00", "5", "Recover from: Overload"}));
  EXPECT_EQ(en[5], (GridRow{"4", "2025-03-05 00:00:00", "5", "Communication lost"}));
  EXPECT_EQ(en[6], (GridRow{"3", "2024-03-05 23:59:59", "", "Monitor software is closed"}));
  EXPECT_EQ(en[7], (GridRow{"2", "2024-03-05 12:00:00", "5", "Bus abnormal, shutdown"}));

  auto zh = QueryEventLog(path.string(), {}, 1);
  ASSERT_EQ(zh.size(), 8u);
  const char* texts[] = {"监控软件开启", "市电状态", "通讯建立",     "过载",
                         "恢复于: 过载", "通讯中断", "监控软件关闭", "母线异常关机"};
  for (size_t i = 0; i < zh.size(); ++i) EXPECT_EQ(zh[i][3], texts[i]) << i;
}

TEST_F(EventLogQueryTest, RecordsWithoutTextAreCountedButNotListed) {
  const double t = EncodeDateTime(2024, 7, 1, 8, 0, 0);
  WriteLog(path, {
                     Rec(t, 3, 2, 999, 1),  // appeared, unknown code
                     Rec(t, 3, 2, 149, 0),  // cleared, code without text: prefix alone
                     Rec(t, 3, 3, 20),      // unknown kind
                     Rec(t, 3, 1, -1),      // state -1 has no text
                     Rec(t, 3, 0, 5),
                     Rec(t, 3, 2, 9, 7),  // any state but 1 reads as cleared
                     Rec(t, 3, 2, 9, 1),
                 });
  auto rows = QueryEventLog(path.string(), {}, 0);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (GridRow{"2", "2024-07-01 08:00:00", "3", "Recover from: Fan fault"}));
  EXPECT_EQ(rows[1], (GridRow{"1", "2024-07-01 08:00:00", "3", "Fan fault"}));
}

TEST_F(EventLogQueryTest, PartialRecordIgnoredAndMissingFileGivesNothing) {
  const double t = EncodeDateTime(2024, 7, 1, 8, 0, 0);
  WriteLog(path, {Rec(t, 1, 0, 22), Rec(t, 2, 0, 22)}, 30);
  auto rows = QueryEventLog(path.string(), {}, 0);
  EXPECT_EQ(Numbers(rows), (std::vector<std::string>{"2", "1"}));
  EXPECT_EQ(rows[1][2], "2");

  EXPECT_TRUE(QueryEventLog((folder / "none.dat").string(), {}, 0).empty());
}

TEST_F(EventLogQueryTest, AQueryThatIsNoLongerWantedStopsEarly) {
  // 10,000 records: the walk is asked whether to go on every few thousand records.
  std::vector<TEventRec> recs(10000, Rec(EncodeDateTime(2024, 7, 1), 1, 0, 22));
  WriteLog(path, recs);
  int asked = 0;
  bool stopped = false;
  auto rows = QueryEventEntries(
      path.string(), {}, 0, [&] { return ++asked < 2; }, &stopped);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(asked, 2);
  EXPECT_LT(rows.size(), recs.size());
  rows = QueryEventEntries(
      path.string(), {}, 0, [] { return true; }, &stopped);
  EXPECT_FALSE(stopped);
  EXPECT_EQ(rows.size(), recs.size());
}

TEST(EventLogQuery, SortIsStableOnTypedValues) {
  // Rows named by their number; the address decides, ties keep the order they had.
  const auto rows = [](std::vector<std::pair<int, int>> numberAndAddress) {
    std::vector<EventLogEntry> out;
    for (auto [n, a] : numberAndAddress) {
      EventLogEntry e;
      e.Number = n;
      e.Address = static_cast<uint8_t>(a);
      out.push_back(e);
    }
    return out;
  };
  struct Case {
    std::vector<EventLogEntry> in;
    bool descending;
    std::vector<int64_t> numbers;
  } const cases[] = {
      // Address 0 (an empty cell) after every address, as text after numbers.
      {rows({{1, 0}, {2, 12}, {3, 5}, {4, 0}, {5, 5}}), false, {3, 5, 2, 1, 4}},
      {rows({{1, 0}, {2, 12}, {3, 5}, {4, 0}, {5, 5}}), true, {1, 4, 2, 3, 5}},
      // Reversed but for one tie: the tied rows must keep their order.
      {rows({{1, 9}, {2, 7}, {3, 7}, {4, 2}}), false, {4, 2, 3, 1}},
      {rows({{1, 9}, {2, 7}, {3, 2}}), false, {3, 2, 1}},
      {rows({{1, 2}, {2, 7}, {3, 7}}), false, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    auto sorted = c.in;
    SortEventEntries(sorted, kEventColAddress, c.descending, 0);
    std::vector<int64_t> numbers;
    for (const auto& e : sorted) numbers.push_back(e.Number);
    EXPECT_EQ(numbers, c.numbers);
  }
}

TEST(EventLogQuery, HeaderAndPrefixByLanguage) {
  EXPECT_EQ(EventLogHeader(1), (GridRow{"序号", "时间", "设备地址", "事件"}));
  EXPECT_EQ(EventLogHeader(0), (GridRow{"Index", "Time", "Address", "Event"}));
  EXPECT_EQ(EventLogHeader(2), EventLogHeader(0));
  EXPECT_EQ(RecoverPrefix(1), "恢复于: ");
  EXPECT_EQ(RecoverPrefix(0), "Recover from: ");
}

}  // namespace
}  // namespace tessel
