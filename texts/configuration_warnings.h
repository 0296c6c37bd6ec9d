#pragma once
// The texts of the configuration check's warnings in a language of the
// language table. The check itself (image/configuration_check.h) knows no
// language.
#include "image/configuration_check.h"
#include "texts/change_text.h"

#include <string>
#include <vector>

namespace kelvane::texts {

// The warning as one line (UTF-8). Counted warnings list their first
// kListedInText items and end with "…" when there are more.
std::string warningText(const Warning& warning, int language);
constexpr int kListedInText = 8;

// Where it points: "Lokatorzy, wiersz 5" (the grid's group caption and row)
// or the parameter number "p201".
std::string warningPlaceText(const Warning& warning, int language);

// "Ostrzeżenie" or "Informacja".
const char* severityText(Severity severity, int language);

// The warnings as a group of a change list, to be shown beside the changes
// before an upload or on Compare: titled "Ostrzeżenia konfiguracji", one line
// each, "severity – place: text". No group when there is no warning.
std::vector<ChangeGroup> warningGroups(const std::vector<Warning>& warnings, int language);

}  // namespace kelvane::texts
