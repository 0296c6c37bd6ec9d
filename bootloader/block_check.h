#pragma once
// The 16-bit check that travels after every 16-byte block to the bootloader.
#include <cstddef>
#include <cstdint>

namespace kelvane::bootloader {

constexpr std::size_t kBlockSize = 16;

// Remainder of the 128-bit block (first byte's top bit highest) modulo
// x^16 + x^15 + x^2 + 1, without appended zero bits, reflection or final XOR.
std::uint16_t BlockCheck(const std::uint8_t* block);

}  // namespace kelvane::bootloader
