#pragma once
// The flat actions (image/flat_actions.h) in a language: their names, the
// codes they made and why one was refused.
#include "image/flat_actions.h"

#include <string>
#include <vector>

namespace kelvane::texts {

enum class FlatAction { MovedOut, NewResident, LostKey, GeneralCode };
constexpr int kFlatActionCount = 4;

// "Lokator się wyprowadził", "Nowy lokator", "Zgubiony klucz", "Nowy kod ogólny".
const char* flatActionName(FlatAction action, int language);

// Added to "Nowy lokator" for the menu item that draws a new main code too.
const char* newMainSuffix(int language);

// Why an action was refused, one sentence.
const char* flatRefusalText(FlatRefusal refusal, int language);

// What the action made, one line each: the new open code (four digits), main
// code, general code, key, and the count of keys removed. `flat` names the
// resident ("1.5"); empty for a general code.
std::vector<std::string> newCodeLines(const FlatActionResult& result, const std::string& flat, int language);

// A flat argument that is not "L.N" (line 1 or 2, flat 1 to 255): "%s" the text.
const char* badFlatText(int language);

// The residents' menu items for the cards of one flat: printed, or as a PDF.
const char* flatCardsText(bool pdf, int language);

// The box of "Zgubiony klucz" that asks for the key replacing the lost one:
// its title is the action's name; "%s" the local number.
const char* newKeyQuestion(int language);

}  // namespace kelvane::texts
