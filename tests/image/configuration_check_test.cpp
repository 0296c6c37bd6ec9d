#include "image/codecs.h"
#include "image/configuration_check.h"
#include "image/parameters.h"

#include <gtest/gtest.h>

using namespace kelvane;

namespace {

// The initial image with a password that draws no warning.
Image quietImage() {
    Image img = initialImage();
    const char pw[] = "20571938";
    for (int i = 0; i < 8; ++i) img[mem::kParams + i] = static_cast<std::uint8_t>(pw[i] - '0');
    return img;
}

void putResident(Image& img, int line, int local, int logical, int open, int main = 0) {
    writeBcdCode(img, residentOffset(ResidentCode::Logical, line, local), logical);
    writeBcdCode(img, residentOffset(ResidentCode::Open, line, local), open);
    writeBcdCode(img, residentOffset(ResidentCode::Main, line, local), main);
}

// Panel 255 stores the attribute FF FF, as the window does.
void putGeneral(Image& img, int index, int code, int panel = 1, int bus = 0) {
    writeBcdCode(img, mem::kGeneralCodes + 2 * index, code);
    img[mem::kGeneralAttrs + 2 * index] = static_cast<std::uint8_t>(panel);
    img[mem::kGeneralAttrs + 2 * index + 1] = panel == 255 || bus ? 0xFF : 0x00;
}

void putKey(Image& img, int index, int local, std::uint8_t serial) {
    std::uint8_t* rec = &img[mem::kKeys + 8 * index];
    rec[0] = static_cast<std::uint8_t>(local >> 8);
    rec[1] = static_cast<std::uint8_t>(local);
    for (int i = 2; i < 8; ++i) rec[i] = static_cast<std::uint8_t>(serial * 3 + i);
}

std::vector<Warning> of(WarningKind kind, const Image& img) {
    std::vector<Warning> out;
    for (const Warning& w : checkConfiguration(img))
        if (w.kind == kind) out.push_back(w);
    return out;
}

}  // namespace

TEST(ConfigurationCheck, InitialImageWarnsOnlyOfTheFactoryPassword) {
    const auto all = checkConfiguration(initialImage());
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].kind, WarningKind::FactoryPassword);
    EXPECT_EQ(all[0].control, "p101_MaskEdit");
    EXPECT_EQ(all[0].stored, kFactoryPassword);
    EXPECT_TRUE(checkConfiguration(quietImage()).empty());
}

TEST(ConfigurationCheck, GuessableDigitsAreOneDigitOrARunOfOneStep) {
    const struct {
        const char* digits;
        bool guessable;
    } cases[] = {{"1234", true}, {"1233", false}, {"4321", true},     {"0123", true},     {"0000", true},
                 {"7", true},    {"10", true},    {"1357", false},    {"9012", false},    {"7890", false},
                 {"", false},    {"12a4", false}, {"12345678", true}, {"12345679", false}};
    for (const auto& c : cases) EXPECT_EQ(isGuessableDigits(c.digits), c.guessable) << c.digits;
}

TEST(ConfigurationCheck, PasswordFactoryOrGuessable) {
    const struct {
        const char* digits;
        int kind;  // -1 none, else WarningKind
    } cases[] = {{"12345678", static_cast<int>(WarningKind::FactoryPassword)},
                 {"00000000", static_cast<int>(WarningKind::GuessablePassword)},
                 {"87654321", static_cast<int>(WarningKind::GuessablePassword)},
                 {"23456789", static_cast<int>(WarningKind::GuessablePassword)},
                 {"12345679", -1},
                 {"11111112", -1}};
    for (const auto& c : cases) {
        Image img = quietImage();
        for (int i = 0; i < 8; ++i) img[mem::kParams + i] = static_cast<std::uint8_t>(c.digits[i] - '0');
        const auto all = checkConfiguration(img);
        if (c.kind < 0) {
            EXPECT_TRUE(all.empty()) << c.digits;
            continue;
        }
        ASSERT_EQ(all.size(), 1u) << c.digits;
        EXPECT_EQ(static_cast<int>(all[0].kind), c.kind) << c.digits;
        EXPECT_EQ(all[0].stored, c.digits);
    }
    // A byte beyond 9 is no digit: out of range, not judged as a password.
    Image img = quietImage();
    img[mem::kParams + 3] = 10;
    const auto all = checkConfiguration(img);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].kind, WarningKind::SettingOutOfRange);
}

