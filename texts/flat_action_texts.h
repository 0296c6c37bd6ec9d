#pragma once
// The flat actions (image/flat_action_table.h) in a language: their names,
// the codes they made and why one was refused. Keyed tables like the
// language table's: TEXT_ROW(FlatAction::LostKey, "Zgubiony klucz", ...).
#include "image/flat_action_table.h"

#include <string>
#include <vector>

namespace kelvane::texts {

// "Lokator się wyprowadził", "Nowy lokator", "Zgubiony klucz", "Nowy kod ogólny".
const char* flatActionName(FlatAction action, int language);

// Why an action was refused, one sentence.
const char* flatRefusalText(FlatRefusal refusal, int language);

// The other texts of the flat actions.
enum class FlatText {
    NewMainSuffix,   // added to "Nowy lokator" for the menu item that draws a new main code too
    BadFlat,         // a flat argument that is not "L.N": "%s" the text
    CardsPrint,      // the residents' menu item for the cards of one flat, printed
    CardsPdf,        // ... as a PDF
    NewKeyQuestion,  // the box of "Zgubiony klucz" asking for the key replacing the lost one: "%s" the local number
    NewOpenCode,     // "%s" the resident, "%s" the code
    NewMainCode,     // "%s" the resident, "%s" the code
    NewGeneralCode,  // "%s" the code
    NewKey,          // "%s" the key
    KeysRemoved,     // "%s" the count
    Count            // not a text: how many there are
};
const char* flatText(FlatText text, int language);

// The names the rows are written with: "FlatAction::LostKey".
const char* textName(FlatAction action);
const char* textName(FlatRefusal refusal);
const char* textName(FlatText text);

// What the action made, one line each: the new open code (four digits), main
// code, general code, key, and the count of keys removed. `flat` names the
// resident ("1.5"); empty for a general code.
std::vector<std::string> newCodeLines(const FlatActionResult& result, const std::string& flat, int language);

}  // namespace kelvane::texts
