#include "image/codecs.h"

#include <gtest/gtest.h>

#include <random>

using namespace kelvane;

namespace {
int decode(std::uint8_t a, std::uint8_t b) {
    const std::uint8_t s[2] = {a, b};
    return DecodeBcdCode(s);
}
std::array<std::uint8_t, 2> bytes(std::uint8_t a, std::uint8_t b) { return {a, b}; }
}  // namespace

TEST(BcdCode, DecodesFillerNibblesAsZeroDigits) {
    EXPECT_EQ(decode(0xFF, 0xFF), -1);
    EXPECT_EQ(decode(0xFF, 0xF7), 7);
    EXPECT_EQ(decode(0xF1, 0x23), 123);
    EXPECT_EQ(decode(0x12, 0x34), 1234);
    EXPECT_EQ(decode(0x12, 0xFF), 1200);
    EXPECT_EQ(decode(0x00, 0x00), 0);
    EXPECT_EQ(decode(0x10, 0x05), 1005);
    EXPECT_EQ(decode(0xFA, 0xBC), 0 * 1000 + 10 * 100 + 11 * 10 + 12);  // nibbles A..E count as 10..14
}

TEST(BcdCode, EncodesZeroAsNoCodeAndKeepsLastFourDigits) {
    EXPECT_EQ(EncodeBcdCode(0), bytes(0xFF, 0xFF));
    EXPECT_EQ(EncodeBcdCode(9), bytes(0xFF, 0xF9));
    EXPECT_EQ(EncodeBcdCode(10), bytes(0xFF, 0x10));
    EXPECT_EQ(EncodeBcdCode(1005), bytes(0x10, 0x05));
    EXPECT_EQ(EncodeBcdCode(9999), bytes(0x99, 0x99));
    EXPECT_EQ(EncodeBcdCode(12345), bytes(0x23, 0x45));
    EXPECT_EQ(EncodeBcdCode(65536 + 7), bytes(0xFF, 0xF7));  // taken modulo 65536
}

TEST(BcdCode, EveryCodeFromOneTo9999SurvivesARoundTrip) {
    for (int v = 1; v <= 9999; ++v) {
        const auto b = EncodeBcdCode(v);
        ASSERT_EQ(DecodeBcdCode(b.data()), v) << v;
    }
}

TEST(KeyCodec, SwapBytesExchangesTheTwoBytes) {
    EXPECT_EQ(SwapBytes(0x04D2), 0xD204);
    EXPECT_EQ(SwapBytes(SwapBytes(0xBEEF)), 0xBEEF);
}

TEST(KeyCodec, CrcMatchesTheOneWireCheck) {
    // The iButton ROM 02 1C B8 01 00 00 00 A2 from Maxim's application note 27.
    const std::uint8_t rom[8] = {0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xA2};
    std::uint8_t crc = 0;
    for (int i = 0; i < 7; ++i) UpdateKeyCrc(crc, rom[i]);
    EXPECT_EQ(crc, 0xA2);
    UpdateKeyCrc(crc, rom[7]);
    EXPECT_EQ(crc, 0);
}

TEST(KeyCodec, FormatsAllZeroSerialWithFamily01) {
    const std::uint8_t rec[8] = {0x00, 0x01, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(FormatKeyText(rec), "3D 00 00 00 00 00 00 01");
    const std::uint8_t rec2[8] = {0xFF, 0xFF, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    const std::string text = FormatKeyText(rec2);
    EXPECT_EQ(text.size(), 23u);
    EXPECT_EQ(text.substr(3), "66 55 44 33 22 11 01");
}

TEST(KeyCodec, ParsingFormattedTextPassesAndGivesTheSerialBack) {
    std::mt19937 rng(7);
    for (int n = 0; n < 2000; ++n) {
        std::uint8_t rec[8] = {0, 1};
        for (int i = 2; i < 8; ++i) rec[i] = static_cast<std::uint8_t>(rng());
        const ParsedKey key = ParseKeyText(FormatKeyText(rec));
        ASSERT_TRUE(key.ok);
        EXPECT_EQ(key.rom[0], 0x01);
        for (int i = 1; i <= 6; ++i) ASSERT_EQ(key.rom[i], rec[i + 1]);
    }
}

TEST(KeyCodec, EverySingleHexDigitChangeFailsTheCheck) {
    std::mt19937 rng(11);
    const char* hex = "0123456789ABCDEF";
    for (int n = 0; n < 50; ++n) {
        std::uint8_t rec[8] = {0, 1};
        for (int i = 2; i < 8; ++i) rec[i] = static_cast<std::uint8_t>(rng());
        const std::string text = FormatKeyText(rec);
        for (std::size_t pos = 0; pos < text.size(); ++pos) {
            if (text[pos] == ' ') continue;
            for (int d = 0; d < 16; ++d) {
                if (hex[d] == text[pos]) continue;
                std::string changed = text;
                changed[pos] = hex[d];
                ASSERT_FALSE(ParseKeyText(changed).ok) << changed;
            }
        }
    }
}

TEST(KeyCodec, ParsingRules) {
    // Shorter than 23 characters never passes.
    EXPECT_FALSE(ParseKeyText("3D 00 00 00 00 00 00 0").ok);
    EXPECT_FALSE(ParseKeyText("").ok);
    // The separators are not looked at.
    EXPECT_TRUE(ParseKeyText("3D-00:00x00 00 00 00_01").ok);
    // Any family code with a matching check byte passes.
    std::uint8_t crc = 0;
    const std::uint8_t rom[7] = {0x28, 1, 2, 3, 4, 5, 6};
    for (auto b : rom) UpdateKeyCrc(crc, b);
    char text[32];
    std::snprintf(text, sizeof text, "%02X 06 05 04 03 02 01 28", crc);
    const ParsedKey key = ParseKeyText(text);
    EXPECT_TRUE(key.ok);
    EXPECT_EQ(key.rom[0], 0x28);
    // A character outside 0-9/A-F gives a byte that fails the check.
    EXPECT_FALSE(ParseKeyText("3G 00 00 00 00 00 00 01").ok);
}
