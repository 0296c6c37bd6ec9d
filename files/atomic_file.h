#pragma once
// Files written completely or not at all.
#include <cstddef>
#include <string>

namespace kelvane {

// Writes the bytes beside the file (path + ".tmp") and renames that over it,
// so a write that fails (a full disk, a pulled stick) never leaves the old file
// half-overwritten; the bytes reach the medium before the rename. The new file
// keeps the old one's permissions (Unix), and a symbolic link stays a link to the
// replaced file. False, with nothing left behind, when it cannot be done.
// ownerOnly: a file made new is readable and writable by its owner only (Unix).
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size, bool ownerOnly = false);

}  // namespace kelvane
