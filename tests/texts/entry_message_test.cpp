#include "texts/entry_message.h"

#include "texts/language_table.h"

#include <gtest/gtest.h>

using namespace kelvane::texts;

namespace {
EntryMessageParts fourthKeyRow() {
    EntryMessageParts p;
    p.tabCaption = "Kody, hasła, klucze";
    p.groupCaption = "Klucze";
    p.row = 4;
    p.headers = {"Lokal", "Klucz"};
    p.cells = {"0", "0F 00 19 07 76 A5 FF 01"};
    p.capacity = 512;
    return p;
}
}  // namespace

TEST(EntryMessage, InvalidAndRepeatedInPolish) {
    EXPECT_EQ(buildEntryMessage(EntryProblem::Invalid, kPolish, fourthKeyRow()),
              "W zakładce: \"Kody, hasła, klucze\"\nW tabeli: \"Klucze\"\nWpis nr: 4\n"
              "Lokal= 0\nKlucz= 0F 00 19 07 76 A5 FF 01\n\nJest nieprawidłowy!\n\nNaciśnij \"Abort\" aby przerwać.");
    EXPECT_EQ(buildEntryMessage(EntryProblem::Repeated, kPolish, fourthKeyRow()),
              "W zakładce: \"Kody, hasła, klucze\"\nW tabeli: \"Klucze\"\nWpis nr: 4\n"
              "Lokal= 0\nKlucz= 0F 00 19 07 76 A5 FF 01\n\nSię powtarza!\n\nNaciśnij \"OK\" aby przerwać.");
}

TEST(EntryMessage, EnglishThirdLanguageAndTableFull) {
    EntryMessageParts p = fourthKeyRow();
    p.tabCaption = "Codes, passwords, keys";
    p.groupCaption = "Keys";
    p.headers = {"Local", "Key"};
    p.cells = {"12"};  // a missing cell shows empty
    EXPECT_EQ(buildEntryMessage(EntryProblem::Invalid, kEnglish, p),
              "In the tab: \"Codes, passwords, keys\"\nIn table: \"Keys\"\nRecord no: 4\n"
              "Local= 12\nKey= \n\nIs invalid!\n\nPress \"Abort\" to cancel.");
    EXPECT_EQ(buildEntryMessage(EntryProblem::TableFull, kEnglish, p),
              "In the tab: \"Codes, passwords, keys\"\nIn table: \"Keys\"\nRecord no: 4\n"
              "Local= 12\nKey= \n\nThe table is full: it holds at most 512 entries.\n\nPress \"OK\" to cancel.");
    const std::string full = buildEntryMessage(EntryProblem::TableFull, kPolish, fourthKeyRow());
    const std::string end = "FF 01\n\nTabela jest pełna: mieści najwyżej 512 wpisów.\n\nNaciśnij \"OK\" aby przerwać.";
    ASSERT_GE(full.size(), end.size());
    EXPECT_EQ(full.substr(full.size() - end.size()), end);
    p.tabCaption = p.groupCaption = "....";
    p.headers = {"....", "...."};
    EXPECT_EQ(buildEntryMessage(EntryProblem::Repeated, kThird, p),
              "...: \"....\"\n.......\"\n... 4\n....= 12\n....= \n\n...");
}

// The first cell that breaks its rule, left to right, and the line that names it.
TEST(EntryMessage, BrokenRuleNamesTheFirstBadCell) {
    using kelvane::CellRule;
    using kelvane::GridId;
    const struct {
        GridId grid;
        kelvane::Grid::Row cells;
        int column;
        CellRule rule;
    } rows[] = {
        {GridId::Keys, {"0", "garbage"}, 0, CellRule::FlatNumber},
        {GridId::Keys, {"12", "01 02 03 04 05 06 07 08"}, 1, CellRule::KeySerial},
        {GridId::Residents, {"3.12", "1234"}, 0, CellRule::LineAndFlat},
        {GridId::Residents, {"1.0"}, 0, CellRule::LineAndFlat},
        {GridId::GeneralCodes, {"10000"}, 0, CellRule::Code},
        {GridId::Digitizers, {"1.0", "6", "200"}, 1, CellRule::FourfoldNumber},
        {GridId::Digitizers, {"2.255", "252", "128"}, 2, CellRule::KeyNumber},
        {GridId::Digitizers, {"2.255", "4", "127"}, -1, CellRule::None},
    };
    for (const auto& r : rows) {
        const kelvane::RowCheck check = kelvane::checkGridRow(r.grid, r.cells);
        EXPECT_EQ(check.valid, r.column < 0) << r.cells[0];
        EXPECT_EQ(check.column, r.column) << r.cells[0];
        EXPECT_EQ(check.rule, r.rule) << r.cells[0];
    }
    EXPECT_EQ(brokenRuleText("Numer", CellRule::FourfoldNumber, kPolish),
              "Kolumna \"Numer\": wymagana liczba od 4 do 252 podzielna przez 4");
    EXPECT_EQ(brokenRuleText("%s", CellRule::Code, kEnglish), "Column \"%s\": a code from 1 to 9999 is required");
    EXPECT_EQ(brokenRuleText("Lokal", CellRule::None, kPolish), "");
}
