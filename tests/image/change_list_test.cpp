#include "image/change_list.h"

#include "image/codecs.h"
#include "sim/sample_building.h"

#include <gtest/gtest.h>

#include <functional>

using namespace kelvane;

namespace {

void putKey(Image& img, int index, int local, std::uint8_t serial) {
    std::uint8_t* rec = &img[mem::kKeys + 8 * index];
    rec[0] = static_cast<std::uint8_t>(local >> 8);
    rec[1] = static_cast<std::uint8_t>(local);
    for (int i = 2; i < 8; ++i) rec[i] = static_cast<std::uint8_t>(serial + i);
}

std::size_t param(const char* control) { return findParameter(control)->offset; }

std::vector<std::string> controlsOf(const ChangeList& c) {
    std::vector<std::string> names;
    for (const auto& s : c.settings) names.push_back(s.parameter->control);
    return names;
}

}  // namespace

TEST(ChangeList, EqualImagesListNothing) {
    for (const Image& img : {initialImage(), sampleBuildingImage(), Image{}}) {
        const ChangeList c = listChanges(img, img);
        EXPECT_TRUE(c.empty());
        EXPECT_TRUE(c.settings.empty() && c.rows.empty() && c.bytes.empty());
    }
}

TEST(ChangeList, SettingsAsTheControlsShowThem) {
    struct Case {
        const char* name;
        std::function<void(Image&)> edit;
        std::vector<std::string> controls;  // listed, in table order
        bool shownAlike;
        int before, after;  // value of the first listed control
    };
    const Case cases[] = {
        {"16-bit up-down", [](Image& i) { writeLE16(i, param("p001_UpDown"), 3200); }, {"p001_UpDown"}, false, 3150, 3200},
        {"check box", [](Image& i) { i[param("p901_CheckBox")] = 1; }, {"p901_CheckBox"}, false, 0, 1},
        {"check box, any non-zero byte alike", [](Image& i) { i[param("p906_CheckBox")] = 7; }, {"p906_CheckBox"}, true, 1, 1},
        {"combo box to no selection", [](Image& i) { i[param("p110_ComboBox")] = 0xFF; }, {"p110_ComboBox"}, false, 1, -1},
        {"radio group", [](Image& i) { i[param("p708_RadioGroup")] = 2; }, {"p708_RadioGroup"}, false, 0, 2},
        {"radio group beyond its last item", [](Image& i) { i[param("p114_RadioGroup")] = 9; }, {"p114_RadioGroup"}, true, 1, 1},
        {"track bar", [](Image& i) { i[param("p105_TrackBar")] = 5; }, {"p105_TrackBar"}, false, 1, 5},
        {"p101 digit", [](Image& i) { i[param("p101_MaskEdit") + 7] = 9; }, {"p101_MaskEdit"}, false, 0, 0},
        {"two bits of p714",
         [](Image& i) { i[param("p714_1_CheckBox")] = 0x05; },
         {"p714_1_CheckBox", "p714_3_CheckBox"},
         false,
         0,
         1},
        {"unused bit of p714", [](Image& i) { i[param("p714_1_CheckBox")] = 0x08; }, {"p714_1_CheckBox"}, true, 0, 0},
        {"up-down beyond its range", [](Image& i) { writeLE16(i, param("p001_UpDown"), 10000); }, {"p001_UpDown"}, false, 3150, 9999},
        {"beyond the range both sides", [](Image& i) { i[param("p204_UpDown")] = 200; }, {"p204_UpDown"}, true, 120, 120},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Image before = initialImage();
        before[param("p204_UpDown")] = 130;  // shown as 120, the top of its range
        Image after = before;
        k.edit(after);
        const ChangeList c = listChanges(before, after);
        EXPECT_EQ(controlsOf(c), k.controls);
        ASSERT_FALSE(c.settings.empty());
        EXPECT_EQ(c.settings[0].shownAlike(), k.shownAlike);
        EXPECT_EQ(c.settings[0].before.value, k.before);
        EXPECT_EQ(c.settings[0].after.value, k.after);
        EXPECT_NE(c.settings[0].storedBefore, c.settings[0].storedAfter);
        EXPECT_TRUE(c.rows.empty());
        EXPECT_TRUE(c.bytes.empty());
    }
    Image pin = initialImage();
    pin[param("p101_MaskEdit") + 7] = 9;
    EXPECT_EQ(listChanges(initialImage(), pin).settings[0].after.text, "12345679");
}

