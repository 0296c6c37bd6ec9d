#pragma once
// Cell text forms and the rules a grid row must meet to be stored.
#include <string>

namespace kelvane {

// A decimal number cell: trimmed of blanks; anything that is not an integer
// reads as 0.
int ReadNumberCell(const std::string& text);

// A physical code "L.N": the line is the first character's code minus 48 (as
// an unsigned byte, so an empty text gives an invalid line); the local number
// is read from the third character on, like atoi; the second character is
// skipped whatever it is.
struct PhysicalCode {
    int line = 0;
    int local = 0;
};
PhysicalCode ReadPhysicalCode(const std::string& text);

}  // namespace kelvane
