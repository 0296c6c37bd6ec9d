// kvtool key: where the data key is, and moving it between computers.
//   key status                 where the key lives, its id, what it seals
//   key export FILE            the key wrapped with a passphrase (Argon2id)
//   key import FILE            that key into the keychain (or --key-file)
//   key rotate                 a new key; everything local is sealed again
//   key to-keychain            the key from the own key file into the keychain
// The passphrase is asked on the terminal without echo, or read from the
// first line of --passphrase-file for scripts.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/terminal.h"

#include "files/atomic_file.h"
#include "files/sealing.h"
#include "jobs/key_transfer.h"
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

namespace jobs = kelvane::jobs;

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
        if (kelvane::readFileBounded(kelvane::pathFromUtf8(path), jobs::kMaxPassphraseFile, s.text) !=
            kelvane::ReadFault::None) {
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
    if (confirm && jobs::checkNewPassphrase(s.text, s.text) == jobs::PassphraseFault::TooShort) {
        tool.error("", "the passphrase needs at least " + std::to_string(jobs::kMinPassphrase) + " characters");
        return std::nullopt;
    }
    return s.text;
}

std::string registerPath(const Tool& tool) {
    return tool.args.has("--register") ? tool.args.value("--register") : kelvane::registry::Register::defaultPath();
}

// What sealing everything again with the stored key did. True when nothing
// is left under the previous key.
bool saySealed(const Tool& tool, const jobs::Resealing& r, const std::string& path, const std::string& keyId) {
    if (!r.readBack) {
        tool.error("", "the key cannot be read back: " + r.why);
        return false;
    }
    if (!r.registerSealed)
        tool.error(path, r.registerWhy);
    else if (kelvane::registry::Register::available())
        tool.result("register " + path + ": sealed with key " + keyId);
    for (const auto& [folder, count] : r.folders)
        tool.result("backups " + folder + ": " + std::to_string(count) + " sealed");
    for (const std::string& kept : r.kept) tool.error(kept, "kept as it is");
    if (!r.complete())
        tool.error("", "the previous key is kept beside the new one until everything is sealed again");
    else if (r.companyWaits)
        tool.result("the previous key is kept until the next sync seals the company register's images with the new one");
    return r.complete();
}

int status(const Tool& tool) {
    const jobs::KeyStatus s = jobs::keyStatus();
    if (!s.keyId) {
        tool.error("", "no key: " + s.why);
        return kFileError;
    }
    tool.result("key " + *s.keyId + " in " + (s.keyFile.empty() ? "the keychain" : "the key file " + s.keyFile));
    kelvane::registry::takeKeyMadeNote();  // the line above says where it is
    if (s.ownFile) tool.result(tool.text(kelvane::texts::ToolText::KeyOwnFileNote));
    if (s.keychainFree) tool.result(tool.text(kelvane::texts::ToolText::KeyMovable));
    if (s.previousId) tool.result("previous key " + *s.previousId + " (a change not yet finished)");
    return kDone;
}

int toKeychain(const Tool& tool) {
    using kelvane::texts::ToolText;
    const jobs::KeyMove m = jobs::moveKeyToKeychain();
    switch (m.end) {
    case jobs::KeyMoveEnd::Moved:
        tool.result(format(format(tool.text(ToolText::KeyMoved), m.keyId), m.file));
        return kDone;
    case jobs::KeyMoveEnd::NotInOwnFile:
        tool.error("", format(tool.text(ToolText::KeyNotMoved),
                              std::string("the key is not in the own key file ") + kelvane::registry::ownKeyFile()));
        return kFileError;
    case jobs::KeyMoveEnd::NotMoved: tool.error("", format(tool.text(ToolText::KeyNotMoved), m.why)); return kFileError;
    }
    return kFileError;
}

int exportKey(const Tool& tool, const std::string& file) {
    const jobs::KeyStatus s = jobs::keyStatus();
    if (!s.keyId) {
        tool.error("", "no key to export: " + s.why);
        return kFileError;
    }
    const auto secret = passphrase(tool, true);
    if (!secret) return kUsage;
    const jobs::KeyExport e = jobs::exportKey(file, *secret);
    if (e.end != jobs::KeyExportEnd::Written) {
        tool.error(file, "not written");
        return kFileError;
    }
    tool.result(file + ": key " + e.keyId + ", wrapped with the passphrase");
    return kDone;
}

int importKey(const Tool& tool, const std::string& file) {
    std::string bytes;
    // Said before the passphrase is asked.
    if (kelvane::readFileBounded(kelvane::pathFromUtf8(file), 1024, bytes) != kelvane::ReadFault::None) {
        tool.error(file, "cannot be read");
        return kFileError;
    }
    const auto secret = passphrase(tool, false);
    if (!secret) return kUsage;
    const std::string path = registerPath(tool);
    const jobs::KeyImport i = jobs::importKey(file, *secret, path);
    switch (i.end) {
    case jobs::KeyImportEnd::Stored: break;
    case jobs::KeyImportEnd::Unreadable: tool.error(file, "cannot be read"); return kFileError;
    case jobs::KeyImportEnd::WrongPassphrase:
        tool.error(file, "wrong passphrase, or the file is damaged");
        return kFileError;
    case jobs::KeyImportEnd::TooMuchWork: tool.error(file, "asks for more work than a key file may"); return kFileError;
    case jobs::KeyImportEnd::CannotSeal: tool.error(file, "this build cannot encrypt"); return kFileError;
    case jobs::KeyImportEnd::NotExported: tool.error(file, "not an exported key"); return kFileError;
    case jobs::KeyImportEnd::NotStored: tool.error("", "the key is not stored: " + i.why); return kFileError;
    }
    tool.result("key " + i.keyId + " stored");
    return saySealed(tool, i.resealing, path, i.keyId) ? kDone : kFileError;
}

int rotate(const Tool& tool) {
    const std::string path = registerPath(tool);
    const jobs::KeyRotate r = jobs::rotateKey(path);
    switch (r.end) {
    case jobs::KeyRotateEnd::Stored: break;
    case jobs::KeyRotateEnd::NoKey: tool.error("", "no key to replace: " + r.why); return kFileError;
    case jobs::KeyRotateEnd::NotStored: tool.error("", "the new key is not stored: " + r.why); return kFileError;
    case jobs::KeyRotateEnd::Unfinished:
        tool.error("", "the previous change of key (from " + r.keyId +
                           ") is not finished: sync with the company register first (kvtool register sync)");
        return kFileError;
    }
    tool.result("new key " + r.keyId + " stored");
    return saySealed(tool, r.resealing, path, r.keyId) ? kDone : kFileError;
}

}  // namespace

int keyCommand(const Tool& tool) {
    const auto& words = tool.args.positional;
    const std::string what = words.empty() ? "" : words[0];
    const bool withFile = what == "export" || what == "import";
    if ((withFile && words.size() != 2) || (!withFile && words.size() != 1)) {
        tool.error("", format(tool.text(kelvane::texts::ToolText::UsageError),
                              std::string("key needs status, export FILE, import FILE, rotate or to-keychain")));
        return kUsage;
    }
    if (what == "status") return status(tool);
    if (what == "export") return exportKey(tool, words[1]);
    if (what == "import") return importKey(tool, words[1]);
    if (what == "rotate") return rotate(tool);
    if (what == "to-keychain") return toKeychain(tool);
    tool.error("", format(tool.text(kelvane::texts::ToolText::UsageError), "unknown key command " + what));
    return kUsage;
}

}  // namespace kelvane::cli
