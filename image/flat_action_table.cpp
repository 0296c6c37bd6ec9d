#include "image/flat_action_table.h"

#include "image/code_rules.h"

namespace kelvane {

namespace {

FlatActionResult refusedAs(const Image& image, FlatRefusal why) {
    FlatActionResult r;
    r.refusal = why;
    r.image = image;
    return r;
}

FlatActionResult runMovedOut(const Image& image, const std::string& named, const FlatRequest&, const RandomBelow&) {
    const auto slot = parseFlat(named);
    return slot ? movedOut(image, *slot) : refusedAs(image, FlatRefusal::NoSuchFlat);
}

FlatActionResult runNewResident(const Image& image, const std::string& named, const FlatRequest& request,
                                const RandomBelow& random) {
    const auto slot = parseFlat(named);
    return slot ? newResident(image, *slot, {request.newMain, request.open, request.main}, random)
                : refusedAs(image, FlatRefusal::NoSuchFlat);
}

FlatActionResult runLostKey(const Image& image, const std::string& named, const FlatRequest& request, const RandomBelow&) {
    return lostKey(image, named, request.newKey);
}

FlatActionResult runGeneralCode(const Image& image, const std::string& named, const FlatRequest& request,
                                const RandomBelow& random) {
    const auto code = generalCodeNamed(named);
    return code ? newGeneralCode(image, *code, request.general, random) : refusedAs(image, FlatRefusal::BadCode);
}

// clang-format off
constexpr std::array<FlatActionRow, kFlatActionCount> kFlatActions = {{
    {FlatAction::MovedOut,    "moved-out",    FlatTarget::Flat,        GridId::Residents,    0, false, runMovedOut},
    {FlatAction::NewResident, "new-resident", FlatTarget::Flat,        GridId::Residents,    0, true,  runNewResident},
    {FlatAction::LostKey,     "lost-key",     FlatTarget::Key,         GridId::Keys,         1, false, runLostKey},
    {FlatAction::GeneralCode, "general-code", FlatTarget::GeneralCode, GridId::GeneralCodes, 0, false, runGeneralCode},
}};
// clang-format on

constexpr bool inOrder() {
    for (std::size_t i = 0; i < kFlatActions.size(); ++i)
        if (static_cast<std::size_t>(kFlatActions[i].action) != i) return false;
    return true;
}
static_assert(inOrder(), "one row for each FlatAction, in the enum's order");

}  // namespace

const std::array<FlatActionRow, kFlatActionCount>& flatActions() { return kFlatActions; }

const FlatActionRow& flatActionRow(FlatAction action) { return kFlatActions[static_cast<std::size_t>(action)]; }

const FlatActionRow* findFlatAction(const std::string& word) {
    for (const FlatActionRow& row : kFlatActions)
        if (word == row.word) return &row;
    return nullptr;
}

std::optional<int> generalCodeNamed(const std::string& text) {
    const std::string digits = trimBlanks(text);
    if (digits.empty() || digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoi(digits);
}

FlatActionResult runFlatAction(const Image& image, FlatAction action, const std::string& named,
                               const FlatRequest& request, const RandomBelow& random) {
    return flatActionRow(action).run(image, named, request, random);
}

}  // namespace kelvane