TEST(ChangeList, ResidentsByPhysicalCode) {
    Image before = initialImage();
    writeBcdCode(before, residentOffset(ResidentCode::Logical, 1, 5), 15);
    writeBcdCode(before, residentOffset(ResidentCode::Open, 1, 5), 123);
    writeBcdCode(before, residentOffset(ResidentCode::Logical, 1, 200), 400);
    writeBcdCode(before, residentOffset(ResidentCode::Logical, 1, 10), 20);
    Image after = before;
    writeBcdCode(after, residentOffset(ResidentCode::Open, 1, 5), 4567);  // changed open code
    after[residentOffset(ResidentCode::Logical, 1, 200)] = 0xFF;          // removed
    after[residentOffset(ResidentCode::Logical, 1, 200) + 1] = 0xFF;
    writeBcdCode(after, residentOffset(ResidentCode::Main, 1, 9), 7);  // added, main code only
    const ChangeList c = listChanges(before, after);
    ASSERT_EQ(c.rows.size(), 3u);
    EXPECT_EQ(c.rowCount(GridId::Residents), 3u);
    // Sorted by physical code, numbers by value: 1.5, 1.9, 1.200.
    EXPECT_EQ(c.rows[0].kind, RowChangeKind::Changed);
    EXPECT_EQ(c.rows[0].before, (Grid::Row{"1.5", "15", "0123", ""}));
    EXPECT_EQ(c.rows[0].after, (Grid::Row{"1.5", "15", "4567", ""}));
    EXPECT_EQ(c.rows[0].changedColumns(), std::vector<int>{2});
    EXPECT_EQ(c.rows[1].kind, RowChangeKind::Added);
    EXPECT_EQ(c.rows[1].after, (Grid::Row{"1.9", "", "", "7"}));
    EXPECT_TRUE(c.rows[1].before.empty());
    EXPECT_EQ(c.rows[2].kind, RowChangeKind::Removed);
    EXPECT_EQ(c.rows[2].before[0], "1.200");
    EXPECT_TRUE(c.bytes.empty());
}

