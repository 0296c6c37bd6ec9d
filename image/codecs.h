#pragma once
// Codecs of the image's numeric and key fields.
#include "image/image.h"

#include <array>
#include <cstdint>
#include <string>

namespace kelvane {

// Packed-decimal code of up to four digits, filler nibble 0xF left of the
// first digit. FF FF (no code) decodes to -1; a filler nibble anywhere counts
// as a zero digit, nibbles A..E add 10..14.
int DecodeBcdCode(const std::uint8_t* stored);
// Encodes value modulo 65536, keeping its last four digits; 0 gives FF FF.
std::array<std::uint8_t, 2> EncodeBcdCode(int value);

// Writes EncodeBcdCode(value) at img[off] and img[off + 1].
void writeBcdCode(Image& img, std::size_t off, int value);

// A number through a printf format with one int conversion ("%d", "%04d").
std::string formatNumber(const char* format, int value);

std::uint16_t SwapBytes(std::uint16_t value);

// One step of the Dallas/Maxim 1-Wire CRC-8 over one byte.
void UpdateKeyCrc(std::uint8_t& crc, std::uint8_t byte);

// The 23-character text "CC S6 S5 S4 S3 S2 S1 01" of an 8-byte key record:
// check byte, serial bytes 7..2 of the record, family code 01.
std::string FormatKeyText(const std::uint8_t* record);

struct ParsedKey {
    std::array<std::uint8_t, 8> rom{};  // rom[0] family code .. rom[7] check byte
    bool ok = false;                    // the 1-Wire check passed
};
ParsedKey ParseKeyText(const std::string& text);

}  // namespace kelvane
