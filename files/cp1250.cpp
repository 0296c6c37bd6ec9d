#include "files/cp1250.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kelvane {

namespace {
// Code points of bytes 0x80..0xFF.
const std::uint16_t kHigh[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char toByte(std::uint32_t cp) {
    if (cp < 0x80) return static_cast<char>(cp);
    for (int i = 0; i < 128; ++i)
        if (kHigh[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}
}  // namespace

std::string cp1250ToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) appendUtf8(out, b < 0x80 ? b : kHigh[b - 0x80]);
    return out;
}

namespace {
// Decodes the UTF-8 sequence at text[i]: its code point in `cp` and its
// length; false (length 1) for a malformed sequence.
bool decodeAt(const std::string& text, std::size_t i, std::uint32_t& cp, std::size_t& length) {
    length = 1;
    const unsigned char b = static_cast<unsigned char>(text[i]);
    const int extra = b < 0x80 ? 0 : (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : (b >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size() + (extra == 0 ? 1 : 0)) return false;
    cp = extra == 0 ? b : (b & (0x3F >> extra));
    for (int k = 1; k <= extra; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((c & 0xC0) != 0x80) return false;
        cp = cp << 6 | (c & 0x3F);
    }
    length = static_cast<std::size_t>(extra) + 1;
    return true;
}
}  // namespace

std::string utf8ToCp1250(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        std::uint32_t cp = 0;
        out += decodeAt(text, i, cp, length) ? toByte(cp) : '?';
    }
    return out;
}

std::string cp1250Unmappable(const std::string& text) {
    std::string out;
    std::vector<std::string> seen;
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        std::uint32_t cp = 0;
        if (decodeAt(text, i, cp, length) && (cp == '?' || toByte(cp) != '?')) continue;
        const std::string character = text.substr(i, length);
        if (std::find(seen.begin(), seen.end(), character) != seen.end()) continue;
        seen.push_back(character);
        if (!out.empty()) out += ' ';
        out += character;
    }
    return out;
}

}  // namespace kelvane
