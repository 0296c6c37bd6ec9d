#include "texts/flat_action_texts.h"

#include "texts/language_table.h"

#include <cstdio>

namespace kelvane::texts {

namespace {

constexpr const char M[] = "...";

constexpr Row<FlatAction> kActionNames[] = {
    TEXT_ROW(FlatAction::MovedOut, "Lokator się wyprowadził", "Resident moved out", M),
    TEXT_ROW(FlatAction::NewResident, "Nowy lokator", "New resident", M),
    TEXT_ROW(FlatAction::LostKey, "Zgubiony klucz", "Lost key", M),
    TEXT_ROW(FlatAction::GeneralCode, "Nowy kod ogólny", "New general code", M),
};
static_assert(rowsMatch(kActionNames) && rowInPlace<misplacedRow(kActionNames)>(), "one name for each FlatAction");

constexpr Row<FlatRefusal> kRefusals[] = {
    TEXT_ROW(FlatRefusal::None, "", "", ""),
    TEXT_ROW(FlatRefusal::NoSuchFlat, "Lokal nie ma żadnego kodu w tabeli lokatorów",
             "The flat has no code in the residents' table", M),
    TEXT_ROW(FlatRefusal::SharedCallCode,
             "Inny lokal ma ten sam kod logiczny, więc jego klucze nie dają się odróżnić; usuń klucze pojedynczo",
             "Another flat has the same logical code, so its keys cannot be told apart; remove the keys one by one", M),
    TEXT_ROW(FlatRefusal::NoSuchKey, "Tego klucza nie ma w tabeli kluczy", "The key table holds no such key", M),
    TEXT_ROW(FlatRefusal::BadKeyText, "Klucz to 16 cyfr szesnastkowych (odstępy dowolne) z poprawnym bajtem kontrolnym",
             "A key is 16 hexadecimal digits (blanks optional) with a valid check byte", M),
    TEXT_ROW(FlatRefusal::KeyInUse, "Ten klucz jest już zapisany", "That key is already stored", M),
    TEXT_ROW(FlatRefusal::NoSuchGeneralCode, "Żaden kod ogólny nie ma tej wartości", "No general code has that value", M),
    TEXT_ROW(FlatRefusal::BadCode, "Kod musi mieć wartość od 1 do 9999", "A code must be 1 to 9999", M),
    TEXT_ROW(FlatRefusal::NoFreeCode, "Nie ma już wolnego kodu spełniającego zasady",
             "No free code that meets the rules is left", M),
    TEXT_ROW(FlatRefusal::RandomFailed, "Generator liczb losowych systemu nie działa: nic nie zmieniono",
             "The system's random number generator failed: nothing changed", M),
};
static_assert(rowsMatch(kRefusals) && rowInPlace<misplacedRow(kRefusals)>(), "one text for each FlatRefusal");

constexpr Row<FlatText> kFlat[] = {
    TEXT_ROW(FlatText::NewMainSuffix, " (także nowy kod główny)", " (new main code too)", " (...)"),
    TEXT_ROW(FlatText::BadFlat, "to nie lokal L.N (linia 1 lub 2, lokal od 1 do 255): %s",
             "not a flat L.N (line 1 or 2, flat 1 to 255): %s", "...: %s"),
    TEXT_ROW(FlatText::CardsPrint, "Karty tego lokalu: drukuj…", "Cards of this flat: print…", M),
    TEXT_ROW(FlatText::CardsPdf, "Karty tego lokalu: PDF…", "Cards of this flat: PDF…", M),
    TEXT_ROW(FlatText::NewKeyQuestion, "Nowy klucz dla lokalu %s (16 cyfr szesnastkowych; puste: bez nowego klucza):",
             "New key for local number %s (16 hexadecimal digits; empty: no new key):", "... %s:"),
    TEXT_ROW(FlatText::NewOpenCode, "Nowy kod otwarcia lokatora %s: %s", "New open code of resident %s: %s", "... %s: %s"),
    TEXT_ROW(FlatText::NewMainCode, "Nowy kod główny lokatora %s: %s", "New main code of resident %s: %s", "... %s: %s"),
    TEXT_ROW(FlatText::NewGeneralCode, "Nowy kod ogólny: %s", "New general code: %s", "...: %s"),
    TEXT_ROW(FlatText::NewKey, "Nowy klucz: %s", "New key: %s", "...: %s"),
    TEXT_ROW(FlatText::KeysRemoved, "Usunięte klucze: %s", "Keys removed: %s", "...: %s"),
};
static_assert(rowsMatch(kFlat) && rowInPlace<misplacedRow(kFlat)>(), "one text for each FlatText");

// A line with one or two "%s"; a surplus argument is ignored.
std::string fill(FlatText text, int language, const std::string& a, const std::string& b = {}) {
    char buf[256];
    std::snprintf(buf, sizeof buf, flatText(text, language), a.c_str(), b.c_str());
    return buf;
}

}  // namespace

const char* flatActionName(FlatAction action, int language) { return rowText(kActionNames, action, language); }
const char* flatRefusalText(FlatRefusal refusal, int language) { return rowText(kRefusals, refusal, language); }
const char* flatText(FlatText text, int language) { return rowText(kFlat, text, language); }

const char* textName(FlatAction action) { return kActionNames[static_cast<std::size_t>(action)].name; }
const char* textName(FlatRefusal refusal) { return kRefusals[static_cast<std::size_t>(refusal)].name; }
const char* textName(FlatText text) { return kFlat[static_cast<std::size_t>(text)].name; }

std::vector<std::string> newCodeLines(const FlatActionResult& result, const std::string& flat, int language) {
    std::vector<std::string> lines;
    if (result.codes.main)
        lines.push_back(fill(FlatText::NewMainCode, language, flat, std::to_string(*result.codes.main)));
    if (result.codes.open) {
        char four[8];
        std::snprintf(four, sizeof four, "%04d", *result.codes.open);
        lines.push_back(fill(FlatText::NewOpenCode, language, flat, four));
    }
    if (result.codes.general)
        lines.push_back(fill(FlatText::NewGeneralCode, language, std::to_string(*result.codes.general)));
    if (!result.codes.key.empty()) lines.push_back(fill(FlatText::NewKey, language, result.codes.key));
    if (result.keysRemoved) lines.push_back(fill(FlatText::KeysRemoved, language, std::to_string(result.keysRemoved)));
    return lines;
}

}  // namespace kelvane::texts
