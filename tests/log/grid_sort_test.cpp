#include "log/grid_sort.h"

#include <gtest/gtest.h>

namespace tessel {
namespace {

std::vector<std::string> Column(const std::vector<GridRow>& rows, size_t c) {
  std::vector<std::string> out;
  for (const auto& r : rows) out.push_back(r[c]);
  return out;
}

TEST(GridSort, NumbersCompareAsNumbersAndTextAsText) {
  struct Case {
    std::vector<std::string> cells;
    bool descending;
    std::vector<std::string> sorted;
  } const cases[] = {
      {{"10", "9", "100", "-2.5"}, false, {"-2.5", "9", "10", "100"}},
      {{"10", "9", "100", "-2.5"}, true, {"100", "10", "9", "-2.5"}},
      {{"99999.0", "1.2346E+05", "220.0"}, false, {"220.0", "99999.0", "1.2346E+05"}},
      // time stamps are text and sort chronologically as such
      {{"2024-03-05 10:00:00", "2024-03-05 09:59:59", "2023-12-31 23:59:59"},
       false,
       {"2023-12-31 23:59:59", "2024-03-05 09:59:59", "2024-03-05 10:00:00"}},
      {{"Online", "Battery Status", "Recover from: Fan fault"},
       false,
       {"Battery Status", "Online", "Recover from: Fan fault"}},
      // a column with empty cells: numbers first, then the empty cells
      {{"", "80", "", "5"}, false, {"5", "80", "", ""}},
      {{"", "80", "", "5"}, true, {"", "", "80", "5"}},
      // mixed cells that would compare inconsistently without separating numbers from text
      {{"2", "1a", "10", "x"}, false, {"2", "10", "1a", "x"}},
  };
  for (const auto& c : cases) {
    std::vector<GridRow> rows;
    for (const auto& cell : c.cells) rows.push_back({"a", cell});
    SortGridRows(rows, 1, c.descending);
    EXPECT_EQ(Column(rows, 1), c.sorted);
  }
}

TEST(GridSort, EqualCellsKeepQueryOrderAndMissingColumnChangesNothing) {
  std::vector<GridRow> rows = {{"5", "first"}, {"3", "x"}, {"5", "second"}, {"5", "third"}};
  SortGridRows(rows, 0, false);
  EXPECT_EQ(Column(rows, 1), (std::vector<std::string>{"x", "first", "second", "third"}));
  SortGridRows(rows, 0, true);
  EXPECT_EQ(Column(rows, 1), (std::vector<std::string>{"first", "second", "third", "x"}));

  auto before = rows;
  SortGridRows(rows, 2, true);
  EXPECT_EQ(rows, before);
  SortGridRows(rows, -1, true);
  EXPECT_EQ(rows, before);
}

TEST(GridSort, CellNumberAcceptsOnlyWholeFiniteNumbers) {
  double v = 0;
  EXPECT_TRUE(CellNumber("220.0", v));
  EXPECT_EQ(v, 220.0);
  EXPECT_TRUE(CellNumber("1.0000E+05", v));
  EXPECT_EQ(v, 100000.0);
  for (const char* text : {"", " 5", "5 ", "12abc", "nan", "INF", "+3", "2024-03-05"})
    EXPECT_FALSE(CellNumber(text, v)) << text;
}

}  // namespace
}  // namespace tessel
