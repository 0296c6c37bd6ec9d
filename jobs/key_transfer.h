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
};
KeyStatus keyStatus();

// What is left after sealing everything with the key now stored.
struct Resealing {
    bool readBack = false;                             // the stored key was found again
    std::string why;                                   // not read back: why
    bool registerSealed = true;                        // (or there is no register in this build)
    std::string registerWhy;                           // not sealed: why
    std::vector<std::pair<std::string, int>> folders;  // backup folders and files sealed
    std::vector<std::string> kept;                     // backups left under the previous key
    bool complete() const { return readBack && registerSealed && kept.empty(); }
};
// Seals the register at `registerPath` and the backups again with the key
// stored now; forgets the previous key once nothing is left under it.
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

enum class KeyRotateEnd { Stored, NoKey, NotStored };
struct KeyRotate {
    KeyRotateEnd end = KeyRotateEnd::NoKey;
    std::string keyId;
    std::string why;
    Resealing resealing;
};
KeyRotate rotateKey(const std::string& registerPath);

}  // namespace kelvane::jobs
