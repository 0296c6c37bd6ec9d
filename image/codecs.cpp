#include "image/codecs.h"

#include <cstdio>

namespace kelvane {

void writeBcdCode(Image& img, std::size_t off, int value) {
    const auto bcd = EncodeBcdCode(value);
    img[off] = bcd[0];
    img[off + 1] = bcd[1];
}

std::string formatNumber(const char* format, int value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

int DecodeBcdCode(const std::uint8_t* stored) {
    if (stored[0] == 0xFF && stored[1] == 0xFF) return -1;
    const int nibbles[4] = {stored[0] >> 4, stored[0] & 0x0F, stored[1] >> 4, stored[1] & 0x0F};
    int result = 0;
    for (int n : nibbles) {
        result *= 10;
        if (n != 0x0F) result += n;
    }
    return result;
}

std::array<std::uint8_t, 2> EncodeBcdCode(int value) {
    unsigned rest = static_cast<unsigned>(value) & 0xFFFFu;
    int nibbles[4];  // units first
    for (int& n : nibbles) {
        if (rest == 0) {
            n = 0x0F;
        } else {
            n = static_cast<int>(rest % 10);
            rest /= 10;
        }
    }
    return {static_cast<std::uint8_t>(nibbles[3] << 4 | nibbles[2]),
            static_cast<std::uint8_t>(nibbles[1] << 4 | nibbles[0])};
}

std::uint16_t SwapBytes(std::uint16_t value) { return static_cast<std::uint16_t>((value >> 8) | (value << 8)); }

void UpdateKeyCrc(std::uint8_t& crc, std::uint8_t byte) {
    for (int i = 0; i < 8; ++i) {
        const bool mix = ((crc ^ byte) & 1) != 0;
        crc = static_cast<std::uint8_t>(crc >> 1);
        if (mix) crc ^= 0x8C;
        byte = static_cast<std::uint8_t>(byte >> 1);
    }
}

std::string FormatKeyText(const std::uint8_t* record) {
    std::uint8_t crc = 0;
    UpdateKeyCrc(crc, 0x01);
    for (int i = 2; i <= 7; ++i) UpdateKeyCrc(crc, record[i]);
    char buf[32];
    int len = std::snprintf(buf, sizeof buf, "%02X ", crc);
    for (int i = 7; i >= 2; --i) len += std::snprintf(buf + len, sizeof buf - len, "%02X ", record[i]);
    std::snprintf(buf + len, sizeof buf - len, "01");
    return buf;
}

namespace {
unsigned charValue(char c) {
    const unsigned code = static_cast<unsigned char>(c);
    return code >= 65 ? code - 55 : code - 48;
}
}  // namespace

ParsedKey ParseKeyText(const std::string& text) {
    ParsedKey key;
    if (text.size() < 23) return key;
    for (int pair = 0; pair < 8; ++pair) {
        const unsigned hi = charValue(text[pair * 3]);
        const unsigned lo = charValue(text[pair * 3 + 1]);
        key.rom[7 - pair] = static_cast<std::uint8_t>(((hi << 4) & 0xFF) | (lo & 0xFF));
    }
    std::uint8_t crc = 0;
    for (auto b : key.rom) UpdateKeyCrc(crc, b);
    key.ok = crc == 0;
    return key;
}

}  // namespace kelvane
