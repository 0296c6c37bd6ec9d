#include "shell/language_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace kelvane::lang;

namespace {

const WindowEntry* find(const char* target, TargetKind kind, int index = 0) {
    for (const auto& e : windowEntries())
        if (std::string(e.target) == target && e.kind == kind && e.index == index) return &e;
    return nullptr;
}

std::string polish(const char* target, TargetKind kind, int index = 0) {
    const WindowEntry* e = find(target, kind, index);
    return e ? e->text[kPolish] : "<missing>";
}

std::string english(const char* target, TargetKind kind, int index = 0) {
    const WindowEntry* e = find(target, kind, index);
    return e ? e->text[kEnglish] : "<missing>";
}

}  // namespace

TEST(LanguageTable, HoldsEveryEntryWithTheThirdColumnAsPlaceholders) {
    ASSERT_EQ(windowEntries().size(), kWindowEntryCount);
    EXPECT_EQ(kEntryCount, 153u);  // 128 window + 10 card + 12 message entries, plus 3 new ones
    std::set<std::pair<std::string, int>> seen;
    for (const auto& e : windowEntries()) {
        EXPECT_STREQ(e.text[kThird], "....") << e.target;
        EXPECT_TRUE(seen.insert({std::string(e.target) + "/" + std::to_string(static_cast<int>(e.kind)), e.index}).second)
            << "twice: " << e.target << " " << e.index;
    }
    for (int c = 0; c < kCardTextCount; ++c) EXPECT_STREQ(cardText(static_cast<CardText>(c), kThird), "....");
    for (int m = 0; m < kMessageCount; ++m) {
        const auto msg = static_cast<Message>(m);
        EXPECT_NE(std::string(messageText(msg, kPolish)), "") << m;
        EXPECT_NE(std::string(messageText(msg, kEnglish)), "") << m;
    }
    EXPECT_STREQ(messageText(Message::LoadError, kThird), "...");
    EXPECT_STREQ(messageText(Message::NoAnswer, kThird), "...");
    EXPECT_STREQ(messageText(Message::PortStatus, kThird), ". %s, %d, %d, %d");
    EXPECT_STREQ(messageText(Message::ValidationRecord, kThird), "\"\n... ");
}

TEST(LanguageTable, WindowTextsAreExactLetterForLetter) {
    EXPECT_EQ(windowEntries().front().target, std::string("LOAD"));
    EXPECT_EQ(english("PRINT", TargetKind::MenuItem), "Print ");  // with its trailing space
    EXPECT_EQ(polish("UPLOAD", TargetKind::MenuItem), "Wyślij plik");
    EXPECT_EQ(polish("EXIT", TargetKind::MenuItem), "Wyjście");
    EXPECT_EQ(polish("TabSheet1", TargetKind::TabPage), "Kody, hasła, klucze");
    EXPECT_EQ(english("TabSheet2", TargetKind::TabPage), "DoorPhone parameters");
    EXPECT_EQ(polish("sgLokatorzy", TargetKind::GridHeader, 3), "Kod główny");
    EXPECT_EQ(english("Label11", TargetKind::Label), "Aaddress");
    EXPECT_EQ(polish("p708_RadioGroup", TargetKind::RadioButton, 2), "Rezystowy 180 i 68 realizują OC");
    EXPECT_EQ(english("p712_LabeledEdit", TargetKind::LabeledEdit), "The door self-opening cancelation");
    EXPECT_EQ(polish("p902_CheckBox", TargetKind::CheckBox), "Emisja pikania");
    EXPECT_EQ(polish("p906_CheckBox", TargetKind::CheckBox), "Pomiar prądu LU podczas połączenia");
    EXPECT_EQ(polish("GroupBox14", TargetKind::GroupBox), "Centrla portierska");
    EXPECT_EQ(polish("p103_CheckBox", TargetKind::CheckBox), "Ządanie #");
    EXPECT_EQ(english("p109_CheckBox", TargetKind::CheckBox), "Change function of the relay with electrical lock");
    EXPECT_EQ(polish("GroupBox24", TargetKind::GroupBox), "tekst na wizytówkę");
    EXPECT_EQ(polish("GroupBox23", TargetKind::GroupBox), "Dodaj opis");
    EXPECT_EQ(polish("ABORT", TargetKind::MenuItem), "Przerwij");
    EXPECT_EQ(english("ABORT", TargetKind::MenuItem), "Abort");
}

TEST(LanguageTable, ComboItemsFormContiguousGroupsNumberedFromZero) {
    const auto& entries = windowEntries();
    std::set<std::string> closed;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].kind != TargetKind::ComboItem) continue;
        const bool first = i == 0 || entries[i - 1].kind != TargetKind::ComboItem ||
                           std::string(entries[i - 1].target) != entries[i].target;
        if (first) {
            EXPECT_EQ(entries[i].index, 0) << entries[i].target;
            EXPECT_TRUE(closed.insert(entries[i].target).second) << "split group " << entries[i].target;
        } else {
            EXPECT_EQ(entries[i].index, entries[i - 1].index + 1) << entries[i].target;
        }
    }
    EXPECT_EQ(closed, (std::set<std::string>{"p715_BUS_ComboBox", "p108_ComboBox", "p107_ComboBox", "p104_ComboBox",
                                             "p905_ComboBox", "p904_ComboBox"}));
}

TEST(LanguageTable, CardAndMessageTexts) {
    EXPECT_STREQ(cardText(CardText::FlatNumber, kPolish), "Numer lokalu/mieszkania");
    EXPECT_STREQ(cardText(CardText::Instruction2, kPolish), "* wciśnij na klawiturze przycisk #");
    EXPECT_STREQ(cardText(CardText::Instruction4, kEnglish), "* confirm by presing #");
    EXPECT_STREQ(cardText(CardText::Missing, kEnglish), "there is no");
    EXPECT_STREQ(messageText(Message::PortError, kEnglish), "Port openning error!");
    EXPECT_STREQ(messageText(Message::PortStatus, kEnglish), messageText(Message::PortStatus, kPolish));
    EXPECT_STREQ(messageText(Message::UploadDone, kEnglish), "Data updated");
    EXPECT_STREQ(messageText(Message::NoAnswer, kPolish), "Brak odpowiedzi zasilacza");
    EXPECT_STREQ(messageText(Message::InvalidEntry, kPolish),
                 "\nJest nieprawidłowy!\n\nNaciśnij \"Abort\" aby przerwać.");
    // An index outside the table reads Polish rather than past its end.
    EXPECT_STREQ(messageText(Message::DownloadDone, 7), "Dane pobrane");
    EXPECT_STREQ(cardText(CardText::CallCode, -1), "Kod wywołania");
}
