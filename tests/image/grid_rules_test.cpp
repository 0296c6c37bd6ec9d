#include "image/code_rules.h"
#include "image/grid.h"

#include <gtest/gtest.h>

using namespace kelvane;

namespace {
Grid gridWith(int dataRows, int columns = 2) {
    Grid g = Grid::make(columns);
    g.rows.resize(1);
    for (int r = 1; r <= dataRows; ++r) g.append({std::to_string(r), "x"});
    return g;
}
}  // namespace

TEST(GridRows, PlusStopsAtEachGridsLimit) {
    for (GridId id : {GridId::Keys, GridId::Residents, GridId::GeneralCodes, GridId::Digitizers}) {
        const int limit = gridRowLimit(id);
        Grid g = gridWith(limit - 1);
        AddGridRow(g, limit);
        EXPECT_EQ(g.rowCount() - 1, limit);
        EXPECT_EQ(g.currentRow, limit);
        EXPECT_EQ(g.currentCol, 0);
        AddGridRow(g, limit);
        EXPECT_EQ(g.rowCount() - 1, limit) << gridName(id);
    }
    EXPECT_EQ(gridRowLimit(GridId::Keys), 3072);
    EXPECT_EQ(gridRowLimit(GridId::Residents), 510);
    EXPECT_EQ(gridRowLimit(GridId::GeneralCodes), 64);
    EXPECT_EQ(gridRowLimit(GridId::Digitizers), 96);
}

TEST(GridRows, MinusOnTheOnlyRowEmptiesItAndKeepsIt) {
    Grid g = gridWith(1);
    DeleteGridRow(g);
    ASSERT_EQ(g.rowCount(), 2);
    EXPECT_TRUE(IsRowEmpty(g, 1));
}

TEST(GridRows, MinusRemovesTheCurrentRowAndMovesTheRestUp) {
    Grid g = gridWith(4);
    g.currentRow = 2;
    DeleteGridRow(g);
    ASSERT_EQ(g.rowCount(), 4);
    EXPECT_EQ(g.rows[1][0], "1");
    EXPECT_EQ(g.rows[2][0], "3");
    EXPECT_EQ(g.rows[3][0], "4");
    g.currentRow = 3;  // the last row
    DeleteGridRow(g);
    ASSERT_EQ(g.rowCount(), 3);
    EXPECT_EQ(g.rows[2][0], "3");
    EXPECT_LE(g.currentRow, 2);
}

TEST(GridRows, OnlyTrulyEmptyCellsMakeAnEmptyRow) {
    Grid g = Grid::make(2);
    EXPECT_TRUE(IsRowEmpty(g, 1));
    g.rows[1][1] = " ";
    EXPECT_FALSE(IsRowEmpty(g, 1));
}

TEST(CellReading, NumberCells) {
    EXPECT_EQ(readNumberCell("42"), 42);
    EXPECT_EQ(readNumberCell("  0123 "), 123);
    EXPECT_EQ(readNumberCell(""), 0);
    EXPECT_EQ(readNumberCell("   "), 0);
    EXPECT_EQ(readNumberCell("12a"), 0);
    EXPECT_EQ(readNumberCell("1 2"), 0);
    EXPECT_EQ(readNumberCell("-5"), -5);
    EXPECT_EQ(readNumberCell("+5"), 5);
    EXPECT_EQ(readNumberCell("99999999999"), 0);  // not an int
}

TEST(CellReading, PhysicalCodes) {
    auto pc = readPhysicalCode("1.7");
    EXPECT_EQ(pc.line, 1);
    EXPECT_EQ(pc.local, 7);
    pc = readPhysicalCode("2.255");
    EXPECT_EQ(pc.line, 2);
    EXPECT_EQ(pc.local, 255);
    pc = readPhysicalCode("2x 12abc");  // second character skipped, digits up to the first other
    EXPECT_EQ(pc.line, 2);
    EXPECT_EQ(pc.local, 12);
    pc = readPhysicalCode("1.");
    EXPECT_EQ(pc.line, 1);
    EXPECT_EQ(pc.local, 0);
    pc = readPhysicalCode("");
    EXPECT_NE(pc.line, 1);
    EXPECT_NE(pc.line, 2);
    pc = readPhysicalCode("0.5");
    EXPECT_EQ(pc.line, 0);
    pc = readPhysicalCode(" .5");  // a blank line digit is no line
    EXPECT_NE(pc.line, 1);
    EXPECT_NE(pc.line, 2);
}
