#include "image/code_rules.h"

#include "image/codecs.h"

#include <climits>
#include <vector>

namespace kelvane {

namespace {
bool isBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// Optional sign and decimal digits from text[pos]; ok when digits run to `end`.
long long readDigits(const std::string& text, std::size_t& pos, bool& anyDigit) {
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    long long value = 0;
    anyDigit = false;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        anyDigit = true;
        if (value < INT_MAX) value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    if (value > INT_MAX) value = INT_MAX;
    return negative ? -value : value;
}
}  // namespace

std::string trimBlanks(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

int readNumberCell(const std::string& text) {
    const std::string trimmed = trimBlanks(text);
    std::size_t pos = 0;
    bool anyDigit = false;
    const long long value = readDigits(trimmed, pos, anyDigit);
    // Not an integer, or too large for one: reads as 0.
    if (!anyDigit || pos != trimmed.size() || value >= INT_MAX || value <= -INT_MAX) return 0;
    return static_cast<int>(value);
}

PhysicalCode readPhysicalCode(const std::string& text) {
    PhysicalCode code;
    // An empty text has no line digit: the line then reads as 0 - 48, invalid.
    const int first = text.empty() ? 0 : static_cast<unsigned char>(text[0]);
    code.line = static_cast<unsigned char>(first - 48);
    if (text.size() < 3) return code;
    std::size_t pos = 2;
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) ++pos;
    bool anyDigit = false;
    const long long local = readDigits(text, pos, anyDigit);
    code.local = anyDigit ? static_cast<int>(local) : 0;
    return code;
}

namespace {
const std::string& cellOf(const Grid::Row& cells, std::size_t column) {
    static const std::string empty;
    return column < cells.size() ? cells[column] : empty;
}

}  // namespace

RowCheck checkGridRow(GridId grid, const Grid::Row& cells) {
    RowCheck check;
    // The first broken rule names the cell; the row is valid when none is.
    const auto require = [&check](bool met, int column, CellRule rule) {
        if (!met && check.column < 0) {
            check.column = column;
            check.rule = rule;
        }
    };
    switch (grid) {
    case GridId::Keys: {
        const ParsedKey parsed = ParseKeyText(trimBlanks(cellOf(cells, 1)));
        const int local = readNumberCell(cellOf(cells, 0));
        require(local >= 1 && local <= 9999, 0, CellRule::FlatNumber);
        require(parsed.ok, 1, CellRule::KeySerial);
        check.valid = check.column < 0;
        if (check.valid) {
            static const char hex[] = "0123456789ABCDEF";
            for (int i = 1; i <= 6; ++i) {
                check.entry += hex[parsed.rom[i] >> 4];
                check.entry += hex[parsed.rom[i] & 0xF];
            }
        }
        break;
    }
    case GridId::Residents: {
        const PhysicalCode pc = readPhysicalCode(cellOf(cells, 0));
        require((pc.line == 1 || pc.line == 2) && pc.local >= 1 && pc.local <= 255, 0, CellRule::LineAndFlat);
        check.valid = check.column < 0;
        if (check.valid) check.entry = std::to_string(pc.line) + "." + std::to_string(pc.local);
        break;
    }
    case GridId::GeneralCodes: {
        const int code = readNumberCell(cellOf(cells, 0));
        require(code >= 1 && code <= 9999, 0, CellRule::Code);
        check.valid = check.column < 0;
        break;
    }
    case GridId::Digitizers: {
        const PhysicalCode pc = readPhysicalCode(cellOf(cells, 0));
        const int number = readNumberCell(cellOf(cells, 1));
        const int keyNo = readNumberCell(cellOf(cells, 2));
        // A negative local number would not fit its byte: invalid like one above 255.
        require((pc.line == 1 || pc.line == 2) && pc.local >= 0 && pc.local <= 255, 0, CellRule::LineAndPlace);
        require(number >= 1 && number <= 255 && number % 4 == 0, 1, CellRule::FourfoldNumber);
        require(keyNo >= 0 && keyNo <= 127, 2, CellRule::KeyNumber);
        check.valid = check.column < 0;
        break;
    }
    }
    return check;
}

namespace {

enum class CellForm { Free, Digits, PhysicalCode, KeyText };
struct ColumnForm {
    CellForm form;
    int digits;  // Digits: the most the column holds
};

// The forms follow the grids' edit masks, column by column.
const std::vector<ColumnForm>& columnForms(GridId grid) {
    static const std::vector<ColumnForm> keys{{CellForm::Digits, 4}, {CellForm::KeyText, 0}};
    static const std::vector<ColumnForm> residents{
        {CellForm::PhysicalCode, 0}, {CellForm::Digits, 4}, {CellForm::Digits, 4}, {CellForm::Digits, 4}};
    static const std::vector<ColumnForm> general{{CellForm::Digits, 4}, {CellForm::Digits, 3}, {CellForm::Digits, 1}};
    static const std::vector<ColumnForm> digitizers{
        {CellForm::PhysicalCode, 0}, {CellForm::Digits, 3}, {CellForm::Digits, 3}};
    switch (grid) {
    case GridId::Keys: return keys;
    case GridId::Residents: return residents;
    case GridId::GeneralCodes: return general;
    case GridId::Digitizers: return digitizers;
    }
    return keys;
}

bool allDigits(const std::string& s) {
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool isHexOrBlank(char c) {
    return c == ' ' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

CellProblem checkCell(const ColumnForm& form, const std::string& text, int& limit) {
    if (text.empty()) return CellProblem::None;
    switch (form.form) {
    case CellForm::Free: return CellProblem::None;
    case CellForm::Digits:
        if (!allDigits(text)) return CellProblem::NotDigits;
        limit = form.digits;
        return static_cast<int>(text.size()) > form.digits ? CellProblem::TooManyDigits : CellProblem::None;
    case CellForm::PhysicalCode: {
        const std::string local = text.size() > 2 ? text.substr(2) : std::string();
        // The mask's point; a spreadsheet set to a decimal comma writes 1.5 as 1,5.
        const bool ok = text.size() >= 3 && text.size() <= 5 && text[0] >= '0' && text[0] <= '9' &&
                        (text[1] == '.' || text[1] == ',') && allDigits(local);
        return ok ? CellProblem::None : CellProblem::NotPhysicalCode;
    }
    case CellForm::KeyText:
        for (char c : text)
            if (!isHexOrBlank(c)) return CellProblem::NotKeyText;
        return CellProblem::None;
    }
    return CellProblem::None;
}

}  // namespace

CellCheck checkGridCells(GridId grid, const Grid::Row& cells) {
    CellCheck check;
    const auto& forms = columnForms(grid);
    for (std::size_t c = 0; c < forms.size() && c < cells.size(); ++c) {
        check.problem = checkCell(forms[c], cells[c], check.limit);
        if (check.problem != CellProblem::None) {
            check.column = static_cast<int>(c);
            return check;
        }
        check.limit = 0;
    }
    if (grid == GridId::Residents) {
        bool anyCode = false;
        for (std::size_t c = 1; c < 4; ++c) anyCode = anyCode || readNumberCell(cellOf(cells, c)) != 0;
        if (!anyCode) {
            check.problem = CellProblem::NoCode;
            check.column = 1;
        }
    }
    return check;
}

}  // namespace kelvane
