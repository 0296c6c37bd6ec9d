#pragma once
// Where the data key lives. In this order: the key file the user names
// (kvtool --key-file, or KELVANE_KEY_FILE), else the operating system's
// keychain (the Secret Service or KWallet on Linux, the Credential Manager on
// Windows), where the key is made on first use. Without either (no keychain
// on a server, a locked keychain, the user said no, KELVANE_NO_KEYCHAIN set)
// the key lives in the user's own key file (ownKeyFile(), the config folder),
// made there when no keychain answers (no Secret Service, a session over SSH,
// KELVANE_NO_KEYCHAIN set) and no key exists yet; it is protected by the
// file's rights only, and moves to a keychain that answers later on request.
// A keychain that is there but gives no key (locked, the user said no, no
// answer) leaves the program without a key: visits are recorded without
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
    // The key is in the user's own key file; a keychain answers that holds
    // no key, so the key may move there.
    bool inOwnFile = false;
    bool keychainFree = false;
};

// The user's own key file: Kelvane/data.key in the user's config folder.
std::string ownKeyFile();
// Once: the own key file when this process made the key there (to say where
// it is and what protects it), else nothing.
std::optional<std::string> takeKeyMadeNote();
// Moves the key (and a previous one) from the own key file to the keychain:
// stored, read back, then the files are overwritten and removed. False with
// the reason in `why`; the key stays in the file then.
bool moveKeyToKeychain(std::string* why);

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
