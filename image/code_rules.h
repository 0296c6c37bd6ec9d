#pragma once
// Cell text forms and the rules a grid row must meet to be stored.
#include "image/grid.h"

#include <string>

namespace kelvane {

// The text without the blanks (spaces and control characters) at either end.
std::string trimBlanks(const std::string& text);

// A decimal number cell: trimmed of blanks; anything that is not an integer
// reads as 0.
int readNumberCell(const std::string& text);

// A physical code "L.N": the line is the first character's code minus 48 (as
// an unsigned byte, so an empty text gives an invalid line); the local number
// is read from the third character on, like atoi; the second character is
// skipped whatever it is.
struct PhysicalCode {
    int line = 0;
    int local = 0;
};
PhysicalCode readPhysicalCode(const std::string& text);

// The rule a cell breaks.
enum class CellRule {
    None,
    FlatNumber,      // a number from 1 to 9999
    KeySerial,       // eight hexadecimal bytes whose last is the check of the others
    LineAndFlat,     // "L.N": line 1 or 2, flat 1 to 255
    LineAndPlace,    // "L.N": line 1 or 2, 0 to 255
    Code,            // a code from 1 to 9999
    FourfoldNumber,  // a number from 4 to 252 divisible by 4
    KeyNumber,       // a number from 0 to 127
};

// What a grid's rules make of one data row before anything is stored.
struct RowCheck {
    bool valid = false;
    // An invalid row: the first cell, left to right, that breaks its rule.
    int column = -1;
    CellRule rule = CellRule::None;
    // The entry the row names where a table holds each entry once: a key's six
    // serial bytes as hex, a resident's slot as "line.local". Empty for the
    // other grids and for invalid rows.
    std::string entry;
};
// Missing cells count as empty texts.
RowCheck checkGridRow(GridId grid, const Grid::Row& cells);

// What typing into a grid's cell can make, column by column (the cells' edit
// masks): up to N digits ("9999"), a physical code "L.NNN", a key's hex text.
// Text that came from elsewhere (a spreadsheet) may hold what no typing could,
// and the row rules would quietly read it as another value ("12a4" as 0, 99999
// as 4463 once stored).
enum class CellProblem {
    None,
    NotDigits,        // a character other than a digit
    TooManyDigits,    // more digits than the column holds (CellCheck::limit)
    NotPhysicalCode,  // not "L.N" with a line digit and up to three digits
    NotKeyText,       // a character other than a hex digit or a blank
    NoCode,           // a resident row whose three codes are all empty or 0: it would store nothing
};
struct CellCheck {
    CellProblem problem = CellProblem::None;
    int column = -1;  // the first cell that breaks its column's form
    int limit = 0;    // TooManyDigits: the digits the column holds
};
// The first cell of a data row (already trimmed) that typing could not have made.
CellCheck checkGridCells(GridId grid, const Grid::Row& cells);

}  // namespace kelvane
