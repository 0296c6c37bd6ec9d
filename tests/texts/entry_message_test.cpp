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
    EXPECT_EQ(BuildEntryMessage(EntryProblem::Invalid, kPolish, fourthKeyRow()),
              "W zakładce: \"Kody, hasła, klucze\"\nW tabeli: \"Klucze\"\nWpis nr: 4\n"
              "Lokal= 0\nKlucz= 0F 00 19 07 76 A5 FF 01\n\nJest nieprawidłowy!\n\nNaciśnij \"Abort\" aby przerwać.");
    EXPECT_EQ(BuildEntryMessage(EntryProblem::Repeated, kPolish, fourthKeyRow()),
              "W zakładce: \"Kody, hasła, klucze\"\nW tabeli: \"Klucze\"\nWpis nr: 4\n"
              "Lokal= 0\nKlucz= 0F 00 19 07 76 A5 FF 01\n\nSię powtarza!\n\nNaciśnij \"OK\" aby przerwać.");
}

TEST(EntryMessage, EnglishThirdLanguageAndTableFull) {
    EntryMessageParts p = fourthKeyRow();
    p.tabCaption = "Codes, passwords, keys";
    p.groupCaption = "Keys";
    p.headers = {"Local", "Key"};
    p.cells = {"12"};  // a missing cell shows empty
    EXPECT_EQ(BuildEntryMessage(EntryProblem::Invalid, kEnglish, p),
              "In the tab: \"Codes, passwords, keys\"\nIn table: \"Keys\"\nRecord no: 4\n"
              "Local= 12\nKey= \n\nIs invalid!\n\nPress \"Abort\" to cancel.");
    EXPECT_EQ(BuildEntryMessage(EntryProblem::TableFull, kEnglish, p),
              "In the tab: \"Codes, passwords, keys\"\nIn table: \"Keys\"\nRecord no: 4\n"
              "Local= 12\nKey= \n\nThe table is full: it holds at most 512 entries.\n\nPress \"OK\" to cancel.");
    const std::string full = BuildEntryMessage(EntryProblem::TableFull, kPolish, fourthKeyRow());
    const std::string end = "FF 01\n\nTabela jest pełna: mieści najwyżej 512 wpisów.\n\nNaciśnij \"OK\" aby przerwać.";
    ASSERT_GE(full.size(), end.size());
    EXPECT_EQ(full.substr(full.size() - end.size()), end);
    p.tabCaption = p.groupCaption = "....";
    p.headers = {"....", "...."};
    EXPECT_EQ(BuildEntryMessage(EntryProblem::Repeated, kThird, p),
              "...: \"....\"\n.......\"\n... 4\n....= 12\n....= \n\n...");
}
