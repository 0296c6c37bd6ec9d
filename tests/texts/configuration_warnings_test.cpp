#include "texts/configuration_warnings.h"
#include "texts/language_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace kelvane;
using namespace kelvane::texts;

namespace {

Warning rows(WarningKind kind, GridId grid, int count) {
    Warning w;
    w.kind = kind;
    w.grid = grid;
    for (int i = 0; i < count; ++i)
        w.items.push_back(
            {i + 1, grid == GridId::Residents ? "1." + std::to_string(i + 1) : "", std::to_string(1111 * (1 + i % 9))});
    w.row = 1;
    return w;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(ConfigurationWarnings, EveryKindReadsFromTheTableInEachLanguage) {
    Warning password;
    password.kind = WarningKind::FactoryPassword;
    password.parameter = "p101";
    password.stored = "12345678";
    Warning guessable = password;
    guessable.kind = WarningKind::GuessablePassword;
    Warning setting;
    setting.kind = WarningKind::SettingOutOfRange;
    setting.parameter = "p201";
    setting.stored = "31";
    setting.shown = "30";
    Warning sequence = rows(WarningKind::GeneralCodeIsCallAndOpen, GridId::GeneralCodes, 0);
    sequence.items = {{2, "", "1234"}, {5, "2.5", "12"}, {5, "2.5", "0034"}};
    Warning repeated = rows(WarningKind::RepeatedGeneralCode, GridId::GeneralCodes, 2);
    Warning key = rows(WarningKind::SharedKey, GridId::Keys, 0);
    key.items = {
        {1, "5", "AB 00 00 00 00 00 07 01"}, {2, "5", "AB 00 00 00 00 00 07 01"}, {3, "6", "AB 00 00 00 00 00 07 01"}};
    const struct {
        Warning w;
        CheckText entry;
        std::vector<std::string> parts;  // values the text names
    } cases[] = {
        {password, CheckText::FactoryPassword, {"12345678"}},
        {guessable, CheckText::GuessablePassword, {"12345678"}},
        {rows(WarningKind::GuessableOpenCodes, GridId::Residents, 1), CheckText::GuessableOpenCode, {"1.1", "1111"}},
        {rows(WarningKind::GuessableOpenCodes, GridId::Residents, 9),
         CheckText::GuessableOpenCodes,
         {"(9)", "1.1: 1111", "1.8: 8888, …"}},
        {rows(WarningKind::GuessableGeneralCodes, GridId::GeneralCodes, 1), CheckText::GuessableGeneralCode, {"1111"}},
        {rows(WarningKind::GuessableGeneralCodes, GridId::GeneralCodes, 6),
         CheckText::GuessableGeneralCodes,
         {"(6)", "1111, 2222", "6666"}},
        {sequence, CheckText::GeneralCodeIsCallAndOpen, {"1234", "12", "2.5", "0034"}},
        {repeated, CheckText::RepeatedGeneralCode, {"2222", "1", "2"}},
        {key, CheckText::SharedKey, {"AB 00 00 00 00 00 07 01", "5, 6"}},
        {rows(WarningKind::GeneralCodeEveryPanel, GridId::GeneralCodes, 1), CheckText::GeneralCodeEveryPanel, {"1111"}},
        {rows(WarningKind::GeneralCodeEveryPanel, GridId::GeneralCodes, 7), CheckText::GeneralCodesEveryPanel, {"(7)"}},
        {setting, CheckText::SettingOutOfRange, {"p201", "31", "30"}},
    };
    for (const auto& c : cases) {
        for (int language : {kPolish, kEnglish}) {
            const std::string text = warningText(c.w, language);
            const std::string format = checkText(c.entry, language);
            // The text is the table's format filled in: every piece between its fields is there.
            for (std::size_t from = 0, at; from < format.size(); from = at + 2) {
                at = std::min(format.find('%', from), format.size());
                EXPECT_TRUE(contains(text, format.substr(from, at - from))) << text;
            }
            for (const auto& part : c.parts) EXPECT_TRUE(contains(text, part)) << text << " lacks " << part;
        }
        EXPECT_NE(warningText(c.w, kPolish), warningText(c.w, kEnglish));
        EXPECT_EQ(warningText(c.w, kThird), "...");
    }
    // No selection is said in words; the summary stops after kListedInText items.
    setting.shown.clear();
    EXPECT_TRUE(contains(warningText(setting, kEnglish), checkText(CheckText::NoSelection, kEnglish)));
    EXPECT_FALSE(contains(warningText(rows(WarningKind::GuessableOpenCodes, GridId::Residents, 9), kPolish), "1.9"));
}

TEST(ConfigurationWarnings, PlaceIsTheTablesCaptionAndRowOrTheParameter) {
    Warning w = rows(WarningKind::GuessableOpenCodes, GridId::Residents, 1);
    w.row = 5;
    EXPECT_EQ(warningPlaceText(w, kPolish), "Lokatorzy, wiersz 5");
    EXPECT_EQ(warningPlaceText(w, kEnglish), "Users, row 5");
    w.grid.reset();
    w.parameter = "p714";
    EXPECT_EQ(warningPlaceText(w, kEnglish), "p714");
    EXPECT_STREQ(severityText(Severity::Info, kPolish), checkText(CheckText::Information, kPolish));
    // Beside a change list: one group under its own heading, none without warnings.
    EXPECT_TRUE(warningGroups({}, kPolish).empty());
    const auto groups = warningGroups({w, w}, kEnglish);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].title, checkText(CheckText::Heading, kEnglish));
    EXPECT_EQ(groups[0].count, 2);
    EXPECT_EQ(groups[0].lines[1], "Warning – p714: " + warningText(w, kEnglish));
    for (int e = 0; e < kCheckTextCount; ++e) {
        EXPECT_STRNE(checkText(static_cast<CheckText>(e), kPolish), "") << e;
        EXPECT_STRNE(checkText(static_cast<CheckText>(e), kEnglish), "") << e;
        EXPECT_STREQ(checkText(static_cast<CheckText>(e), kThird), "...") << e;
    }
}