TEST(ChangeList, PackedTablesMatchRowsWhereverTheyStand) {
    Image base = initialImage();
    for (int i = 0; i < 3; ++i) putKey(base, i, 10 + i, static_cast<std::uint8_t>(16 * i));
    writeBcdCode(base, mem::kGeneralCodes, 1111);
    base[mem::kGeneralAttrs] = 5;
    base[mem::kGeneralAttrs + 1] = 0;
    writeBcdCode(base, mem::kGeneralCodes + 2, 2222);
    base[mem::kGeneralAttrs + 2] = 5;
    base[mem::kGeneralAttrs + 3] = 0xFF;
    base[mem::kDigitNumbers] = 4;
    base[mem::kDigitAssigns] = 2 * 3;  // key 3, LU1
    base[mem::kDigitAssigns + 1] = 7;

    struct Case {
        const char* name;
        std::function<void(Image&)> edit;
        std::vector<std::pair<GridId, RowChangeKind>> rows;
        std::vector<ByteRegion> bytes;
    };
    const Case cases[] = {
        {"first key removed, the rest move up",
         [](Image& i) {
             std::copy_n(&i[mem::kKeys + 8], 16, &i[mem::kKeys]);
             std::fill_n(&i[mem::kKeys + 16], 8, 0xFF);
         },
         {{GridId::Keys, RowChangeKind::Removed}},
         {}},
        {"keys swapped: no row, the bytes counted",
         [](Image& i) { std::swap_ranges(&i[mem::kKeys], &i[mem::kKeys + 8], &i[mem::kKeys + 8]); },
         {},
         {ByteRegion::Keys}},
        {"key moved to another flat", [](Image& i) { i[mem::kKeys + 1] = 99; }, {{GridId::Keys, RowChangeKind::Changed}}, {}},
        {"key added", [](Image& i) { putKey(i, 3, 12, 200); }, {{GridId::Keys, RowChangeKind::Added}}, {}},
        {"serial bytes behind an empty record", [](Image& i) { i[mem::kKeys + 8 * 100 + 4] = 0; }, {}, {ByteRegion::Keys}},
        {"general code's panel",
         [](Image& i) { i[mem::kGeneralAttrs] = 6; },
         {{GridId::GeneralCodes, RowChangeKind::Changed}},
         {}},
        {"general code's bus",
         [](Image& i) { i[mem::kGeneralAttrs + 1] = 1; },
         {{GridId::GeneralCodes, RowChangeKind::Changed}},
         {}},
        {"bus flags 01 and FF read alike", [](Image& i) { i[mem::kGeneralAttrs + 3] = 1; }, {}, {ByteRegion::GeneralCodes}},
        {"any-panel attribute written two ways",
         [](Image& i) {
             i[mem::kGeneralAttrs] = 0xFF;
             i[mem::kGeneralAttrs + 1] = 0xFF;
         },
         {{GridId::GeneralCodes, RowChangeKind::Changed}},
         {}},
        {"digitizer's resident",
         [](Image& i) { i[mem::kDigitAssigns + 1] = 8; },
         {{GridId::Digitizers, RowChangeKind::Changed}},
         {}},
        {"digitizer's button",
         [](Image& i) { i[mem::kDigitAssigns] = 2 * 4; },
         {{GridId::Digitizers, RowChangeKind::Removed}, {GridId::Digitizers, RowChangeKind::Added}},
         {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Image after = base;
        k.edit(after);
        const ChangeList c = listChanges(base, after);
        std::vector<std::pair<GridId, RowChangeKind>> rows;
        for (const auto& r : c.rows) rows.emplace_back(r.grid, r.kind);
        EXPECT_EQ(rows, k.rows);
        std::vector<ByteRegion> bytes;
        for (const auto& b : c.bytes) bytes.push_back(b.region);
        EXPECT_EQ(bytes, k.bytes);
        EXPECT_TRUE(c.settings.empty());
    }
}

TEST(ChangeList, BytesNoControlShowsAreCountedByRegion) {
    Image after = initialImage();
    for (std::size_t off : {std::size_t{0x0000}, std::size_t{0x1FFF}, mem::kHiddenWords,
                            mem::kParams + 17,    // a reserved byte of the parameter block
                            std::size_t{0x3F35},  // the gap between the 16-bit values and the block
                            kImageSize - 1})
        after[off] ^= 0x5A;
    const ChangeList c = listChanges(initialImage(), after);
    ASSERT_EQ(c.bytes.size(), 5u);
    EXPECT_EQ(c.bytes[0].region, ByteRegion::Free);
    EXPECT_EQ(c.bytes[0].first, 0x0000u);
    EXPECT_EQ(c.bytes[0].last, 0x1FFFu);
    EXPECT_EQ(c.bytes[0].count, 2);
    EXPECT_EQ(c.bytes[1].region, ByteRegion::Free);
    EXPECT_EQ(c.bytes[2].region, ByteRegion::ReservedSettings);
    EXPECT_EQ(c.bytes[3].region, ByteRegion::HiddenValues);
    EXPECT_EQ(c.bytes[4].last, kImageSize - 1);
    EXPECT_TRUE(c.settings.empty() && c.rows.empty());
    EXPECT_EQ(c.blocks, (std::vector<int>{0, 255, 505, 506, 507, 511}));
}

TEST(ChangeList, NoByteDiffersUnseen) {
    // Any one changed byte, in an empty and in a filled image, shows up in a
    // setting, a row or a region count.
    for (const Image& base : {initialImage(), sampleBuildingImage()}) {
        for (std::size_t off = 0; off < kImageSize; off += off < 0x2000 ? 509 : 11) {
            Image after = base;
            after[off] ^= 0x21;
            const ChangeList c = listChanges(base, after);
            ASSERT_FALSE(c.settings.empty() && c.rows.empty() && c.bytes.empty()) << "offset " << off;
            ASSERT_EQ(c.blocks, std::vector<int>{static_cast<int>(off / kBlockSize)});
        }
    }
}

TEST(ChangeList, BlocksAndLineTime) {
    Image after = initialImage();
    after[100] = 0;  // block 3
    EXPECT_EQ(listChanges(initialImage(), after).blocks, std::vector<int>{3});
    // Against the all-zero image a first upload starts from, every non-zero block goes.
    const ChangeList wipe = listChanges(Image{}, sampleBuildingImage());
    EXPECT_EQ(wipe.blocks.size(), kBlockCount);
    // Command and end frame only, each acknowledged; then one frame more per block.
    EXPECT_NEAR(uploadLineSeconds(0), (8 + 1 + 34 + 1) / 240.0, 1e-9);
    EXPECT_NEAR(uploadLineSeconds(512) - uploadLineSeconds(511), 35 / 240.0, 1e-9);
    EXPECT_NEAR(uploadLineSeconds(512), 75.0, 0.5);
}
