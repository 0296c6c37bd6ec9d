#pragma once
// Random numbers from the operating system's generator, for codes that must
// not be guessed. No seeded generator is involved: every number comes from
// getrandom() (Linux), arc4random_buf() (the BSDs, macOS), BCryptGenRandom()
// (Windows), or /dev/urandom elsewhere.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace kelvane {

// Fills `size` bytes; false when the system generator gave none (never a
// partly filled buffer reported as filled).
bool systemRandomBytes(void* buffer, std::size_t size);

// A number uniformly in 0..bound-1 (bound > 0), or nothing when the source failed.
using RandomBelow = std::function<std::optional<std::uint32_t>(std::uint32_t bound)>;

// RandomBelow over systemRandomBytes, without modulo bias.
std::optional<std::uint32_t> systemRandomBelow(std::uint32_t bound);

}  // namespace kelvane
