#pragma once
// The data key in a file named by the user, for computers without a keychain
// (a server, a script): 64 hexadecimal digits on one line (blanks and a line
// end around them allowed), nothing else. The file must be
// the user's own and readable by nobody else (0600 or 0400); any other is
// refused unread, so a key others can read is never used.
#include "files/sealing.h"

#include <filesystem>
#include <optional>
#include <string>

namespace kelvane {

// NotAKey: not 64 characters between the blanks; NotHexadecimal: 64, but
// not all hexadecimal digits.
enum class KeyFileFault { None, Missing, NotRegular, NotPrivate, NotOwner, NotAKey, NotHexadecimal, Failed };

// Why a program has no data key, for the note that visits go without images.
enum class KeyMissing {
    None,
    KeyFileRefused,  // the key file named by the user (its fault beside)
    CannotSeal,      // a build without libsodium
    KeychainOff,     // KELVANE_NO_KEYCHAIN
    KeychainFailed,  // no keychain, a locked one, the user said no, no answer
};

struct KeyFileRead {
    std::optional<DataKey> key;
    KeyFileFault fault = KeyFileFault::None;
    bool created = false;
};

// Reads the key; a missing file is made with a new key when `create` (and
// the folder exists). Never reads more than a key file's size.
KeyFileRead readKeyFile(const std::filesystem::path& path, bool create);
// Writes the key as a new 0600 file (replacing one that is there).
bool writeKeyFile(const std::filesystem::path& path, const DataKey& key);
// Why a key file was refused, for messages ("... is readable by others").
std::string keyFileFaultText(KeyFileFault fault);

}  // namespace kelvane