TEST(ConfigurationCheck, GuessableOpenCodesByGridRowAndCountedWhenMany) {
    const struct {
        int open;
        bool warned;
    } cases[] = {{1234, true}, {1233, false}, {4321, true}, {123, true}, {1111, true}, {9876, true}, {1357, false}};
    for (const auto& c : cases) {
        Image img = quietImage();
        putResident(img, 1, 9, 1, 5829);
        putResident(img, 2, 3, 2, c.open);  // shown below 1.9, in row 2
        const auto w = of(WarningKind::GuessableOpenCodes, img);
        ASSERT_EQ(w.size(), c.warned ? 1u : 0u) << c.open;
        if (!c.warned) continue;
        EXPECT_EQ(w[0].grid, GridId::Residents);
        EXPECT_EQ(w[0].row, 2);
        ASSERT_EQ(w[0].items.size(), 1u);
        EXPECT_EQ(w[0].items[0].name, "2.3");
        EXPECT_EQ(w[0].items[0].value, c.open < 1000 ? "0" + std::to_string(c.open) : std::to_string(c.open));
    }
    // 00 00 (made elsewhere) shows as 0000.
    Image zero = quietImage();
    putResident(zero, 1, 1, 1, 4444);
    zero[residentOffset(ResidentCode::Open, 1, 1)] = zero[residentOffset(ResidentCode::Open, 1, 1) + 1] = 0;
    ASSERT_EQ(of(WarningKind::GuessableOpenCodes, zero).size(), 1u);
    EXPECT_EQ(of(WarningKind::GuessableOpenCodes, zero)[0].items[0].value, "0000");
    // Up to kListedSeparately one warning each, one more and they are counted in one.
    for (int n : {kListedSeparately, kListedSeparately + 1}) {
        Image img = quietImage();
        putResident(img, 1, 1, 1, 5829);
        for (int i = 0; i < n; ++i) putResident(img, 1, 10 + i, 10 + i, 1111 * (1 + i % 9));
        const auto w = of(WarningKind::GuessableOpenCodes, img);
        ASSERT_EQ(w.size(), n == kListedSeparately ? static_cast<std::size_t>(n) : 1u);
        EXPECT_EQ(w[0].row, 2);
        EXPECT_EQ(w.back().items.size(), n == kListedSeparately ? 1u : static_cast<std::size_t>(n));
    }
}

TEST(ConfigurationCheck, GuessableGeneralCodes) {
    const struct {
        int code;
        bool warned;
    } cases[] = {{7, true}, {12, true}, {1111, true}, {6789, true}, {1233, false}, {2580, false}};
    for (const auto& c : cases) {
        Image img = quietImage();
        putGeneral(img, 0, 5829, 3);
        putGeneral(img, 1, c.code, 3, 1);
        const auto w = of(WarningKind::GuessableGeneralCodes, img);
        ASSERT_EQ(w.size(), c.warned ? 1u : 0u) << c.code;
        if (c.warned) {
            EXPECT_EQ(w[0].row, 2);
        }
    }
}

TEST(ConfigurationCheck, GeneralCodeThatIsACallCodeFollowedByTheOpenCode) {
    const struct {
        int logical, open, main, general;
        bool warned;
    } cases[] = {
        {12, 34, 0, 1234, true},                              // open code shown 0034
        {1, 234, 0, 1234, true},   {40, 567, 7, 7567, true},  // the main-entrance call code
        {12, 345, 0, 1234, false},                            // the sequence 12345 is longer
        {12, 34, 0, 1235, false},  {12, 34, 0, 3412, false},
    };
    for (const auto& c : cases) {
        Image img = quietImage();
        putResident(img, 2, 5, c.logical, c.open, c.main);
        putGeneral(img, 0, 9517, 4);
        putGeneral(img, 1, c.general, 4);
        const auto w = of(WarningKind::GeneralCodeIsCallAndOpen, img);
        ASSERT_EQ(w.size(), c.warned ? 1u : 0u) << c.general;
        if (!c.warned) continue;
        EXPECT_EQ(w[0].grid, GridId::GeneralCodes);
        EXPECT_EQ(w[0].row, 2);
        ASSERT_EQ(w[0].items.size(), 3u);
        EXPECT_EQ(w[0].items[1].name, "2.5");
        EXPECT_EQ(w[0].items[2].value.size(), 4u);
    }
}

