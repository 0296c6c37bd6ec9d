#include "bootloader/block_check.h"

namespace kelvane::bootloader {

std::uint16_t BlockCheck(const std::uint8_t* block) {
    std::uint32_t c = 0;
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        std::uint32_t r = (c << 8) | block[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool out = (r & 0x800000u) != 0;
            r = (r << 1) & 0xFFFFFFu;
            if (out) r ^= 0x800500u;
        }
        c = r >> 8;
    }
    return static_cast<std::uint16_t>(c);
}

}  // namespace kelvane::bootloader
