#include "log/grid_sort.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace tessel {

namespace {

struct SortKey {
  bool isNumber = false;
  double number = 0;
  std::string text;
};

SortKey MakeKey(std::string text) {
  SortKey k;
  k.isNumber = CellNumber(text, k.number);
  if (!k.isNumber) k.text = std::move(text);
  return k;
}

int CompareKeys(const SortKey& a, const SortKey& b) {
  if (a.isNumber != b.isNumber) return a.isNumber ? -1 : 1;
  if (a.isNumber) return a.number < b.number ? -1 : (b.number < a.number ? 1 : 0);
  return a.text.compare(b.text) < 0 ? -1 : (a.text == b.text ? 0 : 1);
}

}  // namespace

bool CellNumber(const std::string& cell, double& value) {
  if (cell.empty()) return false;
  const char* first = cell.data();
  const char* last = cell.data() + cell.size();
  if (*first == '+') return false;  // the grids never show a plus sign; treat it as text
  auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  return ec == std::errc() && ptr == last && std::isfinite(value);
}

int CompareCells(const std::string& a, const std::string& b) {
  return CompareKeys(MakeKey(a), MakeKey(b));
}

std::vector<std::size_t> SortedRowOrder(std::size_t rowCount,
                                        const std::function<std::string(std::size_t)>& cellText,
                                        bool descending) {
  // Parse each cell once; a month of samples can hold millions of rows.
  std::vector<SortKey> keys;
  keys.reserve(rowCount);
  for (std::size_t r = 0; r < rowCount; ++r) keys.push_back(MakeKey(cellText(r)));
  std::vector<std::size_t> order(rowCount);
  for (std::size_t r = 0; r < rowCount; ++r) order[r] = r;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    int c = CompareKeys(keys[x], keys[y]);
    return descending ? c > 0 : c < 0;
  });
  return order;
}

void SortGridRows(std::vector<GridRow>& rows, int column, bool descending) {
  if (column < 0) return;
  const auto col = static_cast<std::size_t>(column);
  bool anyHasColumn =
      std::any_of(rows.begin(), rows.end(), [col](const GridRow& r) { return col < r.size(); });
  if (!anyHasColumn) return;
  static const std::string kEmpty;
  auto order = SortedRowOrder(
      rows.size(), [&](std::size_t r) { return col < rows[r].size() ? rows[r][col] : kEmpty; },
      descending);
  std::vector<GridRow> sorted;
  sorted.reserve(rows.size());
  for (std::size_t r : order) sorted.push_back(std::move(rows[r]));
  rows = std::move(sorted);
}

}  // namespace tessel
