#include "image/image.h"
#include "image/parameters.h"

#include <gtest/gtest.h>

#include <set>

using namespace kelvane;

TEST(ParameterTable, CoversEveryByteOfTheSettingsExactlyOnce) {
    std::multiset<std::size_t> bytes;
    for (const auto& p : parameterTable()) {
        if (p.kind == ControlKind::BitCheck && p.bit != 0) continue;  // shares its byte with bit 0
        for (int i = 0; i < p.width; ++i) bytes.insert(p.offset + i);
    }
    for (const auto& r : kReservedParamBytes) bytes.insert(mem::kParams + r.offset);
    for (std::size_t off = mem::kWords; off < mem::kWords + 2 * mem::kWordCount; ++off)
        EXPECT_EQ(bytes.count(off), 1u) << std::hex << off;
    for (std::size_t off = mem::kParams; off < mem::kParams + mem::kParamCount; ++off)
        EXPECT_EQ(bytes.count(off), 1u) << std::hex << off;
    EXPECT_EQ(bytes.size(), 2 * mem::kWordCount + mem::kParamCount);
}

TEST(ParameterTable, ControlNamesAreUniqueAndFindable) {
    std::set<std::string> names;
    for (const auto& p : parameterTable()) {
        EXPECT_TRUE(names.insert(p.control).second) << p.control;
        EXPECT_EQ(findParameter(p.control), &p);
    }
    EXPECT_EQ(findParameter("nothing"), nullptr);
    EXPECT_EQ(names.size(), parameterTable().size());
}

TEST(ParameterTable, DefaultsLieWithinTheControlsRanges) {
    for (const auto& p : parameterTable()) {
        if (p.kind == ControlKind::UpDown || p.kind == ControlKind::TrackBar) {
            EXPECT_GE(p.def, p.min) << p.control;
            EXPECT_LE(p.def, p.max) << p.control;
        }
        if (p.kind == ControlKind::ComboBox || p.kind == ControlKind::RadioGroup) {
            EXPECT_LT(p.def, static_cast<int>(itemTexts(p.items).size())) << p.control;
        }
    }
}

TEST(InitialImage, HoldsTheDefaultsAndIsErasedElsewhere) {
    const Image& img = initialImage();
    // Every setting at its default, as the table gives it; the reserved
    // bytes as listed with them.
    for (const auto& p : parameterTable()) {
        switch (p.kind) {
        case ControlKind::MaskEdit:  // the factory password, one digit a byte
            for (int i = 0; i < p.width; ++i) EXPECT_EQ(img[p.offset + i], kFactoryPassword[i] - '0') << p.control;
            break;
        case ControlKind::BitCheck: EXPECT_EQ((img[p.offset] >> p.bit) & 1, p.def) << p.control; break;
        default: EXPECT_EQ(p.width == 2 ? readLE16(img, p.offset) : img[p.offset], p.def) << p.control;
        }
    }
    for (const auto& r : kReservedParamBytes) EXPECT_EQ(img[mem::kParams + r.offset], r.initial) << r.offset;
    // The values the window never shows are in no table.
    const std::uint8_t hidden[8] = {0x4E, 0x0C, 0x4E, 0x0C, 0x9E, 0x07, 0x4E, 0x0C};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(img[mem::kHiddenWords + i], hidden[i]);
    for (std::size_t off = 0; off < kImageSize; ++off) {
        const bool setting = (off >= mem::kWords && off < mem::kWords + 18) ||
                             (off >= mem::kParams && off < mem::kParams + 56) ||
                             (off >= mem::kHiddenWords && off < mem::kHiddenWords + 8);
        if (!setting) {
            ASSERT_EQ(img[off], 0xFF) << std::hex << off;
        }
    }
}

TEST(MemoryMap, ResidentArraysOfLU2FollowLU1) {
    EXPECT_EQ(residentOffset(ResidentCode::Logical, 1, 1), 0x2000u);
    EXPECT_EQ(residentOffset(ResidentCode::Logical, 2, 1), 0x21FEu);
    EXPECT_EQ(residentOffset(ResidentCode::Open, 2, 255), 0x25FEu + 2 * 254);
    EXPECT_EQ(residentOffset(ResidentCode::Main, 1, 255), 0x2900u + 2 * 254);
    EXPECT_EQ(residentOffset(ResidentCode::Main, 2, 255) + 2, 0x2CFCu);
}
