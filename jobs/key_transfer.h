#pragma once
// Moving the data key between computers, the same for KelvaneMini's window
// and kvtool: where the key is, writing it wrapped with a passphrase,
// storing such a key, and making a new one. After a key is stored the
// register and the backup folders are sealed again with it. Each step says
// typed what it did; the programs ask the passphrase and make the texts.
#include "files/key_file.h"
#include "files/sealing.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::jobs {

// A new passphrase needs this many characters at least.
constexpr std::size_t kMinPassphrase = 8;
// A passphrase file is read no further than this.
constexpr std::size_t kMaxPassphraseFile = 4096;

enum class PassphraseFault { None, TooShort, Differ };
// Whether a new passphrase, given twice, may wrap the key.
PassphraseFault checkNewPassphrase(const std::string& first, const std::string& again);

struct KeyStatus {
    std::optional<std::string> keyId, previousId;
    std::string keyFile;  // the key file in force; empty: the keychain
    KeyMissing missing = KeyMissing::None;
    KeyFileFault fileFault = KeyFileFault::None;
    std::string detail, why;
    // The key is in the user's own key file (keyFile), made there as no
    // keychain answered: protected by the file's rights only. A keychain now
    // answers that holds no key: moveKeyToKeychain() may move it there.
    bool ownFile = false;
    bool keychainFree = false;
};
KeyStatus keyStatus();

enum class KeyMoveEnd { Moved, NotInOwnFile, NotMoved };
struct KeyMove {
    KeyMoveEnd end = KeyMoveEnd::NotInOwnFile;
    std::string keyId, file;
    std::string why;  // NotMoved
};
// The key from the user's own key file into the keychain; the file is
// removed once the keychain holds the key. Nothing changes unless Moved.
KeyMove moveKeyToKeychain();

// What is left after sealing everything with the key now stored.
struct Resealing {
    bool readBack = false;                             // the stored key was found again
    std::string why;                                   // not read back: why
    bool registerSealed = true;                        // (or there is no register in this build)
    std::string registerWhy;                           // not sealed: why
    std::vector<std::pair<std::string, int>> folders;  // backup folders and files sealed
    std::vector<std::string> kept;                     // backups left under the previous key
    // A company register is set: its images are sealed again with the new
    // key at the next sync, which forgets the previous key then.
    bool companyWaits = false;
    bool complete() const { return readBack && registerSealed && kept.empty(); }
};
// Seals the register at `registerPath` and the backups again with the key
// stored now; forgets the previous key once nothing is left under it (with a
// company register set: once the sync has sealed the server's images too).
Resealing sealEverything(const std::string& registerPath);

enum class KeyExportEnd { Written, NoKey, NotWritten };
struct KeyExport {
    KeyExportEnd end = KeyExportEnd::NoKey;
    std::string keyId;
};
KeyExport exportKey(const std::string& file, const std::string& passphrase);

enum class KeyImportEnd { Stored, Unreadable, NotExported, TooMuchWork, WrongPassphrase, CannotSeal, NotStored };
struct KeyImport {
    KeyImportEnd end = KeyImportEnd::Unreadable;
    std::string keyId;
    std::string why;  // NotStored
    Resealing resealing;
};
// Nothing is changed unless the end is Stored.
KeyImport importKey(const std::string& file, const std::string& passphrase, const std::string& registerPath);

// Unfinished: the previous change of key is not finished yet (its key is
// still needed); nothing changes.
enum class KeyRotateEnd { Stored, NoKey, NotStored, Unfinished };
struct KeyRotate {
    KeyRotateEnd end = KeyRotateEnd::NoKey;
    std::string keyId;
    std::string why;
    Resealing resealing;
};
KeyRotate rotateKey(const std::string& registerPath);

}  // namespace kelvane::jobs
