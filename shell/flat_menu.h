#pragma once
// The context menus of the residents', keys' and general codes' grids: the
// flat actions of a service visit ("Lokator się wyprowadził", "Nowy lokator",
// "Zgubiony klucz", "Nowy kod ogólny") on the row under the mouse. An action
// is an edit of the window: the grids are refilled with its result while the
// working image stays as it was, so the change list shows it, the upload
// sends it and the register records it with the visit. The codes it made are
// shown to the technician in a message.
#include "image/image.h"
#include "texts/flat_action_texts.h"

#include <QString>

#include <functional>

namespace kelvane::shell {

class MainWindow;

// The cards of one flat: printed, or saved as a PDF named `name`, from the
// image that holds that flat's codes only.
struct FlatCards {
    std::function<void(const Image& flat)> print;
    std::function<void(const Image& flat, const QString& name)> pdf;
};

// Gives the three grids their context menu; the residents' has the cards of
// the flat under the mouse besides, where `cards` says how to make them.
void installFlatMenus(MainWindow& window, const FlatCards& cards = {});

// Makes the cards of the flat on data row `plainRow` of the residents' grid
// (typed edits stored first); false when the row names no flat (said).
bool flatCards(MainWindow& window, int plainRow, const FlatCards& cards, bool pdf);

// Runs `action` on the data row `plainRow` (1 for the first) of its grid:
// the residents' grid for moved-out and new-resident, the keys' for lost-key,
// the general codes' for general-code. Typed edits are stored first (their row
// checks may stop it). "Zgubiony klucz" asks first for the key that replaces
// the lost one (checked as the keys' grid checks a row; empty for none).
// False when nothing changed (the reason was shown, or the box cancelled).
bool runFlatAction(MainWindow& window, FlatAction action, int plainRow, bool newMain = false);

}  // namespace kelvane::shell
