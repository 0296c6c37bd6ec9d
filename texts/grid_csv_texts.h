#pragma once
// The texts of the code tables' spreadsheet files, from the language table:
// header rows, and the messages about refused files and rows.
#include "files/grid_csv.h"

#include <string>
#include <vector>

namespace kelvane::texts {

// The grid's column headers in a language.
std::vector<std::string> gridHeaders(GridId grid, int language);
// Every grid's headers in every language, for recognising a header row.
GridCsvHeaders csvHeaders();

// Why a file was refused (empty when it was not).
std::string csvFaultText(const CsvImport& import, GridId grid, int language);
// "Line N: reason" for one refused row.
std::string csvRefusalText(const CsvRefusal& refusal, GridId grid, int language);

}  // namespace kelvane::texts
