#include "texts/change_text.h"

#include "image/codecs.h"
#include "image/flat_actions.h"
#include "sim/sample_building.h"
#include "texts/language_table.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kelvane;
using namespace kelvane::texts;

namespace {

std::string entry(const char* target, TargetKind kind, int index, int language) {
    for (const WindowEntry& e : windowEntries())
        if (e.kind == kind && e.index == index && std::strcmp(e.target, target) == 0) return e.text[language];
    return "<missing>";
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const ChangeGroup* group(const std::vector<ChangeGroup>& groups, ChangeGroupKind kind) {
    for (const auto& g : groups)
        if (g.kind == kind) return &g;
    return nullptr;
}

}  // namespace

TEST(ChangeText, EverySettingHasTheWindowsCaption) {
    for (const Parameter& p : parameterTable())
        for (int language : {kPolish, kEnglish}) {
            const std::string caption = settingCaption(p, language);
            EXPECT_FALSE(caption.empty()) << p.control;
            EXPECT_NE(caption, p.control) << "no caption found for " << p.control;
        }
    // Taken from where the window takes it.
    const Parameter& p110 = *findParameter("p110_ComboBox");
    EXPECT_EQ(settingCaption(p110, kEnglish), entry("Label1", TargetKind::Label, 0, kEnglish));
    const Parameter& p001 = *findParameter("p001_UpDown");
    EXPECT_EQ(settingCaption(p001, kPolish), entry("p001_LabeledEdit", TargetKind::LabeledEdit, 0, kPolish));
    EXPECT_EQ(settingCaption(*findParameter("p714_2_CheckBox"), kPolish),
              std::string(groupCaption(SettingsGroup::VirtualConnections, kPolish)) + ": OCA");
}

TEST(ChangeText, ValuesReadAsTheControlsShowThemInEachLanguage) {
    const Parameter& p104 = *findParameter("p104_ComboBox");
    const Parameter& p706 = *findParameter("p706_ComboBox");
    const Parameter& p901 = *findParameter("p901_CheckBox");
    for (int language : {kPolish, kEnglish}) {
        SCOPED_TRACE(language);
        EXPECT_EQ(settingValueText(p104, {0, {}}, language), entry("p104_ComboBox", TargetKind::ComboItem, 0, language));
        EXPECT_EQ(settingValueText(p104, {-1, {}}, language), messageText(Message::ValueNoSelection, language));
        EXPECT_EQ(settingValueText(p706, {0, {}}, language), itemTexts(Items::StrikeFreq)[0]);  // untranslated list
        EXPECT_EQ(settingValueText(p901, {1, {}}, language), messageText(Message::ValueYes, language));
        EXPECT_EQ(settingValueText(*findParameter("p114_RadioGroup"), {1, {}}, language),
                  entry("p114_RadioGroup", TargetKind::RadioButton, 1, language));
    }
    EXPECT_EQ(settingValueText(*findParameter("p101_MaskEdit"), {0, "12345678"}, kPolish), "12345678");
}

TEST(ChangeText, GroupsCountTheirLinesAndNameWhatChanged) {
    Image after = sampleBuildingImage();
    Image before = after;
    after[findParameter("p901_CheckBox")->offset] = 1;
    const std::size_t open = residentOffset(ResidentCode::Open, 1, 1);
    const auto code = EncodeBcdCode(4321);
    after[open] = code[0];
    after[open + 1] = code[1];
    after[mem::kHiddenWords] = 0;
    for (int language : {kPolish, kEnglish}) {
        SCOPED_TRACE(language);
        const auto groups = describeChanges(listChanges(before, after), language);
        ASSERT_EQ(groups.size(), 4u);  // settings, residents, other bytes, upload
        const ChangeGroup* settings = group(groups, ChangeGroupKind::Settings);
        ASSERT_TRUE(settings);
        EXPECT_EQ(settings->count, 1);
        EXPECT_EQ(settings->lines[0], "p901 " + settingCaption(*findParameter("p901_CheckBox"), language) + ": " +
                                          messageText(Message::ValueNo, language) + " → " +
                                          messageText(Message::ValueYes, language));
        const ChangeGroup* residents = group(groups, ChangeGroupKind::Residents);
        ASSERT_TRUE(residents);
        EXPECT_EQ(residents->title, groupCaption(SettingsGroup::Residents, language));
        EXPECT_TRUE(contains(residents->lines[0], messageText(Message::ChangeChanged, language)));
        EXPECT_TRUE(contains(residents->lines[0], "1.1"));
        EXPECT_TRUE(contains(residents->lines[0], entry("sgLokatorzy", TargetKind::GridHeader, 2, language) + " "));
        EXPECT_TRUE(contains(residents->lines[0], " → 4321"));
        const ChangeGroup* bytes = group(groups, ChangeGroupKind::OtherBytes);
        ASSERT_TRUE(bytes);
        EXPECT_TRUE(contains(bytes->lines[0], "0x3F78–0x3F7F: 1 B"));
        const ChangeGroup* upload = group(groups, ChangeGroupKind::Upload);
        ASSERT_TRUE(upload);
        EXPECT_EQ(upload->count, 2);  // the open code's block and the settings' block
        EXPECT_TRUE(contains(upload->lines[0], ": 288, 507")) << upload->lines[0];
        const std::string text = changeListText(groups);
        EXPECT_TRUE(contains(text, settings->title + " (1)\n  p901 "));
    }
    EXPECT_TRUE(describeChanges(listChanges(before, before), kPolish).empty());
}

TEST(ChangeText, LineTimeUsesTheLanguagesDecimalMark) {
    Image after = initialImage();
    after[0] = 0;
    const auto polish = describeChanges(listChanges(initialImage(), after), kPolish).back().lines[1];
    const auto english = describeChanges(listChanges(initialImage(), after), kEnglish).back().lines[1];
    EXPECT_TRUE(contains(polish, "2400")) << polish;
    EXPECT_TRUE(contains(polish, "0,3 s")) << polish;  // (9 + 35 + 35) bytes at 240 per second
    EXPECT_TRUE(contains(english, "0.3 s")) << english;
}

// A stored value the control cannot show as it is (erased, beyond its range)
// reads as its bytes on both sides, whether the control clamps both sides
// alike or not.
TEST(ChangeText, ValuesTheControlCannotShowReadAsStoredBytes) {
    const struct Row {
        const char* control;
        std::vector<std::uint8_t> stored;
        const char* shown;
    } rows[] = {
        {"p001_UpDown", {0xFF, 0xFF}, ": stored bytes 4E 0C → FF FF"},
        {"p012_UpDown", {0xFF}, ": stored bytes 64 → FF"},
        {"p001_UpDown", {0x0F, 0x27}, ": 3150 → 9999"},  // 9999 as stored: a value
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.control);
        const Image before = initialImage();
        Image after = before;
        std::copy(row.stored.begin(), row.stored.end(), after.begin() + findParameter(row.control)->offset);
        const auto groups = describeChanges(listChanges(before, after), kEnglish);
        const ChangeGroup* settings = group(groups, ChangeGroupKind::Settings);
        ASSERT_TRUE(settings);
        EXPECT_TRUE(contains(settings->lines.at(0), row.shown)) << settings->lines[0];
    }
}

