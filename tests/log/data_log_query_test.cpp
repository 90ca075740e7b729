#include "log/data_log_query.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <limits>

#include "log/temp_folder.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

TDataRec Rec(double time, uint8_t addr, const TUpsInfo& u = TUpsInfo{}) {
  TDataRec r;
  r.Time = time;
  r.Address = addr;
  r.Block = MeasureBlock(u);
  return r;
}

void WriteFile(const fs::path& p, const std::vector<TDataRec>& recs, size_t extraBytes = 0) {
  std::vector<uint8_t> bytes;
  bytes.reserve(recs.size() * kDataRecSize + extraBytes);
  for (const auto& r : recs) {
    auto b = EncodeDataRec(r);
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  bytes.insert(bytes.end(), extraBytes, 0x77);
  testing::WriteBytes(p, bytes);
}

std::vector<std::string> Times(const std::vector<TDataRec>& recs) {
  std::vector<std::string> out;
  for (const auto& r : recs) out.push_back(DataLogCell(r, 0) + " @" + DataLogCell(r, 1));
  return out;
}

TEST(DataLogQuery, FilterNamesTheMonthFile) {
  testing::TempFolder folder;
  auto dir = folder.Path().string();
  const auto want = (folder / "DataLog2024_03.dat").string();
  EXPECT_EQ(DataLogMonthPath(dir, 2024, 3), want);
  EXPECT_EQ(DataLogMonthPath(dir + "/", 2024, 3), want);
  EXPECT_EQ(DataLogMonthPath(dir, 2008, 12), (folder / "DataLog2008_12.dat").string());

  TRecFilter month = MakeDataLogFilter(dir, false, 2024, 3, 5, false, 9);
  EXPECT_EQ(month.FileName, want);
  EXPECT_EQ(month.Day, 0);
  EXPECT_EQ(month.Address, 0);
  TRecFilter date = MakeDataLogFilter(dir, true, 2024, 3, 5, true, 9);
  EXPECT_EQ(date.Year, 2024);
  EXPECT_EQ(date.Month, 3);
  EXPECT_EQ(date.Day, 5);
  EXPECT_EQ(date.Address, 9);
}

TEST(DataLogQuery, MonthAndDateModesWithAddressFilter) {
  testing::TempFolder folder;
  auto dir = folder.Path().string();
  WriteFile(folder / "DataLog2024_03.dat",
            {
                Rec(EncodeDateTime(2024, 3, 4, 23, 59, 59), 1),
                Rec(EncodeDateTime(2024, 3, 5, 0, 0, 0), 2),
                Rec(EncodeDateTime(2024, 3, 5, 10, 30, 0), 1),
                Rec(EncodeDateTime(2024, 3, 6, 0, 0, 0), 1),
                Rec(EncodeDateTime(2024, 4, 5, 10, 0, 0), 2),  // stray: month mode shows the file
            },
            40);
  struct Case {
    bool dateMode, byAddress;
    uint16_t address;
    std::vector<std::string> rows;
  } const cases[] = {
      {false,
       false,
       0,
       {"2024-03-04 23:59:59 @1", "2024-03-05 00:00:00 @2", "2024-03-05 10:30:00 @1",
        "2024-03-06 00:00:00 @1", "2024-04-05 10:00:00 @2"}},
      {false, true, 2, {"2024-03-05 00:00:00 @2", "2024-04-05 10:00:00 @2"}},
      {true, false, 0, {"2024-03-05 00:00:00 @2", "2024-03-05 10:30:00 @1"}},
      {true, true, 1, {"2024-03-05 10:30:00 @1"}},
      {true, true, 3, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.dateMode << c.byAddress << c.address);
    EXPECT_EQ(
        Times(QueryDataLog(MakeDataLogFilter(dir, c.dateMode, 2024, 3, 5, c.byAddress, c.address))),
        c.rows);
  }
  bool visited = false;
  EXPECT_FALSE(ForEachDataLogMatch(MakeDataLogFilter(dir, false, 2024, 2, 1, false, 0),
                                   [&](const TDataRec&) { visited = true; }));
  EXPECT_FALSE(visited);
}

TEST(DataLogQuery, ReadsLargeFilesBlockByBlockInOrder) {
  testing::TempFolder folder;
  const int n = 10007;  // several read blocks, the last one short
  std::vector<TDataRec> recs;
  const double start = EncodeDateTime(2024, 5, 1);
  for (int i = 0; i < n; ++i) {
    TUpsInfo u;
    u.BattLivingTime = static_cast<uint16_t>(i + 1);
    recs.push_back(Rec(start + i / 1440.0, static_cast<uint8_t>(i % 7 + 1), u));
  }
  WriteFile(folder / "DataLog2024_05.dat", recs, 127);

  auto all = QueryDataLog(MakeDataLogFilter(folder.Path().string(), false, 2024, 5, 1, false, 0));
  ASSERT_EQ(all.size(), static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(DataLogCell(all[i], 14), std::to_string(i + 1)) << i;
    ASSERT_EQ(all[i].Address, i % 7 + 1) << i;
  }
  auto addr3 = QueryDataLog(MakeDataLogFilter(folder.Path().string(), false, 2024, 5, 1, true, 3));
  EXPECT_EQ(addr3.size(), static_cast<size_t>((n - 3) / 7 + 1));
  auto day2 = QueryDataLog(MakeDataLogFilter(folder.Path().string(), true, 2024, 5, 2, false, 0));
  ASSERT_EQ(day2.size(), 1440u);
  EXPECT_EQ(DataLogCell(day2.front(), 14), "1441");
}

TEST(DataLogQuery, FifteenColumnsFormatted) {
  TUpsInfo u;
  u.InputV_A = 219.96;
  u.InputV_B = 220.04;
  u.InputV_C = 0;
  u.OutputV_A = 1234.56;
  u.OutputV_B = 12345.67;
  u.OutputV_C = 123456.7;
  u.LoadPer_A = 45.5;
  u.LoadPer_B = 0.4;
  u.LoadPer_C = 12345;
  u.OutputFreq = 49.95;
  u.DCInputV = -0.04;
  u.BattCapa = 87;
  u.BattLivingTime = 120;
  u.BattCurr1 = 5.5;
  TDataRec r = Rec(EncodeDateTime(2024, 3, 5, 10, 30, 15), 17, u);
  EXPECT_EQ(DataLogRowCells(r),
            (GridRow{"2024-03-05 10:30:15", "17", "220.0", "220.0", "0.0", "1234.6", "12346.0",
                     "1.2346E+05", "46", "0", "1.235E+04", "50.0", "0.0", "87", "120"}));

  u.BattCapa = 0;
  u.BattLivingTime = 0;
  EXPECT_EQ(DataLogCell(Rec(0, 1, u), 13), "");
  EXPECT_EQ(DataLogCell(Rec(0, 1, u), 14), "");
  u.BattCapa = 0xFFFFFFFF;  // -1 read as signed
  EXPECT_EQ(DataLogCell(Rec(0, 1, u), 13), "");
  EXPECT_EQ(DataLogCell(r, 15), "");
}

TEST(DataLogQuery, SignificantDigitsWithExponentFallBack) {
  struct Case {
    double value;
    int precision, digits;
    const char* text;
  } const cases[] = {
      {230.0, 5, 1, "230.0"},           {0.25, 5, 1, "0.3"},  {0.05, 5, 1, "0.1"},
      {-12.34, 5, 1, "-12.3"},          {-0.04, 5, 1, "0.0"}, {9999.96, 5, 1, "10000.0"},
      {99999.96, 5, 1, "1.0000E+05"},   {2.5, 4, 0, "3"},     {99.5, 4, 0, "100"},
      {9999.5, 4, 0, "1.000E+04"},      {0.0, 4, 0, "0"},     {1e-9, 5, 1, "0.0"},
      {-123456.0, 5, 1, "-1.2346E+05"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatSignificant(c.value, c.precision, c.digits), c.text) << c.value;
}

TEST(DataLogQuery, HeaderTexts) {
  auto zh = DataLogHeader(1);
  auto en = DataLogHeader(0);
  ASSERT_EQ(zh.size(), 15u);
  ASSERT_EQ(en.size(), 15u);
  EXPECT_EQ(zh[0], "时间");
  EXPECT_EQ(zh[14], "电池后备时间(分)");
  EXPECT_EQ(en[2], "InV-A (V)");
  EXPECT_EQ(en[12], "DC V(V)");
  EXPECT_EQ(en[14], "BattSuppTime(min)");
}

TEST(DataLogQuery, ListsAndDeletesMonthFiles) {
  testing::TempFolder folder;
  for (const char* name : {"DataLog2024_04.dat", "DataLog2024_03.dat", "EventLog.dat",
                           "TreeNode.dat", "DataLog2024_05.txt", "Datalog2024_06.dat"})
    testing::WriteBytes(folder / name, {1});
  fs::create_directory(folder / "DataLog2020_01.dat");
  auto dir = folder.Path().string();
  EXPECT_EQ(ListDataLogMonths(dir), (std::vector<std::string>{"DataLog2024_03", "DataLog2024_04"}));

  EXPECT_TRUE(DeleteDataLogMonth(dir, "DataLog2024_03"));
  EXPECT_FALSE(fs::exists(folder / "DataLog2024_03.dat"));
  EXPECT_FALSE(DeleteDataLogMonth(dir, "DataLog2024_03"));  // already gone
  EXPECT_FALSE(DeleteDataLogMonth(dir, "EventLog"));
  EXPECT_FALSE(DeleteDataLogMonth(dir + "/sub", "DataLog/../../EventLog"));
  EXPECT_TRUE(fs::exists(folder / "EventLog.dat"));
  EXPECT_EQ(ListDataLogMonths(dir), (std::vector<std::string>{"DataLog2024_04"}));
  EXPECT_TRUE(ListDataLogMonths((folder / "missing").string()).empty());
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

// The typed sort key must order cells as the grid orders their texts (numbers before text,
// numbers by value), refining only ties of the rounded text.
TEST(DataLogQuery, SortKeyFollowsTheGridOrderOfTheCells) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<TDataRec> recs;
  const double volts[] = {-5.0, 0.0, -0.0, 9.96, 10.0, 220.04, 220.06, 123456.0, nan, inf, -inf};
  const int32_t capas[] = {0, -3, 5, 100, 0, 7, 1, 2, 3, 4, 6};
  const uint16_t minutes[] = {0, 1, 65535, 0, 12, 3, 0, 9, 2, 4, 5};
  for (size_t i = 0; i < std::size(volts); ++i) {
    TUpsInfo u{};
    u.InputV_A = volts[i];
    u.LoadPer_B = volts[i];
    u.BattCapa = capas[i];
    u.BattLivingTime = minutes[i];
    recs.push_back(
        Rec(EncodeDateTime(2024, 3, 1 + static_cast<int>(i % 3), 0, 0, static_cast<int>(i)),
            static_cast<uint8_t>(250 - i * 20), u));
  }
  for (int column : {0, 1, 2, 9, 13, 14}) {
    for (const auto& a : recs) {
      for (const auto& b : recs) {
        const std::string ta = DataLogCell(a, column), tb = DataLogCell(b, column);
        const uint64_t ka = DataLogSortKey(a, column), kb = DataLogSortKey(b, column);
        const int text = CompareCells(ta, tb);
        if (text < 0) {
          EXPECT_LT(ka, kb) << column << ": " << ta << " < " << tb;
        } else if (text > 0) {
          EXPECT_GT(ka, kb) << column << ": " << ta << " > " << tb;
        }
        if (ka == kb) {
          EXPECT_EQ(ta, tb) << column;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tessel
