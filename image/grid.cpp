#include "image/grid.h"

namespace kelvane {

int gridColumns(GridId id) {
    static const int columns[kGridCount] = {2, 4, 3, 3};
    return columns[static_cast<int>(id)];
}

int gridRowLimit(GridId id) {
    static const int limits[kGridCount] = {3072, 510, 64, 96};
    return limits[static_cast<int>(id)];
}

const char* gridName(GridId id) {
    static const char* names[kGridCount] = {"sgPastylki", "sgLokatorzy", "sgOKO", "sgDigit"};
    return names[static_cast<int>(id)];
}

Grid Grid::make(int columns) {
    Grid g;
    g.rows.assign(2, Row(static_cast<std::size_t>(columns)));
    return g;
}

void Grid::append(Row row) {
    row.resize(static_cast<std::size_t>(columns()));
    rows.push_back(std::move(row));
}

void AddGridRow(Grid& grid, int limit) {
    if (grid.rowCount() > limit) return;
    grid.rows.emplace_back(static_cast<std::size_t>(grid.columns()));
    grid.currentRow = grid.rowCount() - 1;
    grid.currentCol = 0;
}

void DeleteGridRow(Grid& grid) {
    if (grid.rowCount() <= 2) {
        if (grid.rowCount() == 2)
            for (auto& cell : grid.rows[1]) cell.clear();
        return;
    }
    const int last = grid.rowCount() - 1;
    const int from = grid.currentRow < 1 ? 1 : grid.currentRow;
    for (int r = from; r < last; ++r) grid.rows[r] = grid.rows[r + 1];
    grid.rows.pop_back();
    if (grid.currentRow > grid.rowCount() - 1) grid.currentRow = grid.rowCount() - 1;
}

bool IsRowEmpty(const Grid& grid, int row) {
    for (const auto& cell : grid.rows[row])
        if (!cell.empty()) return false;
    return true;
}

}  // namespace kelvane
