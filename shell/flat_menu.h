#pragma once
// The context menus of the residents', keys' and general codes' grids: the
// flat actions of a service visit ("Lokator się wyprowadził", "Nowy lokator",
// "Zgubiony klucz", "Nowy kod ogólny") on the row under the mouse. An action
// is an edit of the window: the grids are refilled with its result while the
// working image stays as it was, so the change list shows it, the upload
// sends it and the register records it with the visit. The codes it made are
// shown to the technician in a message.
#include "texts/flat_action_texts.h"

namespace kelvane::shell {

class MainWindow;

// Gives the three grids their context menu.
void installFlatMenus(MainWindow& window);

// Runs `action` on the data row `plainRow` (1 for the first) of its grid:
// the residents' grid for moved-out and new-resident, the keys' for lost-key,
// the general codes' for general-code. Typed edits are stored first (their row
// checks may stop it). False when nothing changed (the reason was shown).
bool runFlatAction(MainWindow& window, texts::FlatAction action, int plainRow, bool newMain = false);

}  // namespace kelvane::shell
