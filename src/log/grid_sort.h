// Sorting of the log viewers' grids: cells that read as numbers compare as numbers, every other
// cell compares as text.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tessel {

using GridRow = std::vector<std::string>;

// True when the whole cell is one finite decimal number (e.g. "12", "-3.5", "1.2346E+05").
bool CellNumber(const std::string& cell, double& value);

// Ordering of two cells: numbers before text, numbers by value, text by its bytes.
// Negative, zero or positive like strcmp. A strict weak order, so mixed columns sort safely.
int CompareCells(const std::string& a, const std::string& b);

// Row indices 0..rowCount-1 ordered by the text cellText(row) of the sort column; stable, so
// equal cells keep their query order in both directions.
std::vector<std::size_t> SortedRowOrder(std::size_t rowCount,
                                        const std::function<std::string(std::size_t)>& cellText,
                                        bool descending);

// Sorts data rows (no header) in place by one column. A column that no row has (column < 0 or
// beyond the cells) leaves the rows as they are, as the grid ignores a sort column it lacks.
void SortGridRows(std::vector<GridRow>& rows, int column, bool descending);

}  // namespace tessel
