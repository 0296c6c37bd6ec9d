// kvtool key: where the data key is, and moving it between computers.
//   key status                 where the key lives, its id, what it seals
//   key export FILE            the key wrapped with a passphrase (Argon2id)
//   key import FILE            that key into the keychain (or --key-file)
//   key rotate                 a new key; everything local is sealed again
// The passphrase is asked on the terminal without echo, or read from the
// first line of --passphrase-file for scripts.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/terminal.h"

#include "files/atomic_file.h"
#include "files/sealing.h"
#include "registry/backup_files.h"
#include "registry/building_register.h"
#include "registry/key_store.h"

#include <iostream>
#include <string>

#ifndef _WIN32
#include <termios.h>
#include <unistd.h>
#endif

namespace kelvane::cli {

namespace {

constexpr std::size_t kMinPassphrase = 8;
constexpr std::size_t kMaxPassphraseFile = 4096;

// Clears what it holds when it goes.
struct Secret {
    std::string text;
    ~Secret() { kelvane::wipeSecret(text.data(), text.size()); }
};

bool askHidden(const std::string& prompt, std::string& out) {
    std::cerr << prompt << std::flush;
#ifndef _WIN32
    termios old{};
    const bool terminal = ::tcgetattr(0, &old) == 0;
    if (terminal) {
        termios quiet = old;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        ::tcsetattr(0, TCSAFLUSH, &quiet);
    }
    const bool got = static_cast<bool>(std::getline(std::cin, out));
    if (terminal) ::tcsetattr(0, TCSAFLUSH, &old);
#else
    const bool got = static_cast<bool>(std::getline(std::cin, out));
#endif
    std::cerr << '\n';
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return got;
}

// The passphrase, or nothing after saying why. Asked twice when it is new.
std::optional<std::string> passphrase(const Tool& tool, bool confirm) {
    Secret s;
    if (tool.args.has("--passphrase-file")) {
        const std::string path = tool.args.value("--passphrase-file");
        if (kelvane::readFileBounded(kelvane::pathFromUtf8(path), kMaxPassphraseFile, s.text) != kelvane::ReadFault::None) {
            tool.error(path, "cannot be read");
            return std::nullopt;
        }
        s.text = s.text.substr(0, s.text.find_first_of("\r\n"));
    } else {
        if (!isTerminal(0)) {
            tool.error("", "the passphrase is asked on a terminal; give --passphrase-file without one");
            return std::nullopt;
        }
        Secret again;
        if (!askHidden("Passphrase: ", s.text) || (confirm && !askHidden("Passphrase again: ", again.text))) {
            tool.error("", "no passphrase");
            return std::nullopt;
        }
        if (confirm && again.text != s.text) {
            tool.error("", "the passphrases differ");
            return std::nullopt;
        }
    }
    if (confirm && s.text.size() < kMinPassphrase) {
        tool.error("", "the passphrase needs at least " + std::to_string(kMinPassphrase) + " characters");
        return std::nullopt;
    }
    return s.text;
}

// Seals the register and the backups again with the key now stored: the
// register does it when it opens with the previous key beside the new one.
// True when nothing is left under the previous key.
bool sealEverything(const Tool& tool) {
    namespace registry = kelvane::registry;
    const registry::KeyState& state = registry::reloadDataKey();
    if (!state.key) {
        tool.error("", "the key cannot be read back: " + state.why);
        return false;
    }
    bool complete = true;
    const std::string path =
        tool.args.has("--register") ? tool.args.value("--register") : registry::Register::defaultPath();
    if (registry::Register::available()) {
        registry::Register reg;
        if (!reg.open(path)) {
            tool.error(path, reg.error());
            complete = false;
        } else if (!reg.imagesNote().empty()) {
            tool.error(path, reg.imagesNote());
            complete = false;
        } else {
            tool.result("register " + path + ": sealed with key " + state.key->id());
        }
    }
    for (const std::string& folder : registry::backupFolders()) {
        const kelvane::FolderSealing done = registry::sealBackups(folder);
        if (done.sealed + done.resealed > 0)
            tool.result("backups " + folder + ": " + std::to_string(done.sealed + done.resealed) + " sealed");
        for (const std::string& kept : done.kept) tool.error(kept, "kept as it is");
        complete = complete && done.kept.empty();
    }
    if (complete)
        registry::forgetPreviousKey();
    else
        tool.error("", "the previous key is kept beside the new one until everything is sealed again");
    return complete;
}

int status(const Tool& tool) {
    const auto& state = kelvane::registry::dataKey();
    if (!state.key) {
        tool.error("", "no key: " + state.why);
        return kFileError;
    }
    tool.result("key " + state.key->id() + " in " + state.source);
    if (state.previous) tool.result("previous key " + state.previous->id() + " (a change not yet finished)");
    return kDone;
}

int exportKey(const Tool& tool, const std::string& file) {
    const auto& state = kelvane::registry::dataKey();
    if (!state.key) {
        tool.error("", "no key to export: " + state.why);
        return kFileError;
    }
    const auto secret = passphrase(tool, true);
    if (!secret) return kUsage;
    const auto wrapped = kelvane::wrapKey(*state.key, *secret);
    if (!wrapped || !kelvane::writeFileAtomically(kelvane::pathFromUtf8(file), wrapped->data(), wrapped->size())) {
        tool.error(file, "not written");
        return kFileError;
    }
    tool.result(file + ": key " + state.key->id() + ", wrapped with the passphrase");
    return kDone;
}

int importKey(const Tool& tool, const std::string& file) {
    std::string bytes;
    if (kelvane::readFileBounded(kelvane::pathFromUtf8(file), 1024, bytes) != kelvane::ReadFault::None) {
        tool.error(file, "cannot be read");
        return kFileError;
    }
    const auto secret = passphrase(tool, false);
    if (!secret) return kUsage;
    kelvane::UnwrapFault fault = kelvane::UnwrapFault::None;
    const auto key = kelvane::unwrapKey({bytes.begin(), bytes.end()}, *secret, &fault);
    if (!key) {
        tool.error(file, fault == kelvane::UnwrapFault::WrongPassphrase ? "wrong passphrase, or the file is damaged"
                         : fault == kelvane::UnwrapFault::Limits        ? "asks for more work than a key file may"
                         : fault == kelvane::UnwrapFault::Unavailable   ? "this build cannot encrypt"
                                                                        : "not an exported key");
        return kFileError;
    }
    std::string why;
    if (!kelvane::registry::storeDataKey(*key, &why)) {
        tool.error("", "the key is not stored: " + why);
        return kFileError;
    }
    tool.result("key " + key->id() + " stored");
    return sealEverything(tool) ? kDone : kFileError;
}

int rotate(const Tool& tool) {
    const auto& state = kelvane::registry::dataKey();
    if (!state.key) {
        tool.error("", "no key to replace: " + state.why);
        return kFileError;
    }
    const auto key = kelvane::DataKey::generate();
    std::string why;
    if (!key || !kelvane::registry::storeDataKey(*key, &why)) {
        tool.error("", "the new key is not stored: " + why);
        return kFileError;
    }
    tool.result("new key " + key->id() + " stored");
    return sealEverything(tool) ? kDone : kFileError;
}

}  // namespace

int keyCommand(const Tool& tool) {
    const auto& words = tool.args.positional;
    const std::string what = words.empty() ? "" : words[0];
    const bool withFile = what == "export" || what == "import";
    if ((withFile && words.size() != 2) || (!withFile && words.size() != 1)) {
        tool.error("", format(tool.text(kelvane::texts::ToolText::UsageError),
                              std::string("key needs status, export FILE, import FILE or rotate")));
        return kUsage;
    }
    if (what == "status") return status(tool);
    if (what == "export") return exportKey(tool, words[1]);
    if (what == "import") return importKey(tool, words[1]);
    if (what == "rotate") return rotate(tool);
    tool.error("", format(tool.text(kelvane::texts::ToolText::UsageError), "unknown key command " + what));
    return kUsage;
}

}  // namespace kelvane::cli
