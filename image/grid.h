#pragma once
// A code grid as plain data: row 0 is the header row, data rows count from 1.
#include <string>
#include <vector>

namespace kelvane {

enum class GridId { Keys = 0, Residents = 1, GeneralCodes = 2, Digitizers = 3 };
constexpr int kGridCount = 4;

// Column count of each grid.
int gridColumns(GridId id);
// Most data rows the "+" button lets a grid have: 3072, 510, 64, 96.
int gridRowLimit(GridId id);
// Object name of the grid's widget: sgPastylki, sgLokatorzy, sgOKO, sgDigit.
const char* gridName(GridId id);

struct Grid {
    using Row = std::vector<std::string>;
    std::vector<Row> rows;  // rows[0] is the header row
    int currentRow = 1;
    int currentCol = 0;

    // A grid of the given columns with an empty header and one empty data row.
    static Grid make(int columns);
    int columns() const { return rows.empty() ? 0 : static_cast<int>(rows[0].size()); }
    int rowCount() const { return static_cast<int>(rows.size()); }  // header included
    // Appends a data row.
    void append(Row row);
};

// "+": below the limit, adds an empty row at the end and makes it current.
void AddGridRow(Grid& grid, int limit);
// "-": removes the current row (rows below move up); a grid's only data row
// is emptied, never removed.
void DeleteGridRow(Grid& grid);
// True when every cell of the row is exactly the empty text.
bool IsRowEmpty(const Grid& grid, int row);

}  // namespace kelvane
