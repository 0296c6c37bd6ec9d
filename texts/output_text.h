#pragma once
// Text on its way to a terminal or a JSON reader. Paths, port names and
// descriptions come from files and the system and may hold any bytes.
#include <string>

namespace kelvane::texts {

// A JSON string literal, quotes included, that is always valid UTF-8: bytes
// that are not UTF-8 become U+FFFD, control characters are escaped.
std::string jsonString(const std::string& text);

// The text with every control character shown instead of acted on (ESC as
// "\x1b", so a description cannot recolour or clear the terminal); line
// breaks stay when keepLineBreaks (else they become blanks), tabs stay, bytes
// that are not UTF-8 show as "\xNN".
std::string visibleText(const std::string& text, bool keepLineBreaks);

}  // namespace kelvane::texts
