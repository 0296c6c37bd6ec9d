#include "registry/key_store.h"

#include "files/atomic_file.h"
#include "files/key_file.h"
#include "files/sealed_files.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

#ifdef KELVANE_WITH_KEYCHAIN
#include <qt6keychain/keychain.h>
#endif

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <utility>

namespace kelvane::registry {

namespace {

const QString kService = QStringLiteral("Kelvane");
const QString kKeyName = QStringLiteral("data key");
const QString kPreviousName = QStringLiteral("previous data key");
// A keychain that does not answer (a prompt nobody sees, a hung service) is
// given up after this; the programs then go on without a key.
constexpr std::chrono::seconds kKeychainWait{20};

std::mutex lock;
std::string namedFile;
std::optional<KeyState> state;
std::optional<std::string> madeNote;  // the own key file this process made the key in

enum class Found { Key, Missing, Failed };

struct KeychainAnswer {
    Found found = Found::Failed;
    std::optional<DataKey> key;
    std::string why;
    bool absent = false;  // no keychain at all (no service answers), not one that refused
};

#ifdef KELVANE_WITH_KEYCHAIN
// Runs a keychain job to its end or the bound, whichever is first. A job
// still running at the bound deletes itself when it ends.
template <class JobType>
bool runJob(JobType* job, std::string* why) {
    if (!QCoreApplication::instance()) {
        delete job;
        *why = "the keychain needs a running program";
        return false;
    }
    auto done = std::make_shared<bool>(false);
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    QObject::connect(job, &QKeychain::Job::finished, job, [done, waiting] {
        *done = true;
        if (waiting) waiting->quit();
    });
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    job->start();
    if (!*done) {
        QTimer::singleShot(kKeychainWait, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!*done) {
        QObject::connect(job, &QKeychain::Job::finished, job, &QObject::deleteLater);
        *why = "the keychain did not answer";
        return false;
    }
    return true;
}

// No keychain service to ask: QtKeychain found no backend, or the session
// bus itself is missing (a server, an SSH session without a desktop).
bool keychainAbsent(const QKeychain::Job& job) {
    if (job.error() == QKeychain::NoBackendAvailable) return true;
    // A bus or service that is there but does not answer or refuses is no
    // absent keychain: it may hold a key.
    const QString text = job.errorString();
    for (const char* present : {"NoReply", "Timeout", "timed out", "AccessDenied", "denied"})
        if (text.contains(QLatin1String(present), Qt::CaseInsensitive)) return false;
    return job.error() == QKeychain::OtherError && (text.contains(QLatin1String("D-Bus"), Qt::CaseInsensitive) ||
                                                    text.contains(QLatin1String("DBus"), Qt::CaseInsensitive));
}

KeychainAnswer readKeychain(const QString& name) {
    KeychainAnswer a;
    auto* job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(name);
    if (!runJob(job, &a.why)) return a;
    std::unique_ptr<QKeychain::ReadPasswordJob> owned(job);
    if (job->error() == QKeychain::EntryNotFound) {
        a.found = Found::Missing;
        return a;
    }
    if (job->error() != QKeychain::NoError) {
        a.why = "the keychain refused: " + job->errorString().toStdString();
        a.absent = keychainAbsent(*job);
        return a;
    }
    // Shared with the job's own copy: wiped in place (data() would wipe a
    // copy of it).
    const QByteArray bytes = job->binaryData();
    a.key = DataKey::fromBytes(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               static_cast<std::size_t>(bytes.size()));
    wipeSecret(const_cast<char*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    a.found = a.key ? Found::Key : Found::Failed;
    if (!a.key) a.why = "the keychain holds something that is no key";
    return a;
}

bool writeKeychain(const QString& name, const DataKey& key, std::string* why) {
    auto* job = new QKeychain::WritePasswordJob(kService);
    job->setKey(name);
    const QByteArray bytes(reinterpret_cast<const char*>(key.bytes().data()), DataKey::kBytes);
    job->setBinaryData(bytes);
    if (!runJob(job, why)) return false;  // the job still runs and holds the copy
    // The copy the job shares, wiped once the job is done with it.
    wipeSecret(const_cast<char*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    std::unique_ptr<QKeychain::WritePasswordJob> owned(job);
    if (job->error() != QKeychain::NoError) {
        *why = "the keychain refused: " + job->errorString().toStdString();
        return false;
    }
    return true;
}

void deleteKeychain(const QString& name) {
    auto* job = new QKeychain::DeletePasswordJob(kService);
    job->setKey(name);
    std::string ignored;
    if (runJob(job, &ignored)) delete job;
}
#else
KeychainAnswer readKeychain(const QString&) { return {Found::Failed, std::nullopt, "no keychain in this build", true}; }
bool writeKeychain(const QString&, const DataKey&, std::string* why) {
    *why = "no keychain in this build";
    return false;
}
void deleteKeychain(const QString&) {}
#endif

// Sealed backups open wherever a data file is read, with this process's key.
const bool providerInstalled = [] {
    setSealedFileKeyProvider([] {
        const KeyState& s = dataKey();
        return SealedFileKeys{s.key, s.previous};
    });
    return true;
}();

bool keychainRefused() { return !qEnvironmentVariableIsEmpty("KELVANE_NO_KEYCHAIN"); }

std::string fileInForce() {
    if (!namedFile.empty()) return namedFile;
    return qEnvironmentVariable("KELVANE_KEY_FILE").toStdString();
}

std::string previousFile(const std::string& file) { return file + ".previous"; }

std::string ownFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() + "/Kelvane/data.key";
}

bool fileThere(const std::string& file) {
    std::error_code ignored;
    return std::filesystem::symlink_status(pathFromUtf8(file), ignored).type() != std::filesystem::file_type::not_found;
}

// The key from the user's own key file, made there when missing. Without it
// the program has no key, for the keychain's reason (`missing`, `keychainWhy`)
// or the file's.
KeyState fromOwnFile(const std::string& file, KeyMissing missing, const std::string& keychainWhy, bool keychainFree) {
    KeyState s;
    s.source = "the key file " + file;
    s.inOwnFile = true;
    s.keychainFree = keychainFree;
    const std::filesystem::path path = pathFromUtf8(file);
    if (!makePrivateFolder(path.parent_path())) {
        s.source = "the keychain";
        s.inOwnFile = false;
        s.why = keychainWhy + "; and the folder " + pathToUtf8(path.parent_path()) + " cannot be made";
        s.missing = missing == KeyMissing::None ? KeyMissing::KeychainFailed : missing;
        s.detail = keychainWhy;
        return s;
    }
    const KeyFileRead r = readKeyFile(path, true);
    if (!r.key) {
        s.why = "the key file " + file + " is refused: " + keyFileFaultText(r.fault);
        s.missing = KeyMissing::KeyFileRefused;
        s.fileFault = r.fault;
        s.detail = file;
        return s;
    }
    if (r.created) madeNote = file;
    s.key = r.key;
    s.previous = readKeyFile(pathFromUtf8(previousFile(file)), false).key;
    return s;
}

KeyState find() {
    KeyState s;
    const std::string file = fileInForce();
    if (!file.empty()) {
        s.source = "the key file " + file;
        const KeyFileRead r = readKeyFile(pathFromUtf8(file), true);
        if (!r.key) {
            s.why = "the key file " + file + " is refused: " + keyFileFaultText(r.fault);
            s.missing = KeyMissing::KeyFileRefused;
            s.fileFault = r.fault;
            s.detail = file;
            return s;
        }
        s.key = r.key;
        s.previous = readKeyFile(pathFromUtf8(previousFile(file)), false).key;
        return s;
    }
    s.source = "the keychain";
    if (!sealingAvailable()) {
        s.why = "this build cannot encrypt";
        s.missing = KeyMissing::CannotSeal;
        return s;
    }
    const std::string own = ownFile();
    const bool ownThere = fileThere(own);
    if (keychainRefused())
        return fromOwnFile(own, KeyMissing::KeychainOff, "the keychain is switched off (KELVANE_NO_KEYCHAIN)", false);
    KeychainAnswer a = readKeychain(kKeyName);
    if (a.found == Found::Missing && ownThere) return fromOwnFile(own, KeyMissing::None, {}, true);
    if (a.found == Found::Failed && (ownThere || a.absent))
        return fromOwnFile(own, KeyMissing::KeychainFailed, a.why, false);
    if (a.found == Found::Missing) {
        // First use: the key is made and kept, then read back, so a key the
        // keychain did not really keep is never used.
        auto made = DataKey::generate();
        std::string why;
        if (!made || !writeKeychain(kKeyName, *made, &why)) {
            s.why = "no key could be kept in the keychain: " + why;
            s.missing = KeyMissing::KeychainFailed;
            s.detail = why;
            return s;
        }
        a = readKeychain(kKeyName);
    }
    if (a.found != Found::Key) {
        s.why = a.why.empty() ? "the keychain holds no key" : a.why;
        s.missing = KeyMissing::KeychainFailed;
        s.detail = a.why;
        return s;
    }
    s.key = a.key;
    const KeychainAnswer previous = readKeychain(kPreviousName);
    if (previous.found == Found::Key) s.previous = previous.key;
    return s;
}

}  // namespace

void setKeyFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock);
    namedFile = path;
    state.reset();
}

std::string keyFile() {
    std::lock_guard<std::mutex> guard(lock);
    return fileInForce();
}

const KeyState& dataKey() {
    std::lock_guard<std::mutex> guard(lock);
    if (!state) state = find();
    return *state;
}

const KeyState& reloadDataKey() {
    std::lock_guard<std::mutex> guard(lock);
    state = find();
    return *state;
}

void setDataKey(const KeyState& s) {
    std::lock_guard<std::mutex> guard(lock);
    state = s;
}

bool storeDataKey(const DataKey& key, std::string* why) {
    std::lock_guard<std::mutex> guard(lock);
    const KeyState old = state ? *state : find();
    const std::string file = old.inOwnFile ? ownFile() : fileInForce();
    if (!file.empty()) {
        if (old.key && *old.key != key && !writeKeyFile(pathFromUtf8(previousFile(file)), *old.key)) {
            *why = "cannot write " + previousFile(file);
            return false;
        }
        if (!writeKeyFile(pathFromUtf8(file), key)) {
            *why = "cannot write " + file;
            return false;
        }
    } else {
        if (keychainRefused()) {
            *why = "the keychain is switched off (KELVANE_NO_KEYCHAIN)";
            return false;
        }
        if (old.key && *old.key != key && !writeKeychain(kPreviousName, *old.key, why)) return false;
        if (!writeKeychain(kKeyName, key, why)) return false;
        // Read back: only a key the keychain really holds counts as stored.
        const KeychainAnswer back = readKeychain(kKeyName);
        if (!back.key || *back.key != key) {
            *why = back.why.empty() ? "the keychain did not keep the key" : back.why;
            return false;
        }
    }
    state.reset();
    return true;
}

void forgetPreviousKey() {
    std::lock_guard<std::mutex> guard(lock);
    const std::string file = state && state->inOwnFile ? ownFile() : fileInForce();
    if (!file.empty()) {
        std::error_code ignored;
        std::filesystem::remove(pathFromUtf8(previousFile(file)), ignored);
    } else if (!keychainRefused()) {
        deleteKeychain(kPreviousName);
    }
    if (state) state->previous.reset();
}

std::string ownKeyFile() { return ownFile(); }

std::optional<std::string> takeKeyMadeNote() {
    std::lock_guard<std::mutex> guard(lock);
    return std::exchange(madeNote, std::nullopt);
}

bool moveKeyToKeychain(std::string* why) {
    std::lock_guard<std::mutex> guard(lock);
    const KeyState now = state ? *state : find();
    if (!now.inOwnFile || !now.key) {
        *why = "the key is not in the own key file";
        return false;
    }
    if (keychainRefused()) {
        *why = "the keychain is switched off (KELVANE_NO_KEYCHAIN)";
        return false;
    }
    const KeychainAnswer there = readKeychain(kKeyName);
    if (there.found == Found::Key && *there.key != *now.key) {
        *why = "the keychain holds another key already";
        return false;
    }
    if (there.found == Found::Failed) {
        *why = there.why;
        return false;
    }
    if (now.previous && !writeKeychain(kPreviousName, *now.previous, why)) return false;
    if (!writeKeychain(kKeyName, *now.key, why)) return false;
    const KeychainAnswer back = readKeychain(kKeyName);
    if (!back.key || *back.key != *now.key) {
        *why = back.why.empty() ? "the keychain did not keep the key" : back.why;
        return false;
    }
    // The copies in the files go: overwritten, synced, removed.
    const std::string file = ownFile();
    if (fileThere(previousFile(file))) removeOverwritten(pathFromUtf8(previousFile(file)));
    removeOverwritten(pathFromUtf8(file));
    state.reset();
    return true;
}

bool keychainBuilt() {
#ifdef KELVANE_WITH_KEYCHAIN
    return true;
#else
    return false;
#endif
}

}  // namespace kelvane::registry
