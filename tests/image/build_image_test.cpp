#include "image/codecs.h"
#include "image/parameters.h"
#include "sim/sample_building.h"
#include "image/window_data.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kelvane;

namespace {

// Answers invalid rows by a script (true = Abort) and records every report.
struct ScriptedReporter : RowReporter {
    std::vector<bool> answers;  // consumed in order; Ignore when exhausted
    std::vector<std::pair<GridId, int>> invalid, repeated, full;

    bool invalidEntry(GridId g, int row, const Grid&) override {
        invalid.emplace_back(g, row);
        if (answers.empty()) return false;
        const bool abort = answers.front();
        answers.erase(answers.begin());
        return abort;
    }
    void repeatedEntry(GridId g, int row, const Grid&) override { repeated.emplace_back(g, row); }
    void tableFull(GridId g, int row, const Grid&) override { full.emplace_back(g, row); }
};

std::string keyText(int serial) {
    std::uint8_t rec[8] = {0, 1};
    for (int i = 2; i < 8; ++i) rec[i] = static_cast<std::uint8_t>(serial >> (8 * ((i - 2) % 3)));
    return FormatKeyText(rec);
}

WindowData emptyWindow() { return showImage(initialImage()); }

void setRows(WindowData& w, GridId id, std::vector<Grid::Row> rows) {
    Grid& g = w.grid(id);
    g.rows.resize(1);
    for (auto& r : rows) g.append(r);
}

Image build(const WindowData& w, ScriptedReporter& rep, const Image& working = initialImage()) {
    auto img = buildImage(w, working, rep);
    EXPECT_TRUE(img.has_value());
    return img.value_or(working);
}

bool allFF(const Image& img, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
        if (img[i] != 0xFF) return false;
    return true;
}

}  // namespace

TEST(BuildImage, EmptyGridsGiveErasedTablesAndClearFreeRegions) {
    Image working = initialImage();
    working[0x0100] = 0x12;  // a file's data in the free region
    working[0x3F80] = 0x00;
    working[mem::kKeys] = 0x00;
    ScriptedReporter rep;
    const Image img = build(emptyWindow(), rep, working);
    EXPECT_TRUE(allFF(img, 0, mem::kWords));
    EXPECT_TRUE(allFF(img, mem::kHiddenWords, kImageSize));
    EXPECT_TRUE(rep.invalid.empty());
}

TEST(BuildImage, RebuildingWhatWasShownChangesOnlyTheDocumentedBytes) {
    Image working = sampleBuildingImage();
    working[mem::kParams + 49] = 0xFF;  // radio beyond its last item
    working[mem::kParams + 52] = 0xFF;  // p714 with bits 3..7 set
    working[mem::kParams + 17] = 0x5A;  // reserved bytes keep their values
    working[mem::kParams + 50] = 0xA5;
    ScriptedReporter rep;
    const Image img = build(showImage(working), rep, working);
    for (std::size_t off = 0; off < mem::kHiddenWords; ++off) {
        if (off == mem::kParams + 49) {
            EXPECT_EQ(img[off], 3);
        } else if (off == mem::kParams + 52) {
            EXPECT_EQ(img[off], 0x07);
        } else {
            ASSERT_EQ(img[off], working[off]) << std::hex << off;
        }
    }
    EXPECT_TRUE(allFF(img, mem::kHiddenWords, kImageSize));
}

TEST(BuildImage, KeyRowRules) {
    WindowData w = emptyWindow();
    setRows(w, GridId::Keys,
            {{"1234", keyText(1)},
             {"0", keyText(2)},
             {"10000", keyText(3)},
             {"7", "  " + keyText(4) + " "},
             {"7", keyText(5)},
             {"", ""}});
    ScriptedReporter rep;
    const Image img = build(w, rep);
    ASSERT_EQ(rep.invalid.size(), 2u);
    EXPECT_EQ(rep.invalid[0].second, 2);
    EXPECT_EQ(rep.invalid[1].second, 3);
    EXPECT_EQ(img[mem::kKeys], 0x04);  // local numbers big-endian
    EXPECT_EQ(img[mem::kKeys + 1], 0xD2);
    const Grid shown = showImage(img).grid(GridId::Keys);
    ASSERT_EQ(shown.rowCount(), 4);  // the local number may repeat
    EXPECT_EQ(shown.rows[2], (Grid::Row{"7", keyText(4)}));
    EXPECT_TRUE(allFF(img, mem::kKeys + 3 * 8, mem::kKeys + 512 * 8));
}

