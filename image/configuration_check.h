#pragma once
// The configuration check: warnings about an image that is well formed (every
// row passes the grid rules) but unsafe or surprising in a building - the
// factory password left in place, an open code anyone would try first, one
// key given to two flats, a setting the window cannot show as stored. Warnings
// never block anything; the technician decides.
//
// Usage:
//     for (const Warning& w : checkConfiguration(image)) ...
// The check is pure and language-free: it names kinds, places and values. The
// texts come from the language table through texts::warningText() and
// texts::warningPlaceText() (texts/configuration_warnings.h, no Qt), so a tool
// or window shows them in the language of the moment; warningKindId() gives a
// stable name for machine-readable output.
#include "image/grid.h"
#include "image/image.h"

#include <optional>
#include <string>
#include <vector>

namespace kelvane {

enum class WarningKind {
    FactoryPassword,           // p101 still holds the initial image's password
    GuessablePassword,         // p101 is one digit repeated or a run of digits
    GuessableOpenCodes,        // residents' open codes one digit repeated or a run
    GuessableGeneralCodes,     // general codes the same way
    GeneralCodeIsCallAndOpen,  // a general code reads as a resident's call code followed by the open code
    RepeatedGeneralCode,       // one general code entered twice for the same panel
    SharedKey,                 // one key (same key text) stored for different local numbers
    GeneralCodeEveryPanel,     // informational: a general code valid at every panel of both buses
    SettingOutOfRange,         // a setting stored outside what its control offers
};
constexpr int kWarningKindCount = 9;

enum class Severity { Warning, Info };
Severity severityOf(WarningKind kind);

// A stable lower-case name of the kind ("factory-password"), for JSON and logs.
const char* warningKindId(WarningKind kind);

// One thing a warning is about: a grid row and what it shows there.
struct WarningItem {
    int row = 0;        // grid data row, 1 for the first, as the window lays the image out
    std::string name;   // resident: physical code "1.5"; key: local number; general code: empty
    std::string value;  // the code as the window shows it ("0123"), or the key text
};

// Where a warning points and what it names. Per kind:
// - FactoryPassword, GuessablePassword: parameter "p101", control
//   "p101_MaskEdit", `stored` the password's digits.
// - GuessableOpenCodes (grid Residents), GuessableGeneralCodes and
//   GeneralCodeEveryPanel (grid GeneralCodes): `items` the codes concerned.
//   Up to kListedSeparately of a kind come as one warning each (one item);
//   more come as one warning that holds them all, `row` the first one's.
// - GeneralCodeIsCallAndOpen (grid GeneralCodes): items[0] the general code,
//   items[1] the resident with the call code (logical or main) as value,
//   items[2] the same resident with the open code as value.
// - RepeatedGeneralCode (grid GeneralCodes): items[0] the earlier entry,
//   items[1] the repeating one (`row`).
// - SharedKey (grid Keys): items the records holding the key, in grid order,
//   name = local number, value = key text; `row` the first whose local number
//   differs from the first record's.
// - SettingOutOfRange: `parameter`, `control`, `stored` the stored value,
//   `shown` the value the window shows and a store would write (empty: no
//   item selected). p101 shows its stored bytes separated by blanks.
struct Warning {
    WarningKind kind = WarningKind::FactoryPassword;
    std::optional<GridId> grid;  // the grid the warning names; none for a setting
    int row = 0;                 // the grid row to go to
    std::string parameter;       // controller's parameter number, "p201"
    std::string control;         // object name of the control to go to, "p201_UpDown"
    std::vector<WarningItem> items;
    std::string stored;
    std::string shown;
};

// Per-row kinds list this many separately; more are counted in one warning.
constexpr int kListedSeparately = 5;

// The warnings for an image, by kind in the order of WarningKind, within a kind
// by grid row or by the window's order of the settings.
std::vector<Warning> checkConfiguration(const Image& image);

// The check of an image the window has just stored from `shown`, the image
// its controls were filled from: a setting out of range is judged on `shown`
// (the store has already written what the control showed) and kept while the
// control still holds what it showed, i.e. the technician has not set it
// since; everything else is judged on `stored`.
std::vector<Warning> checkStoredConfiguration(const Image& shown, const Image& stored);

// One digit repeated ("0000", "7") or a run of digits going up or down by one
// ("0123", "4321"); "1233" is neither. Digits only; an empty text is not.
bool isGuessableDigits(const std::string& digits);

}  // namespace kelvane
