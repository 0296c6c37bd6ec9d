#pragma once
// The language-table text of each report of the device link.
#include "link/messages.h"

#include <string>

namespace kelvane::texts {

// The text of a link report in language 0 (Polish), 1 (English) or 2 (the
// third language's placeholders); any other index gives the Polish text.
const char* messageText(link::Message report, int language);
// Why a line that had opened ended (a gateway that closed, stopped answering
// or refused a setting), in `language`; empty for a line that cannot tell.
std::string lineFaultText(link::LineFault fault, int language);

}  // namespace kelvane::texts
