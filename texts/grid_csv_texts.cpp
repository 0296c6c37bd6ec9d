#include "texts/grid_csv_texts.h"

#include "image/window_data.h"
#include "texts/entry_message.h"
#include "texts/language_table.h"

#include <cstdio>
#include <cstring>

namespace kelvane::texts {

namespace {

template <typename... Args>
std::string format(Message message, int language, Args... args) {
    char buf[512];
    std::snprintf(buf, sizeof buf, messageText(message, language), args...);
    return buf;
}

}  // namespace

std::vector<std::string> gridHeaders(GridId grid, int language) {
    std::vector<std::string> headers(static_cast<std::size_t>(gridColumns(grid)));
    for (const auto& e : windowEntries())
        if (e.kind == TargetKind::GridHeader && std::strcmp(e.target, gridName(grid)) == 0 && e.index >= 0 &&
            e.index < gridColumns(grid))
            headers[static_cast<std::size_t>(e.index)] = e.text[language >= 0 && language < kLanguageCount ? language : 0];
    return headers;
}

GridCsvHeaders csvHeaders() {
    GridCsvHeaders all;
    for (int g = 0; g < kGridCount; ++g)
        for (int l = 0; l < kLanguageCount; ++l) all[g].push_back(gridHeaders(static_cast<GridId>(g), l));
    return all;
}

std::string csvFaultText(const CsvImport& import, GridId grid, int language) {
    switch (import.fault) {
    case CsvFileFault::None: return {};
    case CsvFileFault::Empty: return messageText(Message::CsvEmpty, language);
    case CsvFileFault::Binary: return messageText(Message::CsvBinary, language);
    case CsvFileFault::DataFile: return messageText(Message::CsvDataFile, language);
    case CsvFileFault::OtherTable:
        return format(Message::CsvOtherTable, language, gridCaption(import.otherGrid, language).c_str(),
                      gridCaption(grid, language).c_str());
    }
    return {};
}

std::string csvRefusalText(const CsvRefusal& refusal, GridId grid, int language) {
    std::string reason;
    switch (refusal.problem) {
    case CsvRowProblem::Invalid:
        reason = messageText(Message::CsvInvalidRow, language);
        // Which cell and why, as the window says it under a refused row.
        if (refusal.column >= 0 && refusal.column < gridColumns(grid))
            reason += "; " + brokenRuleText(gridHeaders(grid, language)[static_cast<std::size_t>(refusal.column)],
                                            refusal.rule, language);
        break;
    case CsvRowProblem::Repeated: reason = format(Message::CsvRepeatedRow, language, refusal.otherLine); break;
    case CsvRowProblem::TooManyFields: reason = format(Message::CsvTooManyFields, language, gridColumns(grid)); break;
    case CsvRowProblem::TableFull: reason = format(Message::CsvTableFull, language, tableCapacity(grid)); break;
    case CsvRowProblem::OpenQuote: reason = messageText(Message::CsvOpenQuote, language); break;
    case CsvRowProblem::BadCell: {
        std::string what;
        switch (refusal.cell.problem) {
        case CellProblem::NotDigits: what = messageText(Message::CellNotDigits, language); break;
        case CellProblem::TooManyDigits: what = format(Message::CellTooManyDigits, language, refusal.cell.limit); break;
        case CellProblem::NotPhysicalCode: what = messageText(Message::CellNotPhysicalCode, language); break;
        case CellProblem::NotKeyText: what = messageText(Message::CellNotKeyText, language); break;
        case CellProblem::NoCode:
        case CellProblem::None: what = messageText(Message::CellNoCode, language); break;
        }
        const auto headers = gridHeaders(grid, language);
        const std::size_t column = static_cast<std::size_t>(refusal.cell.column);
        const std::string header = column < headers.size() ? trimBlanks(headers[column]) : std::to_string(column + 1);
        reason = refusal.cell.problem == CellProblem::NoCode
                     ? what
                     : format(Message::CsvBadCell, language, header.c_str(), what.c_str());
        break;
    }
    }
    return format(Message::CsvLine, language, refusal.line, reason.c_str());
}

}  // namespace kelvane::texts