TEST(ConfigurationCheck, RepeatedGeneralCodeOnlyWhereOneEntryCoversTheOther) {
    const struct {
        int code2, panel1, bus1, panel2, bus2;
        bool warned;
    } cases[] = {
        {5829, 3, 0, 3, 0, true},   {5829, 3, 0, 4, 0, false},  // one code for two entrances
        {5829, 3, 0, 3, 1, false},                              // the same address on the other bus
        {5829, 255, 1, 3, 0, true},                             // every panel covers panel 3
        {5829, 3, 1, 255, 1, true}, {5828, 3, 0, 3, 0, false},
    };
    for (const auto& c : cases) {
        Image img = quietImage();
        putGeneral(img, 0, 5829, c.panel1, c.bus1);
        putGeneral(img, 1, 9517, 9);
        putGeneral(img, 2, c.code2, c.panel2, c.bus2);
        const auto w = of(WarningKind::RepeatedGeneralCode, img);
        ASSERT_EQ(w.size(), c.warned ? 1u : 0u) << c.panel1 << "/" << c.panel2;
        if (!c.warned) continue;
        EXPECT_EQ(w[0].row, 3);
        EXPECT_EQ(w[0].items[0].row, 1);
    }
}

TEST(ConfigurationCheck, SharedKeyOnlyBetweenDifferentFlats) {
    const struct {
        int locals[3];  // local number per record; 0 = a different key
        int row;        // row warned, 0 = none
    } cases[] = {
        {{5, 5, 0}, 0},  // two rows of the same flat
        {{5, 6, 0}, 2}, {{5, 5, 6}, 3}, {{5, 0, 6}, 3}, {{0, 5, 0}, 0},
    };
    for (const auto& c : cases) {
        Image img = quietImage();
        // Records 0, 2, 4 with an empty record between: rows 1, 2, 3.
        for (int i = 0; i < 3; ++i)
            putKey(img, 2 * i, c.locals[i] ? c.locals[i] : 100 + i, c.locals[i] ? 7 : static_cast<std::uint8_t>(i));
        const auto w = of(WarningKind::SharedKey, img);
        ASSERT_EQ(w.size(), c.row ? 1u : 0u) << c.locals[0] << c.locals[1] << c.locals[2];
        if (!c.row) continue;
        EXPECT_EQ(w[0].grid, GridId::Keys);
        EXPECT_EQ(w[0].row, c.row);
        EXPECT_EQ(w[0].items.front().value, FormatKeyText(&img[mem::kKeys]));
    }
}

TEST(ConfigurationCheck, GeneralCodeAtEveryPanelIsInformation) {
    const struct {
        std::uint8_t panel, bus;
        bool warned;
    } cases[] = {{0xFF, 0xFF, true}, {0xFF, 0x00, true}, {0, 0, true}, {254, 0xFF, false}, {1, 0, false}};
    for (const auto& c : cases) {
        Image img = quietImage();
        writeBcdCode(img, mem::kGeneralCodes, 5829);
        img[mem::kGeneralAttrs] = c.panel;
        img[mem::kGeneralAttrs + 1] = c.bus;
        const auto w = of(WarningKind::GeneralCodeEveryPanel, img);
        ASSERT_EQ(w.size(), c.warned ? 1u : 0u) << int(c.panel);
        if (c.warned) {
            EXPECT_EQ(w[0].items[0].value, "5829");
        }
    }
    EXPECT_EQ(severityOf(WarningKind::GeneralCodeEveryPanel), Severity::Info);
    EXPECT_EQ(severityOf(WarningKind::SharedKey), Severity::Warning);
}

