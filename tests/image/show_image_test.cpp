#include "image/codecs.h"
#include "image/parameters.h"
#include "image/window_data.h"

#include <gtest/gtest.h>

using namespace kelvane;

namespace {
int value(const WindowData& w, const char* control) { return w.controls.at(control).value; }
void putKey(Image& img, int index, int local, std::uint8_t serial) {
    std::uint8_t* rec = &img[mem::kKeys + 8 * index];
    rec[0] = static_cast<std::uint8_t>(local >> 8);
    rec[1] = static_cast<std::uint8_t>(local);
    for (int i = 2; i < 8; ++i) rec[i] = static_cast<std::uint8_t>(serial + i);
}
void putCode(Image& img, std::size_t off, int v) {
    auto b = EncodeBcdCode(v);
    img[off] = b[0];
    img[off + 1] = b[1];
}
}  // namespace

TEST(ShowImage, InitialImageGivesOneEmptyRowPerGridAndTheDefaults) {
    const WindowData w = showImage(initialImage());
    for (const auto& g : w.grids) {
        ASSERT_EQ(g.rowCount(), 2);
        EXPECT_TRUE(IsRowEmpty(g, 1));
        EXPECT_TRUE(IsRowEmpty(g, 0));  // headers come from the language table
    }
    EXPECT_EQ(value(w, "p001_UpDown"), 3150);
    EXPECT_EQ(value(w, "p003_UpDown"), 1950);
    EXPECT_EQ(value(w, "p005_UpDown"), 23);
    EXPECT_EQ(value(w, "p009_UpDown"), 180);
    EXPECT_EQ(value(w, "p204_UpDown"), 120);
    EXPECT_EQ(value(w, "p801_ADR_UpDown"), 66);
    EXPECT_EQ(value(w, "p801_M_CheckBox"), 1);
    EXPECT_EQ(value(w, "p110_ComboBox"), 1);  // "7 Volt"
    EXPECT_EQ(value(w, "p104_ComboBox"), 3);  // "Wszystkie"
    EXPECT_EQ(value(w, "p107_ComboBox"), 3);
    EXPECT_EQ(value(w, "p108_ComboBox"), 3);
    EXPECT_EQ(itemTexts(Items::StrikeFreq)[value(w, "p706_ComboBox")], "15");
    EXPECT_EQ(value(w, "p114_RadioGroup"), 1);
    EXPECT_EQ(value(w, "p105_TrackBar"), 1);
    EXPECT_EQ(w.controls.at("p101_MaskEdit").text, "12345678");
}

TEST(ShowImage, KeysInRecordOrderWithLocalNumberAndText) {
    Image img = initialImage();
    for (int i = 0; i < 512; ++i) putKey(img, i, 9999 - i, static_cast<std::uint8_t>(i));
    const WindowData w = showImage(img);
    const Grid& g = w.grid(GridId::Keys);
    ASSERT_EQ(g.rowCount(), 513);
    EXPECT_EQ(g.rows[1][0], "9999");
    EXPECT_EQ(g.rows[512][0], std::to_string(9999 - 511));
    EXPECT_EQ(g.rows[1][1], FormatKeyText(&img[mem::kKeys]));
    // A record is empty only by its first two bytes.
    Image gap = initialImage();
    putKey(gap, 3, 1234, 0);
    EXPECT_EQ(gap[mem::kKeys + 24], 0x04);
    EXPECT_EQ(gap[mem::kKeys + 25], 0xD2);
    EXPECT_EQ(showImage(gap).grid(GridId::Keys).rows[1][0], "1234");
}

TEST(ShowImage, ResidentsSortedByLineThenLocalNumberWithTheirTextForms) {
    Image img = initialImage();
    putCode(img, residentOffset(ResidentCode::Logical, 2, 3), 23);
    putCode(img, residentOffset(ResidentCode::Main, 1, 200), 5);
    img[residentOffset(ResidentCode::Open, 1, 9)] = 0xF1;  // only an open code: 123
    img[residentOffset(ResidentCode::Open, 1, 9) + 1] = 0x23;
    const Grid g = showImage(img).grid(GridId::Residents);
    ASSERT_EQ(g.rowCount(), 4);
    EXPECT_EQ(g.rows[1], (Grid::Row{"1.9", "", "0123", ""}));
    EXPECT_EQ(g.rows[2], (Grid::Row{"1.200", "", "", "5"}));
    EXPECT_EQ(g.rows[3], (Grid::Row{"2.3", "23", "", ""}));
}

TEST(ShowImage, GeneralCodeAttributes) {
    Image img = initialImage();
    const std::uint8_t attrs[3][2] = {{0xFF, 0xFF}, {0x05, 0x00}, {0x05, 0x01}};
    for (int i = 0; i < 3; ++i) {
        putCode(img, mem::kGeneralCodes + 2 * i, 100 + i);
        img[mem::kGeneralAttrs + 2 * i] = attrs[i][0];
        img[mem::kGeneralAttrs + 2 * i + 1] = attrs[i][1];
    }
    const Grid g = showImage(img).grid(GridId::GeneralCodes);
    EXPECT_EQ(g.rows[1], (Grid::Row{"100", "255", "1"}));
    EXPECT_EQ(g.rows[2], (Grid::Row{"101", "5", "0"}));
    EXPECT_EQ(g.rows[3], (Grid::Row{"102", "5", "1"}));
}

TEST(ShowImage, DigitizerAnywhereInTheTable) {
    Image img = initialImage();
    img[mem::kDigitNumbers + 79] = 8;
    img[mem::kDigitAssigns + 2 * 79] = 23 * 2 + 1;  // key 23 on LU2
    img[mem::kDigitAssigns + 2 * 79 + 1] = 17;
    const Grid g = showImage(img).grid(GridId::Digitizers);
    ASSERT_EQ(g.rowCount(), 2);
    EXPECT_EQ(g.rows[1], (Grid::Row{"2.17", "8", "23"}));
}

TEST(ShowImage, ControlKindsAtTheEdgesOfTheirRanges) {
    Image img = initialImage();
    img[mem::kParams + 9] = 0xFF;   // p104 combo: no selection
    img[mem::kParams + 29] = 21;    // p706 combo: one past the list
    img[mem::kParams + 49] = 0xFF;  // p708 radio: shows the last item
    img[mem::kParams + 10] = 9;     // p105 track bar: held at 7
    img[mem::kParams + 52] = 0x05;  // p714: EXI and OCB
    img[mem::kParams + 37] = 1;     // p901 on, p907 off: independent bytes
    img[mem::kParams + 43] = 0;
    writeLE16(img, mem::kWords, 65535);  // p001 above its range
    const WindowData w = showImage(img);
    EXPECT_EQ(value(w, "p104_ComboBox"), -1);
    EXPECT_EQ(value(w, "p706_ComboBox"), -1);
    EXPECT_EQ(value(w, "p708_RadioGroup"), 3);
    EXPECT_EQ(value(w, "p105_TrackBar"), 7);
    EXPECT_EQ(value(w, "p714_1_CheckBox"), 1);
    EXPECT_EQ(value(w, "p714_2_CheckBox"), 0);
    EXPECT_EQ(value(w, "p714_3_CheckBox"), 1);
    EXPECT_EQ(value(w, "p901_CheckBox"), 1);
    EXPECT_EQ(value(w, "p907_CheckBox"), 0);
    EXPECT_EQ(value(w, "p001_UpDown"), 9999);
}
