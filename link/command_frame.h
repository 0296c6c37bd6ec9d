#pragma once
// Commands to the controller: 7 ASCII characters and a checksum byte that makes
// the 8 bytes sum to 0 modulo 256.
#include <array>
#include <cstdint>
#include <string_view>

namespace kelvane::link {

using Command = std::array<std::uint8_t, 8>;

// The checksum byte of 7 characters: 0 minus their sum, modulo 256.
std::uint8_t commandChecksum(std::string_view seven);
// The 8-byte command for 7 characters (a longer text is cut, a shorter one padded with 0).
Command makeCommand(std::string_view seven);

// The probe as the controller expects it; "L" happens to be the checksum of "IsThere".
inline constexpr Command kProbeRequest = {'I', 's', 'T', 'h', 'e', 'r', 'e', 'L'};
Command startDownloadCommand();  // "DebMem6" A0
Command startUploadCommand();    // "DebMem7" 9F

}  // namespace kelvane::link
