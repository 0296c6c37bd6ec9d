#pragma once
// The four code grids as spreadsheet tables (CSV).
//
// Export: UTF-8 with a byte-order mark, ';' between fields, CR LF after each
// record, a header row, then one record per non-empty data row holding the
// grid's texts exactly; fields with ';', '"', CR or LF are quoted (RFC 4180).
// A field a spreadsheet would run as a formula (it begins with '=', '+', '-',
// '@', tab or CR) is written with a leading apostrophe, as is one that begins
// with an apostrophe; the import takes one leading apostrophe off again, so a
// table comes back exactly.
//
// Import reads UTF-8 (with or without the mark) or, when the bytes are not
// UTF-8, Windows-1250; the separator (';', ',' or tab) is the one the first
// record uses most; a first record equal to the grid's header texts in any
// language is skipped. Every record is checked with the forms typing gives the
// grid's cells (checkGridCells) and the grid's row rules (checkGridRow) before
// anything changes; the result is the grid the import
// would make plus the records refused, each with its line in the file.
//
// No texts live here: the caller passes the header texts (the language table
// holds them) and turns the problem codes into messages.
//
// Typical use, e.g. a command-line tool:
//   const GridCsvHeaders headers = ...;      // headers[grid][language][column]
//   std::string csv = exportGridCsv(window.grid(GridId::Keys), headers[0][language]);
//   CsvImport result = importGridCsv(GridId::Residents, fileBytes, current, CsvImportMode::Append, headers);
//   if (result.fault == CsvFileFault::None) window.grid(GridId::Residents) = result.grid;
#include "files/atomic_file.h"
#include "image/code_rules.h"
#include "image/grid.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace kelvane {

// Header texts of every grid in every language: [grid][language][column].
using GridCsvHeaders = std::array<std::vector<std::vector<std::string>>, kGridCount>;

// Name of a grid's table in file names and on command lines: "keys",
// "residents", "general_codes", "digitizers".
const char* csvTableName(GridId grid);
// The grid a table name names (as above, case-insensitive); false when none.
bool gridFromCsvTableName(const std::string& name, GridId& grid);
// "<table name>.csv".
std::string csvFileName(GridId grid);

// The CSV bytes of a grid's data rows (row 0 of the grid is not used; the
// header record is `headers`). Rows whose cells are all empty are left out.
std::string exportGridCsv(const Grid& grid, const std::vector<std::string>& headers);

// Writes text to a file completely or not at all, through the one file
// writer; false, with the reason in `fault` when given, when it could not.
bool saveTextFile(const std::filesystem::path& path, const std::string& bytes, WriteFault* fault = nullptr);
// The largest table file read: the longest table exported holds well under a
// tenth of it.
constexpr std::size_t kMaxCsvBytes = 4 * 1024 * 1024;
// The bytes of a table file: a regular file of at most kMaxCsvBytes; false,
// with the reason in `fault` when given, when it cannot be read.
bool loadFileBytes(const std::filesystem::path& path, std::string& bytes, ReadFault* fault = nullptr);

// Why a whole file is refused; nothing is imported then.
enum class CsvFileFault {
    None,
    Empty,       // no bytes, or no record besides a header
    Binary,      // control bytes: not a text file
    DataFile,    // a .kvd data file (an image), not a table
    OtherTable,  // its header row is that of another grid (CsvImport::otherGrid)
};

// Why one record is refused.
enum class CsvRowProblem {
    Invalid,        // breaks the grid's row rules
    BadCell,        // a cell no typing could make (CsvRefusal::cell)
    Repeated,       // names the same key or resident slot as an earlier line (otherLine)
    TooManyFields,  // more non-empty fields than the grid has columns
    TableFull,      // the table's entries are used up (tableCapacity)
    OpenQuote,      // a quoted field runs to the end of the file
};

struct CsvRefusal {
    int line = 0;  // line of the file where the record starts, from 1
    CsvRowProblem problem = CsvRowProblem::Invalid;
    int otherLine = 0;  // Repeated: the line that named the entry first
    CellCheck cell;     // BadCell: the column and what is wrong with it
    // Invalid: the first cell that breaks its rule, and the rule.
    int column = -1;
    CellRule rule = CellRule::None;
};

enum class CsvImportMode {
    Replace,  // the file's rows take the place of all the grid's rows
    Append,   // the file's rows are added; one naming an entry the grid already
              // has (same key, same resident slot) replaces that row in place
};

struct CsvImport {
    CsvFileFault fault = CsvFileFault::None;
    GridId otherGrid = GridId::Keys;  // OtherTable: the grid the header names
    bool header = false;              // the first record was a header row
    char separator = ';';
    bool windows1250 = false;  // the bytes were read as Windows-1250
    Grid grid;                 // the grid after the import (header row kept, one empty data row when none)
    // What the import changes; a row the file holds as the grid held it is
    // neither counted nor listed.
    int added = 0;     // rows of entries the grid did not have
    int replaced = 0;  // the grid's rows of the same entry (key, resident slot) with other cells
    // Each replaced row, as it was and as it becomes.
    std::vector<std::pair<Grid::Row, Grid::Row>> changed;
    int removed = 0;                  // Replace: the grid's non-empty rows the file no longer holds
    int unchanged = 0;                // rows of the file the grid already held as they are
    std::vector<CsvRefusal> refused;  // in file order
};

// Reads a CSV file's bytes into the given grid; `current` is the grid as the
// window holds it now. On a fault the grid is `current` unchanged.
CsvImport importGridCsv(GridId id, const std::string& bytes, const Grid& current, CsvImportMode mode,
                        const GridCsvHeaders& headers);

}  // namespace kelvane