TEST(BuildImage, IgnoringTheSecondOfThreeKeysPacksTheOthers) {
    WindowData w = emptyWindow();
    setRows(w, GridId::Keys, {{"1", keyText(1)}, {"2", "bad"}, {"3", keyText(3)}});
    ScriptedReporter rep;
    const Grid shown = showImage(build(w, rep)).grid(GridId::Keys);
    ASSERT_EQ(shown.rowCount(), 3);
    EXPECT_EQ(shown.rows[1][0], "1");
    EXPECT_EQ(shown.rows[2][0], "3");
}

TEST(BuildImage, AbortOrARepeatedKeyLeavesNothing) {
    WindowData w = emptyWindow();
    setRows(w, GridId::Keys, {{"1", keyText(1)}, {"0", keyText(2)}, {"5", keyText(1)}});
    ScriptedReporter ignore;
    EXPECT_FALSE(buildImage(w, initialImage(), ignore).has_value());
    ASSERT_EQ(ignore.repeated.size(), 1u);
    EXPECT_EQ(ignore.repeated[0], std::make_pair(GridId::Keys, 3));
    ScriptedReporter abort;
    abort.answers = {true};
    EXPECT_FALSE(buildImage(w, initialImage(), abort).has_value());
    EXPECT_TRUE(abort.repeated.empty());
}

TEST(BuildImage, MoreThan512KeysStopWithoutWritingPastTheTable) {
    WindowData w = emptyWindow();
    std::vector<Grid::Row> rows;
    for (int i = 0; i < 513; ++i) rows.push_back({"1", keyText(i + 1)});
    setRows(w, GridId::Keys, rows);
    ScriptedReporter rep;
    EXPECT_FALSE(buildImage(w, initialImage(), rep).has_value());
    ASSERT_EQ(rep.full.size(), 1u);
    EXPECT_EQ(rep.full[0], std::make_pair(GridId::Keys, 513));
    EXPECT_EQ(tableCapacity(GridId::Keys), 512);
    rows.pop_back();
    setRows(w, GridId::Keys, rows);
    ScriptedReporter ok;
    EXPECT_EQ(showImage(build(w, ok)).grid(GridId::Keys).rowCount(), 513);
}

TEST(BuildImage, ResidentRowRules) {
    WindowData w = emptyWindow();
    setRows(w, GridId::Residents,
            {{"1.7", "17", "0123", ""},
             {"2.7", "27", "0000", "5"},
             {"1.7", "18", "", ""},  // first 1.7 had no main code: replaced
             {"3.5", "1", "", ""},
             {"0.5", "1", "", ""},
             {"1.0", "1", "", ""},
             {"1.256", "1", "", ""},
             {"   ", "", "", ""}});
    ScriptedReporter rep;
    const Image img = build(w, rep);
    ASSERT_EQ(rep.invalid.size(), 5u);
    EXPECT_EQ(rep.invalid.back().second, 8);  // blanks are not empty
    const auto at = [&](ResidentCode c, int line, int local) { return &img[residentOffset(c, line, local)]; };
    EXPECT_EQ(DecodeBcdCode(at(ResidentCode::Logical, 1, 7)), 18);
    EXPECT_EQ(DecodeBcdCode(at(ResidentCode::Open, 1, 7)), -1);
    EXPECT_EQ(DecodeBcdCode(at(ResidentCode::Logical, 2, 7)), 27);
    EXPECT_EQ(DecodeBcdCode(at(ResidentCode::Open, 2, 7)), -1);  // 0000 stores no code
    EXPECT_EQ(DecodeBcdCode(at(ResidentCode::Main, 2, 7)), 5);

    setRows(w, GridId::Residents, {{"1.7", "17", "0123", "3"}});
    const Image open = build(w, rep);
    EXPECT_EQ(open[residentOffset(ResidentCode::Open, 1, 7)], 0xF1);
    EXPECT_EQ(open[residentOffset(ResidentCode::Open, 1, 7) + 1], 0x23);
    EXPECT_EQ(showImage(open).grid(GridId::Residents).rows[1][2], "0123");
}