TEST(ConfigurationCheck, SettingsOutsideTheWindowsRangeWithStoredAndShownValue) {
    const struct {
        const char* control;
        std::size_t offset;  // byte written (the low byte of a 16-bit value)
        int value;
        const char* stored;  // nullptr: no warning
        const char* shown;
    } cases[] = {
        {"p201_UpDown", 0x3F40 + 19, 30, nullptr, nullptr},
        {"p201_UpDown", 0x3F40 + 19, 31, "31", "30"},
        {"p201_UpDown", 0x3F40 + 19, 0, "0", "1"},
        {"p001_UpDown", 0x3F20, 499, "499", "500"},
        {"p001_UpDown", 0x3F20, 10000, "10000", "9999"},
        {"p104_ComboBox", 0x3F40 + 9, 4, "4", ""},
        {"p104_ComboBox", 0x3F40 + 9, 0xFF, "255", ""},
        {"p702_ComboBox", 0x3F40 + 24, 0xFF, nullptr, nullptr},  // item "255" exists
        {"p114_RadioGroup", 0x3F40 + 55, 2, "2", "1"},
        {"p105_TrackBar", 0x3F40 + 10, 8, "8", "7"},
        {"p701_CheckBox", 0x3F40 + 32, 2, "2", "1"},
        {"p714_1_CheckBox", 0x3F40 + 52, 0x07, nullptr, nullptr},
        {"p714_1_CheckBox", 0x3F40 + 52, 0x0D, "13", "5"},  // once for the three boxes
    };
    for (const auto& c : cases) {
        Image img = quietImage();
        if (findParameter(c.control)->width == 2)
            writeLE16(img, c.offset, static_cast<std::uint16_t>(c.value));
        else
            img[c.offset] = static_cast<std::uint8_t>(c.value);
        const auto w = of(WarningKind::SettingOutOfRange, img);
        ASSERT_EQ(w.size(), c.stored ? 1u : 0u) << c.control << " " << c.value;
        if (!c.stored) continue;
        EXPECT_EQ(w[0].control, c.control);
        EXPECT_EQ(w[0].parameter, findParameter(c.control)->number);
        EXPECT_EQ(w[0].stored, c.stored);
        EXPECT_EQ(w[0].shown, c.shown);
        EXPECT_FALSE(w[0].grid.has_value());
    }
    Image img = quietImage();
    img[mem::kParams + 1] = 12;
    const auto w = of(WarningKind::SettingOutOfRange, img);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].stored, "2 12 5 7 1 9 3 8");
    EXPECT_EQ(w[0].shown, "21257193");  // what the 8-character edit holds
}

TEST(ConfigurationCheck, AfterAStoreSettingsAreJudgedOnWhatTheWindowWasShown) {
    const struct {
        int shownP201, storedP201;
        bool warned;
    } cases[] = {{45, 30, true}, {45, 20, false}, {30, 30, false}};
    for (const auto& c : cases) {
        Image shown = quietImage(), stored = quietImage();
        shown[mem::kParams + 19] = static_cast<std::uint8_t>(c.shownP201);
        stored[mem::kParams + 19] = static_cast<std::uint8_t>(c.storedP201);
        putGeneral(stored, 0, 7777, 3);  // the tables are judged as stored
        const auto all = checkStoredConfiguration(shown, stored);
        ASSERT_EQ(all.size(), c.warned ? 2u : 1u) << c.shownP201 << "->" << c.storedP201;
        EXPECT_EQ(all[0].kind, WarningKind::GuessableGeneralCodes);
        if (!c.warned) continue;
        EXPECT_EQ(all[1].stored, "45");
        EXPECT_EQ(all[1].shown, "30");
    }
    // The three boxes of p714 are one setting: a box set since drops the warning.
    Image shown = quietImage(), stored = quietImage();
    shown[mem::kParams + 52] = 0x0D;
    stored[mem::kParams + 52] = 0x05;
    EXPECT_EQ(checkStoredConfiguration(shown, stored).size(), 1u);
    stored[mem::kParams + 52] = 0x07;
    EXPECT_TRUE(checkStoredConfiguration(shown, stored).empty());
    // A retyped password (a text, its value never changes) drops its warning too.
    shown = quietImage();
    stored = quietImage();
    shown[mem::kParams + 1] = 12;
    stored[mem::kParams + 1] = 4;
    EXPECT_TRUE(checkStoredConfiguration(shown, stored).empty());
}
