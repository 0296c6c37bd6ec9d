#include "image/code_rules.h"

#include <climits>

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

int ReadNumberCell(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    const std::string trimmed = text.substr(begin, end - begin);
    std::size_t pos = 0;
    bool anyDigit = false;
    const long long value = readDigits(trimmed, pos, anyDigit);
    // Not an integer, or too large for one: reads as 0.
    if (!anyDigit || pos != trimmed.size() || value >= INT_MAX || value <= -INT_MAX) return 0;
    return static_cast<int>(value);
}

PhysicalCode ReadPhysicalCode(const std::string& text) {
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

}  // namespace kelvane