TEST(BuildImage, ARepeatedResidentNamesTheSecondRow) {
    WindowData w = emptyWindow();
    setRows(w, GridId::Residents, {{"1.7", "17", "1111", "3"}, {"1.8", "18", "", ""}, {"1.7", "19", "", ""}});
    ScriptedReporter rep;
    EXPECT_FALSE(buildImage(w, initialImage(), rep).has_value());
    ASSERT_EQ(rep.repeated.size(), 1u);
    EXPECT_EQ(rep.repeated[0], std::make_pair(GridId::Residents, 3));
}

TEST(BuildImage, GeneralCodeRules) {
    WindowData w = emptyWindow();
    setRows(w, GridId::GeneralCodes,
            {{"1357", "0", "0"},
             {"2468", "5", "2"},
             {"1111", "5", "0"},
             {"2222", "6", "1"},
             {"0", "1", "1"},
             {"10000", "1", "1"},
             {"1357", "255", "0"}});
    ScriptedReporter rep;
    const Image img = build(w, rep);
    EXPECT_EQ(rep.invalid.size(), 2u);
    const Grid g = showImage(img).grid(GridId::GeneralCodes);
    ASSERT_EQ(g.rowCount(), 6);
    EXPECT_EQ(g.rows[1], (Grid::Row{"1357", "255", "1"}));
    EXPECT_EQ(g.rows[2], (Grid::Row{"2468", "255", "1"}));
    EXPECT_EQ(g.rows[3], (Grid::Row{"1111", "5", "0"}));
    EXPECT_EQ(g.rows[4], (Grid::Row{"2222", "6", "1"}));
    EXPECT_EQ(img[mem::kGeneralAttrs + 7], 0xFF);           // bus 1 stored as FF
    EXPECT_EQ(g.rows[5], (Grid::Row{"1357", "255", "1"}));  // codes may repeat
}

TEST(BuildImage, DigitizerRowRules) {
    WindowData w = emptyWindow();
    setRows(w, GridId::Digitizers,
            {{"2.255", "252", "127"},
             {"1.0", "4", "0"},
             {"1.5", "6", "1"},
             {"1.5", "8", "128"},
             {"3.1", "4", "1"},
             {"1.-5", "4", "1"}});
    ScriptedReporter rep;
    const Image img = build(w, rep);
    EXPECT_EQ(rep.invalid.size(), 4u);
    EXPECT_EQ(img[mem::kDigitNumbers], 0xFC);
    EXPECT_EQ(img[mem::kDigitAssigns], 0xFF);
    EXPECT_EQ(img[mem::kDigitAssigns + 1], 0xFF);
    EXPECT_EQ(img[mem::kDigitNumbers + 1], 4);
    EXPECT_EQ(img[mem::kDigitAssigns + 2], 0x00);
    EXPECT_EQ(img[mem::kDigitNumbers + 2], 0xFF);
}

