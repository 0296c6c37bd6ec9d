#pragma once
// Why a file was not written or read, as a line of text in a language.
#include "files/atomic_file.h"

#include <string>

namespace kelvane::texts {

// The save error, followed by the reason when the path itself was refused.
std::string writeFaultText(WriteFault fault, int language);
// The load error, followed by the reason where one is known.
std::string readFaultText(ReadFault fault, int language);

}  // namespace kelvane::texts
