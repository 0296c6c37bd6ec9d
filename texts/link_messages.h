#pragma once
// The language-table text of each report of the device link.
#include "link/messages.h"

namespace kelvane::texts {

// The text of a link report in language 0 (Polish), 1 (English) or 2 (the
// third language's placeholders); any other index gives the Polish text.
const char* messageText(link::Message report, int language);

}  // namespace kelvane::texts