TEST(BuildImage, SettingsByControlKind) {
    WindowData w = emptyWindow();
    w.controls["p104_ComboBox"].value = -1;    // no selection
    w.controls["p708_RadioGroup"].value = -1;  // none
    w.controls["p101_MaskEdit"].text = "987";  // the rest counts as blanks
    w.controls["p714_2_CheckBox"].value = 1;
    w.controls["p003_UpDown"].value = 2200;
    w.controls["p204_UpDown"].value = 7;
    Image working = initialImage();
    for (const auto& r : kReservedParamBytes)
        working[mem::kParams + r.offset] = static_cast<std::uint8_t>(0x40 + r.offset);
    ScriptedReporter rep;
    const Image img = build(w, rep, working);
    EXPECT_EQ(img[mem::kParams + 9], 0xFF);
    EXPECT_EQ(img[mem::kParams + 49], 0xFF);
    const std::uint8_t password[8] = {9, 8, 7, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(img[mem::kParams + i], password[i]);
    EXPECT_EQ(img[mem::kParams + 52], 0x02);
    EXPECT_EQ(readLE16(img, mem::kWords + 4), 2200);
    EXPECT_EQ(img[mem::kParams + 22], 7);
    for (const auto& r : kReservedParamBytes) EXPECT_EQ(img[mem::kParams + r.offset], 0x40 + r.offset);
    // A combo box byte of 0xFF goes back as 0xFF.
    Image erased = initialImage();
    erased[mem::kParams + 34] = 0xFF;
    EXPECT_EQ(build(showImage(erased), rep, erased)[mem::kParams + 34], 0xFF);
}

TEST(BuildImage, BothSidesOfEveryRowRuleBound) {
    struct Case {
        GridId grid;
        Grid::Row row;
        Grid::Row shown;  // empty: the row is invalid
    };
    const std::string key = keyText(9);
    const Case cases[] = {
        {GridId::Keys, {"1", key}, {"1", key}},
        {GridId::Keys, {"0", key}, {}},
        {GridId::Keys, {"9999", key}, {"9999", key}},
        {GridId::Keys, {"10000", key}, {}},
        {GridId::Residents, {"1.1", "1", "", ""}, {"1.1", "1", "", ""}},
        {GridId::Residents, {"1.0", "1", "", ""}, {}},
        {GridId::Residents, {"2.255", "", "9999", "9999"}, {"2.255", "", "9999", "9999"}},
        {GridId::Residents, {"2.256", "1", "", ""}, {}},
        {GridId::Residents, {"0.1", "1", "", ""}, {}},
        {GridId::Residents, {"3.1", "1", "", ""}, {}},
        {GridId::GeneralCodes, {"1", "1", "0"}, {"1", "1", "0"}},
        {GridId::GeneralCodes, {"0", "1", "0"}, {}},
        {GridId::GeneralCodes, {"9999", "254", "1"}, {"9999", "254", "1"}},
        {GridId::GeneralCodes, {"10000", "1", "0"}, {}},
        {GridId::GeneralCodes, {"5", "0", "0"}, {"5", "255", "1"}},  // no such panel: any panel
        {GridId::GeneralCodes, {"5", "255", "0"}, {"5", "255", "1"}},
        {GridId::GeneralCodes, {"5", "7", "2"}, {"5", "255", "1"}},
        {GridId::GeneralCodes, {"5", "7", "-1"}, {"5", "255", "1"}},
        {GridId::Digitizers, {"1.0", "4", "0"}, {"1.0", "4", "0"}},
        {GridId::Digitizers, {"2.255", "252", "127"}, {"2.255", "252", "127"}},
        {GridId::Digitizers, {"1.256", "4", "0"}, {}},
        {GridId::Digitizers, {"1.-1", "4", "0"}, {}},
        {GridId::Digitizers, {"1.1", "0", "0"}, {}},
        {GridId::Digitizers, {"1.1", "3", "0"}, {}},
        {GridId::Digitizers, {"1.1", "256", "0"}, {}},
        {GridId::Digitizers, {"1.1", "4", "128"}, {}},
        {GridId::Digitizers, {"1.1", "4", "-1"}, {}},
    };
    for (const Case& c : cases) {
        WindowData w = emptyWindow();
        setRows(w, c.grid, {c.row});
        ScriptedReporter rep;
        const Image img = build(w, rep);
        const std::string what = gridName(c.grid) + std::string(" ") + c.row[0] + " " + c.row[1];
        EXPECT_EQ(rep.invalid.size(), c.shown.empty() ? 1u : 0u) << what;
        const Grid shown = showImage(img).grid(c.grid);
        EXPECT_EQ(shown.rows[1], c.shown.empty() ? Grid::Row(c.row.size()) : c.shown) << what;
    }
}
