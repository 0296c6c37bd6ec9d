#pragma once
// The change list (image/change_list.h) in a language: grouped lines with the
// window's own captions, item texts and cell texts from the language table,
// so that what the list says matches what the window shows.
//
//   const auto groups = describeChanges(listChanges(device, working), language);
//   for (const ChangeGroup& g : groups) { g.title; g.count; g.lines; }
//   std::string text = changeListText(groups);  // plain text, one item a line
//
// A caller may add groups of its own (warnings, notes) to the vector before
// showing it; changeListText and the window's list show any group alike.
#include "image/change_list.h"

#include <string>
#include <vector>

namespace kelvane::texts {

enum class ChangeGroupKind { Settings, Residents, Keys, GeneralCodes, Digitizers, OtherBytes, Upload, Other };

struct ChangeGroup {
    ChangeGroupKind kind = ChangeGroupKind::Other;
    std::string title;               // UTF-8
    int count = 0;                   // items in the group (blocks, for Upload)
    std::vector<std::string> lines;  // one item a line, UTF-8
};

// Whether the "before" side of the list is known. When nothing was read from
// the controller the image compared against is only a stand-in: its values
// are not shown, and rows it alone holds are not listed as removed.
enum class ChangeSides { BeforeAndAfter, AfterOnly };

// Whether the lines show codes. Masked shows "••••" for every value that
// masking an image replaces (image/secret_mask.h): the residents' logical,
// open and main codes, general codes, keys and the service password; what
// names a row otherwise (the flat, the local number) stays.
enum class CodeView { Shown, Masked };
inline constexpr const char* kMaskedCode = "••••";

// The groups that have something in them, in the order: settings, residents,
// keys, general codes, digitizers, other bytes, upload. An empty list (equal
// images) gives no group.
std::vector<ChangeGroup> describeChanges(const ChangeList& changes, int language,
                                         ChangeSides sides = ChangeSides::BeforeAndAfter,
                                         CodeView codes = CodeView::Shown);

// Caption of a setting as the window labels it ("Czas stopu", "Hasło",
// "Wirtualne połączenia: EXI"), without its parameter number.
std::string settingCaption(const Parameter& parameter, int language);
// A control's value as the window shows it: the number, the item text, the
// check box as yes/no, the p101 digits.
std::string settingValueText(const Parameter& parameter, const ControlState& state, int language);
// Caption of a check box that no language changes (p714's "EXI", "OCA",
// "OCB"), or nullptr.
const char* fixedCheckBoxCaption(const char* control);

// "Title (count)" lines followed by the group's lines indented by two spaces.
std::string changeListText(const std::vector<ChangeGroup>& groups);

}  // namespace kelvane::texts
