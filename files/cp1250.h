#pragma once
// Windows-1250 (Central European) <-> UTF-8, for texts stored in files.
#include <string>

namespace kelvane {

// Every byte maps to a character; the five bytes the code page leaves
// undefined (0x81 0x83 0x88 0x90 0x98) map to the C1 controls of the same
// value, so any byte sequence survives a round trip.
std::string cp1250ToUtf8(const std::string& bytes);
// Characters the code page cannot hold become '?'; malformed UTF-8 sequences
// become '?' too. The rest of the text is always kept.
std::string utf8ToCp1250(const std::string& text);
// The characters of a UTF-8 text that utf8ToCp1250 turns into '?' (malformed
// sequences included), each once, in order, separated by spaces; empty when
// the text survives whole.
std::string cp1250Unmappable(const std::string& text);

}  // namespace kelvane
