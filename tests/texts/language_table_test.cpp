#include "texts/language_table.h"

#include "texts/diagnostic_texts.h"
#include "texts/flat_action_texts.h"
#include "texts/company_texts.h"
#include "texts/job_text.h"
#include "texts/report_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <vector>

using namespace kelvane::texts;

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

// One line per text, in table order: what it is, then its texts in every
// language ("Message::LoadError: Błąd wczytywania pliku! | File loading error!
// | ..."), with line feeds, tabs and backslashes escaped.
std::string line(const std::string& key, const char* const* texts) {
    std::string out = key + ":";
    for (int l = 0; l < kLanguageCount; ++l) {
        out += l ? " | " : " ";
        for (const char* c = texts[l]; *c; ++c) {
            if (*c == '\n')
                out += "\\n";
            else if (*c == '\t')
                out += "\\t";
            else if (*c == '\\')
                out += "\\\\";
            else
                out += *c;
        }
    }
    return out;
}

template <typename Key>
void addKeyed(std::vector<std::string>& lines, const char* (*text)(Key, int),
              std::size_t count = static_cast<std::size_t>(Key::Count), const std::string& prefix = {}) {
    for (int k = 0; k < static_cast<int>(count); ++k) {
        const char* texts[kLanguageCount];
        for (int l = 0; l < kLanguageCount; ++l) texts[l] = text(static_cast<Key>(k), l);
        lines.push_back(line(prefix + textName(static_cast<Key>(k)), texts));
    }
}

std::vector<std::string> tableLines() {
    static const char* const kinds[] = {"MenuItem",    "TabPage",     "Label",      "CheckBox", "RadioGroup",
                                        "LabeledEdit", "RadioButton", "GridHeader", "ComboItem"};
    std::vector<std::string> lines;
    for (const auto& e : windowEntries())
        lines.push_back(line(
            std::string("Window ") + e.target + " " + kinds[static_cast<int>(e.kind)] + " " + std::to_string(e.index),
            e.text.text));
    addKeyed(lines, groupCaption);
    addKeyed(lines, cardText);
    addKeyed(lines, messageText);
    addKeyed(lines, toolText);
    addKeyed(lines, checkText);
    addKeyed(lines, diagnosticText);
    addKeyed(lines, flatActionName);
    addKeyed(lines, flatRefusalText);
    addKeyed(lines, flatText);
    addKeyed(lines, reportText);
    addKeyed(lines, sheetText);
    addKeyed(lines, reportFaultFormat, kReportFaultCount);
    addKeyed(lines, stepNameText, kelvane::jobs::kJobSteps);
    addKeyed(lines, skippedText, kelvane::jobs::kJobSteps, "Skipped ");
    addKeyed(lines, stepCauseText, kStepCauseCount);
    addKeyed(lines, nextStepFormat, kNextStepCount);
    addKeyed(lines, jobText);
    addKeyed(lines, problemText);
    addKeyed(lines, stringProblemText);
    addKeyed(lines, resendReasonText);
    addKeyed(lines, setupText);
    addKeyed(lines, skipText);
    addKeyed(lines, syncText);
    return lines;
}

}  // namespace

// Every text is compared with a reviewed copy, so a changed letter anywhere
// is seen in review. KELVANE_UPDATE_GOLDEN=1 writes the copy from the table.
TEST(LanguageTable, EveryTextMatchesTheReviewedCopy) {
    const std::vector<std::string> table = tableLines();
    const std::string path = KELVANE_LANGUAGE_GOLDEN;
    const char* update = std::getenv("KELVANE_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        std::ofstream out(path, std::ios::binary);
        for (const auto& l : table) out << l << '\n';
        ASSERT_TRUE(out.flush()) << "cannot write " << path;
        std::cout << "Wrote " << path << "; review its diff before committing.\n";
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "cannot read " << path;
    std::vector<std::string> file;
    for (std::string l; std::getline(in, l);) file.push_back(l);
    const std::string how =
        "\nIf the change is meant, write the copy again and review its diff:\n"
        "  bash scripts/update-golden.sh\n"
        "(or KELVANE_UPDATE_GOLDEN=1 on this test), then commit tests/texts/language_texts.golden.";
    for (std::size_t i = 0; i < std::max(table.size(), file.size()); ++i) {
        const std::string mine = i < table.size() ? table[i] : "<no entry>";
        const std::string theirs = i < file.size() ? file[i] : "<no line>";
        ASSERT_EQ(mine, theirs) << "The language table differs from " << path << " at line " << i + 1 << how;
    }
}

TEST(LanguageTable, HoldsEveryEntryWithTheThirdColumnAsPlaceholders) {
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
    for (int m = 0; m < kToolTextCount; ++m) {
        const auto text = static_cast<ToolText>(m);
        EXPECT_NE(std::string(toolText(text, kPolish)), "") << m;
        EXPECT_NE(std::string(toolText(text, kEnglish)), "") << m;
        EXPECT_NE(std::string(toolText(text, kThird)), "") << m;
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
    EXPECT_STREQ(groupCaption(kelvane::SettingsGroup::Switchboard, kPolish), "Centrla portierska");
    EXPECT_EQ(polish("p103_CheckBox", TargetKind::CheckBox), "Ządanie #");
    EXPECT_EQ(english("p109_CheckBox", TargetKind::CheckBox), "Change function of the relay with electrical lock");
    EXPECT_STREQ(groupCaption(kelvane::SettingsGroup::CardText, kPolish), "tekst na wizytówkę");
    EXPECT_STREQ(groupCaption(kelvane::SettingsGroup::Description, kPolish), "Dodaj opis");
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
    EXPECT_STREQ(messageText(Message::InvalidEntry, kPolish), "\nJest nieprawidłowy!\n\nNaciśnij \"Abort\" aby przerwać.");
    // An index outside the table reads Polish rather than past its end.
    EXPECT_STREQ(messageText(Message::DownloadDone, 7), "Dane pobrane");
    EXPECT_STREQ(cardText(CardText::CallCode, -1), "Kod wywołania");
}
