#pragma once
// The flat actions as one table: the window's menus of the code tables and
// kvtool's `flat` command are made from its rows, and the texts
// (texts/flat_action_texts.h) are keyed by its enum. A row says what the
// action is called on the command line, which table's row the window runs
// it on and which cell of that row names what it acts on, and the function
// that does it (image/flat_actions.h).
//
//   FlatActionResult r = runFlatAction(image, FlatAction::GeneralCode, "1357", {});
#include "image/flat_actions.h"
#include "image/grid.h"

#include <array>
#include <optional>
#include <string>

namespace kelvane {

enum class FlatAction { MovedOut, NewResident, LostKey, GeneralCode, Count };
constexpr std::size_t kFlatActionCount = static_cast<std::size_t>(FlatAction::Count);

// What the text an action is given names.
enum class FlatTarget {
    Flat,         // a resident slot "L.N" (parseFlat)
    Key,          // a key's text
    GeneralCode,  // a general code's number: 1 to 4 digits, blanks around allowed
};

// What an action is asked besides what it acts on.
struct FlatRequest {
    bool newMain = false;                    // new resident: a new main code too
    std::optional<int> open, main, general;  // typed new codes (new resident; general code)
    std::string newKey;                      // lost key: the key stored in its place
};

struct FlatActionRow {
    FlatAction action;
    const char* word;  // kvtool flat WORD
    FlatTarget target;
    GridId grid;       // the window runs the action on a row of this table
    int namedColumn;   // the cell of that row that names the target
    bool mainCodeToo;  // the window offers it a second time with a new main code
    FlatActionResult (*run)(const Image& image, const std::string& named, const FlatRequest& request,
                            const RandomBelow& random);
};

// Every flat action, in the order of FlatAction and of the menus.
const std::array<FlatActionRow, kFlatActionCount>& flatActions();
const FlatActionRow& flatActionRow(FlatAction action);
// The action kvtool names `word`; nothing when none is.
const FlatActionRow* findFlatAction(const std::string& word);

// The general code a text names (the same rule for a typed argument and a
// grid's cell): 1 to 4 digits once blanks around are taken off; nothing
// otherwise.
std::optional<int> generalCodeNamed(const std::string& text);

// The action on what `named` names. A text that names no flat is refused as
// NoSuchFlat, one that is no general code as BadCode.
FlatActionResult runFlatAction(const Image& image, FlatAction action, const std::string& named,
                               const FlatRequest& request, const RandomBelow& random = systemRandomBelow);

}  // namespace kelvane
