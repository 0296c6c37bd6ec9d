#pragma once
// The everyday jobs of a service visit on one flat or one code, as edits of an
// image: a resident moved out, a new resident, a lost key, a new general code.
// Each returns the new image, the change list from the old one (what the
// window's change list and an upload show) and the codes it made, or why it
// was refused; a refused action leaves nothing changed.
//
//   FlatActionResult r = newResident(image, *parseFlat("1.5"), {true});
//   if (r.refusal == FlatRefusal::None) save(r.image), print(r.changes, r.codes);
//
// New codes are drawn from the operating system's generator (system_random.h)
// among the codes the controller stores that the configuration check would
// not call easy to guess, and that no code of the building already uses.
#include "image/change_list.h"
#include "image/image.h"
#include "image/system_random.h"

#include <optional>
#include <string>
#include <vector>

namespace kelvane {

// A resident slot: handset line 1 or 2, local number 1..255.
struct FlatSlot {
    int line = 0;
    int local = 0;
};
// "L.N" exactly: a line digit 1 or 2, a point, a local number 1..255 without a
// sign or blanks; anything else is nothing.
std::optional<FlatSlot> parseFlat(const std::string& text);
std::string flatText(FlatSlot slot);

// The codes a generator draws.
enum class CodeKind {
    Open,     // a resident's open code, four digits shown with leading zeros: 0001..9999
    Main,     // a resident's main-entrance call code: 1000..9999
    General,  // a general open code: 1000..9999
};

// Why a new code for `slot` (ignored for General) would not do, or nothing
// when it would: outside its kind's range, easy to guess, the number of a code
// the building holds, or (with the slot's call codes and open code) the digits
// of a general code.
enum class CodeFault { None, OutOfRange, Guessable, InUse, CallAndOpen };
CodeFault judgeNewCode(const Image& image, CodeKind kind, FlatSlot slot, int code);

// A code no CodeFault applies to, uniformly among all such codes; nothing when
// there is none or the random source failed.
enum class DrawFault { None, NoFreeCode, RandomFailed };
struct CodeDraw {
    int code = 0;
    DrawFault fault = DrawFault::None;
};
CodeDraw drawCode(const Image& image, CodeKind kind, FlatSlot slot, const RandomBelow& random = systemRandomBelow);

enum class FlatRefusal {
    None,
    NoSuchFlat,         // the slot holds no code at all
    SharedCallCode,     // moved-out: another flat has the same logical code, so its keys cannot be told apart
    NoSuchKey,          // lost-key: no record holds the key
    BadKeyText,         // a key text that is not 16 hex digits with a passing check byte
    KeyInUse,           // lost-key: the new key is already stored
    NoSuchGeneralCode,  // general-code: no entry holds the old code
    BadCode,            // a typed code the controller cannot store (1..9999)
    NoFreeCode,         // every allowed code is taken
    RandomFailed,       // the system's generator gave nothing
    Count               // not a refusal: how many there are
};

// The codes an action made, when it made them.
struct NewCodes {
    std::optional<int> open, main, general;
    std::string key;  // the new key's text
};

struct FlatActionResult {
    FlatRefusal refusal = FlatRefusal::None;
    Image image{};       // the image after; the old one when refused
    ChangeList changes;  // from the old image to `image`
    NewCodes codes;
    int keysRemoved = 0;
};

// "Lokator się wyprowadził": the slot's open and main codes become empty and
// every key whose local number is the slot's logical code is removed; the
// logical code (the flat's call code) stays. Refused when another slot has
// the same logical code: its keys would go too.
FlatActionResult movedOut(const Image& image, FlatSlot slot);

// "Nowy lokator": a new open code, and with `newMain` a new main code. A code
// given is checked against what the controller stores (1..9999) and used as
// typed; otherwise one is drawn.
struct NewResidentRequest {
    bool newMain = false;
    std::optional<int> open, main;  // typed codes
};
FlatActionResult newResident(const Image& image, FlatSlot slot, const NewResidentRequest& request,
                             const RandomBelow& random = systemRandomBelow);

// "Zgubiony klucz": every record of the key (its key text, blanks optional)
// is removed, the table stays packed; with `newKey` that key is stored for
// the local number the lost one had.
FlatActionResult lostKey(const Image& image, const std::string& keyText, const std::string& newKey = {});

// "Nowy kod ogólny": every entry holding `oldCode` gets one new code (typed,
// or drawn), keeping its panel and bus.
FlatActionResult newGeneralCode(const Image& image, int oldCode, std::optional<int> typed = std::nullopt,
                                const RandomBelow& random = systemRandomBelow);

// The image with the residents' codes of `slot` only: what the cards of that
// one flat are printed from.
Image onlyFlat(const Image& image, FlatSlot slot);
// Whether `slot` holds any code in the residents' table (else NoSuchFlat).
bool flatExists(const Image& image, FlatSlot slot);

}  // namespace kelvane
