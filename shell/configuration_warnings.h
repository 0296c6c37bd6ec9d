#pragma once
// The texts of the configuration check's warnings in a language of the
// language table. The check itself (image/configuration_check.h) knows no
// language.
#include "image/configuration_check.h"

#include <string>

namespace kelvane::lang {

// The warning as one line (UTF-8). Counted warnings list their first
// kListedInText items and end with "…" when there are more.
std::string WarningText(const Warning& warning, int language);
constexpr int kListedInText = 8;

// Where it points: "Lokatorzy, wiersz 5" (the grid's group caption and row)
// or the parameter number "p201".
std::string WarningPlaceText(const Warning& warning, int language);

// "Ostrzeżenie" or "Informacja".
const char* SeverityText(Severity severity, int language);

}  // namespace kelvane::lang
