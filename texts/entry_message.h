#pragma once
// The message that names one grid row which cannot be stored: the tab, the
// table, the row number, each column as "header= cell", then what is wrong.
#include "image/code_rules.h"

#include <string>
#include <vector>

namespace kelvane::texts {

enum class EntryProblem {
    Invalid,    // breaks a rule; the user may abort or leave it out
    Repeated,   // repeats a stored entry; the conversion stops
    TableFull,  // valid, but its table is full; the conversion stops
};

struct EntryMessageParts {
    std::string tabCaption;            // caption of the tab page holding the grid
    std::string groupCaption;          // caption of the grid's group box
    int row = 0;                       // grid row, 1 for the first data row
    std::vector<std::string> headers;  // header text of each column
    std::vector<std::string> cells;    // the row's cells; missing cells count as empty
    int capacity = 0;                  // entries the table holds (TableFull)
};

// The message text in the given language (UTF-8, line feeds).
std::string buildEntryMessage(EntryProblem problem, int language, const EntryMessageParts& parts);

// The line under an invalid row's message: the column, by its header, and the
// rule its cell breaks. Empty for CellRule::None.
std::string brokenRuleText(const std::string& header, CellRule rule, int language);

}  // namespace kelvane::texts
