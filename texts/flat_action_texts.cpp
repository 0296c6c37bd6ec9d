#include "texts/flat_action_texts.h"

#include "texts/language_table.h"

#include <cstdio>

namespace kelvane::texts {

namespace {

using Pair = const char* [2];  // Polish, English

const Pair kActions[kFlatActionCount] = {
    {"Lokator się wyprowadził", "Resident moved out"},
    {"Nowy lokator", "New resident"},
    {"Zgubiony klucz", "Lost key"},
    {"Nowy kod ogólny", "New general code"},
};

// In the order of FlatRefusal.
const Pair kRefusals[] = {
    {"", ""},
    {"Lokal nie ma żadnego kodu w tabeli lokatorów", "The flat has no code in the residents' table"},
    {"Inny lokal ma ten sam kod logiczny, więc jego klucze nie dają się odróżnić; usuń klucze pojedynczo",
     "Another flat has the same logical code, so its keys cannot be told apart; remove the keys one by one"},
    {"Tego klucza nie ma w tabeli kluczy", "The key table holds no such key"},
    {"Klucz to 16 cyfr szesnastkowych (odstępy dowolne) z poprawnym bajtem kontrolnym",
     "A key is 16 hexadecimal digits (blanks optional) with a valid check byte"},
    {"Ten klucz jest już zapisany", "That key is already stored"},
    {"Żaden kod ogólny nie ma tej wartości", "No general code has that value"},
    {"Kod musi mieć wartość od 1 do 9999", "A code must be 1 to 9999"},
    {"Nie ma już wolnego kodu spełniającego zasady", "No free code that meets the rules is left"},
    {"Generator liczb losowych systemu nie działa: nic nie zmieniono",
     "The system's random number generator failed: nothing changed"},
};
static_assert(sizeof kRefusals / sizeof kRefusals[0] == static_cast<int>(FlatRefusal::RandomFailed) + 1,
              "one text for each refusal");

const Pair kLines[] = {
    {"Nowy kod otwarcia lokatora %s: %s", "New open code of resident %s: %s"},
    {"Nowy kod główny lokatora %s: %s", "New main code of resident %s: %s"},
    {"Nowy kod ogólny: %s", "New general code: %s"},
    {"Nowy klucz: %s", "New key: %s"},
    {"Usunięte klucze: %s", "Keys removed: %s"},
};

int pick(int language) { return language == kEnglish ? 1 : 0; }

// A line with one or two "%s"; a surplus argument is ignored.
std::string fill(const char* format, const std::string& a, const std::string& b = {}) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, a.c_str(), b.c_str());
    return buf;
}

}  // namespace

const char* flatActionName(FlatAction action, int language) {
    return kActions[static_cast<int>(action)][pick(language)];
}

const char* flatRefusalText(FlatRefusal refusal, int language) {
    return kRefusals[static_cast<int>(refusal)][pick(language)];
}

const char* newMainSuffix(int language) {
    return language == kEnglish ? " (new main code too)" : " (także nowy kod główny)";
}

const char* badFlatText(int language) {
    return language == kEnglish ? "not a flat L.N (line 1 or 2, flat 1 to 255): %s"
                                : "to nie lokal L.N (linia 1 lub 2, lokal od 1 do 255): %s";
}

const char* flatCardsText(bool pdf, int language) {
    if (pdf) return language == kEnglish ? "Cards of this flat: PDF…" : "Karty tego lokalu: PDF…";
    return language == kEnglish ? "Cards of this flat: print…" : "Karty tego lokalu: drukuj…";
}

const char* newKeyQuestion(int language) {
    return language == kEnglish ? "New key for local number %s (16 hexadecimal digits; empty: no new key):"
                                : "Nowy klucz dla lokalu %s (16 cyfr szesnastkowych; puste: bez nowego klucza):";
}

std::vector<std::string> newCodeLines(const FlatActionResult& result, const std::string& flat, int language) {
    const int l = pick(language);
    std::vector<std::string> lines;
    if (result.codes.main) lines.push_back(fill(kLines[1][l], flat, std::to_string(*result.codes.main)));
    if (result.codes.open) {
        char four[8];
        std::snprintf(four, sizeof four, "%04d", *result.codes.open);
        lines.push_back(fill(kLines[0][l], flat, four));
    }
    if (result.codes.general) lines.push_back(fill(kLines[2][l], std::to_string(*result.codes.general)));
    if (!result.codes.key.empty()) lines.push_back(fill(kLines[3][l], result.codes.key));
    if (result.keysRemoved) lines.push_back(fill(kLines[4][l], std::to_string(result.keysRemoved)));
    return lines;
}

}  // namespace kelvane::texts
