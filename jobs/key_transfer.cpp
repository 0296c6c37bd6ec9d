#include "jobs/key_transfer.h"

#include "files/atomic_file.h"
#include "registry/backup_files.h"
#include "registry/building_register.h"
#include "registry/company_sync.h"
#include "registry/key_store.h"

namespace kelvane::jobs {

PassphraseFault checkNewPassphrase(const std::string& first, const std::string& again) {
    if (first != again) return PassphraseFault::Differ;
    if (first.size() < kMinPassphrase) return PassphraseFault::TooShort;
    return PassphraseFault::None;
}

KeyStatus keyStatus() {
    const registry::KeyState& state = registry::dataKey();
    KeyStatus s;
    if (state.key) s.keyId = state.key->id();
    if (state.previous) s.previousId = state.previous->id();
    s.keyFile = state.inOwnFile ? registry::ownKeyFile() : registry::keyFile();
    s.ownFile = state.inOwnFile;
    s.keychainFree = state.keychainFree;
    s.missing = state.missing;
    s.fileFault = state.fileFault;
    s.detail = state.detail;
    s.why = state.why;
    return s;
}

KeyMove moveKeyToKeychain() {
    KeyMove m;
    const registry::KeyState& state = registry::dataKey();
    if (!state.inOwnFile || !state.key) return m;
    m.keyId = state.key->id();
    m.file = registry::ownKeyFile();
    m.end = registry::moveKeyToKeychain(&m.why) ? KeyMoveEnd::Moved : KeyMoveEnd::NotMoved;
    registry::reloadDataKey();
    return m;
}

Resealing sealEverything(const std::string& registerPath) {
    Resealing r;
    const registry::KeyState& state = registry::reloadDataKey();
    if (!state.key) {
        r.why = state.why;
        return r;
    }
    r.readBack = true;
    if (registry::Register::available()) {
        // The register seals itself again when it opens with the previous
        // key beside the new one.
        registry::Register reg;
        if (!reg.open(registerPath)) {
            r.registerSealed = false;
            r.registerWhy = reg.error();
        } else if (!reg.imagesNote().empty()) {
            r.registerSealed = false;
            r.registerWhy = reg.imagesNote();
        }
    }
    for (const std::string& folder : registry::backupFolders()) {
        const FolderSealing done = registry::sealBackups(folder);
        if (done.sealed + done.resealed > 0) r.folders.emplace_back(folder, done.sealed + done.resealed);
        r.kept.insert(r.kept.end(), done.kept.begin(), done.kept.end());
    }
    r.companyWaits = registry::serverUrl().has_value();
    if (r.complete() && !r.companyWaits) registry::forgetPreviousKey();
    return r;
}

KeyExport exportKey(const std::string& file, const std::string& passphrase) {
    KeyExport e;
    const registry::KeyState& state = registry::dataKey();
    if (!state.key) return e;
    e.keyId = state.key->id();
    const auto wrapped = wrapKey(*state.key, passphrase);
    e.end = wrapped && writeFileAtomically(pathFromUtf8(file), wrapped->data(), wrapped->size())
                ? KeyExportEnd::Written
                : KeyExportEnd::NotWritten;
    return e;
}

KeyImport importKey(const std::string& file, const std::string& passphrase, const std::string& registerPath) {
    KeyImport i;
    std::string bytes;
    // An exported key is 113 bytes; anything far larger is none.
    if (readFileBounded(pathFromUtf8(file), 1024, bytes) != ReadFault::None) return i;
    UnwrapFault fault = UnwrapFault::None;
    const auto key = unwrapKey({bytes.begin(), bytes.end()}, passphrase, &fault);
    if (!key) {
        i.end = fault == UnwrapFault::WrongPassphrase ? KeyImportEnd::WrongPassphrase
                : fault == UnwrapFault::Limits        ? KeyImportEnd::TooMuchWork
                : fault == UnwrapFault::Unavailable   ? KeyImportEnd::CannotSeal
                                                      : KeyImportEnd::NotExported;
        return i;
    }
    i.keyId = key->id();
    if (!registry::storeDataKey(*key, &i.why)) {
        i.end = KeyImportEnd::NotStored;
        return i;
    }
    i.end = KeyImportEnd::Stored;
    i.resealing = sealEverything(registerPath);
    return i;
}

KeyRotate rotateKey(const std::string& registerPath) {
    KeyRotate r;
    if (!registry::dataKey().key) {
        r.why = registry::dataKey().why;
        return r;
    }
    // Another change would forget the key the unfinished one still needs.
    if (registry::dataKey().previous) {
        r.end = KeyRotateEnd::Unfinished;
        r.keyId = registry::dataKey().previous->id();
        return r;
    }
    const auto key = DataKey::generate();
    if (!key || !registry::storeDataKey(*key, &r.why)) {
        r.end = KeyRotateEnd::NotStored;
        return r;
    }
    r.keyId = key->id();
    r.end = KeyRotateEnd::Stored;
    r.resealing = sealEverything(registerPath);
    return r;
}

}  // namespace kelvane::jobs