// Masked, every value masking an image replaces reads "••••", and what names
// the row (the flat, the parameter) stays; shown, the values are there.
TEST(ChangeText, MaskedCodesHideEveryValueMaskingReplaces) {
    const Image sample = sampleBuildingImage();
    const std::string key = FormatKeyText(&sample[mem::kKeys]);
    const auto typed = [](Image img, std::size_t at, int code) {
        const auto bcd = EncodeBcdCode(code);
        img[at] = bcd[0];
        img[at + 1] = bcd[1];
        return img;
    };
    Image password = sample;
    for (int i = 0; i < 8; ++i)
        password[findParameter("p101_MaskEdit")->offset + i] = static_cast<std::uint8_t>("86420135"[i] - '0');
    const struct {
        const char* name;
        Image after;
        std::vector<std::string> secrets;
        std::string kept;
    } rows[] = {
        {"open code", typed(sample, residentOffset(ResidentCode::Open, 1, 1), 4321), {"4321"}, "1.1"},
        {"main code", typed(sample, residentOffset(ResidentCode::Main, 1, 1), 8642), {"8642"}, "1.1"},
        {"general code", newGeneralCode(sample, 9753, 5820).image, {"9753", "5820"}, ""},
        {"key", lostKey(sample, key, "3D 00 00 00 00 00 00 01").image, {key, "3D 00 00 00 00 00 00 01"}, ""},
        {"password", password, {"86420135"}, "p101"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const ChangeList changes = listChanges(sample, r.after);
        ASSERT_FALSE(changes.empty());
        const std::string shown = changeListText(describeChanges(changes, kEnglish));
        const std::string masked =
            changeListText(describeChanges(changes, kEnglish, ChangeSides::BeforeAndAfter, CodeView::Masked));
        EXPECT_TRUE(contains(masked, kMaskedCode)) << masked;
        EXPECT_TRUE(contains(masked, r.kept)) << masked;
        for (const std::string& secret : r.secrets) {
            EXPECT_TRUE(contains(shown, secret)) << shown;
            EXPECT_FALSE(contains(masked, secret)) << masked;
        }
    }
}
