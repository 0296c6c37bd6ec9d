#pragma once
// Where the data key lives. In this order: the key file the user names
// (kvtool --key-file, or KELVANE_KEY_FILE), else the operating system's
// keychain (the Secret Service or KWallet on Linux, the Credential Manager on
// Windows), where the key is made on first use. Without either (no keychain
// on a server, a locked keychain, the user said no, KELVANE_NO_KEYCHAIN set)
// there is no key: the programs work on, and visits are recorded without
// their images.
//
// Beside the key the store may keep the one it replaced ("previous"), so a
// rotation cut off half-way is finished at the next start instead of leaving
// data sealed by a key nobody has.
#include "files/key_file.h"
#include "files/sealing.h"

#include <optional>
#include <string>

namespace kelvane::registry {

struct KeyState {
    std::optional<DataKey> key;
    std::optional<DataKey> previous;
    std::string source;  // "the keychain", "the key file PATH"
    std::string why;     // with no key: why not
    // The same typed, for texts in the window's language: what is missing,
    // the key file's fault, and the keychain's own words (when it gave any).
    KeyMissing missing = KeyMissing::None;
    KeyFileFault fileFault = KeyFileFault::None;
    std::string detail;
};

// A key file named on the command line; before the first dataKey().
void setKeyFile(const std::string& path);
// The key file in force: setKeyFile()'s, else KELVANE_KEY_FILE, else empty.
std::string keyFile();

// The key of this process, found (or made) once.
const KeyState& dataKey();
// Finds it again (after an import or a rotation).
const KeyState& reloadDataKey();
// Gives the process this key state (tests, and kvtool after a change).
void setDataKey(const KeyState& state);

// Stores the key where dataKey() finds it (the key file in force, else the
// keychain); the key it replaces is kept as the previous one. False with the
// reason in `why`.
bool storeDataKey(const DataKey& key, std::string* why);
// Forgets the previous key once nothing is sealed by it any more.
void forgetPreviousKey();

// False in a build without QtKeychain.
bool keychainBuilt();

}  // namespace kelvane::registry
