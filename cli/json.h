#pragma once
// A JSON string literal for any text: always valid UTF-8.
#include "texts/output_text.h"

#include <string>

namespace kelvane::cli {

inline std::string jsonString(const std::string& s) { return kelvane::texts::jsonString(s); }

}  // namespace kelvane::cli
