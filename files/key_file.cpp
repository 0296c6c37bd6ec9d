#include "files/key_file.h"

#include "files/atomic_file.h"

#include <cerrno>
#include <fstream>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane {

namespace {
constexpr std::size_t kMaxKeyFile = 256;  // the key, blanks and a line end

KeyFileRead fault(KeyFileFault why) {
    KeyFileRead r;
    r.fault = why;
    return r;
}
}  // namespace

KeyFileRead readKeyFile(const std::filesystem::path& path, bool create) {
    std::string text;
#ifndef _WIN32
    // Opened without following a link and without blocking, then checked on
    // what was opened, so nothing can be swapped in between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT && create) {
            // Made exclusively: of two programs starting at once, one makes
            // the key and both use it.
            auto key = DataKey::generate();
            if (!key) return fault(KeyFileFault::Failed);
            const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (out >= 0) {
                std::string text = key->hex() + "\n";
                const bool written =
                    ::write(out, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(out) == 0;
                wipeSecret(text.data(), text.size());
                ::close(out);
                if (!written) {
                    ::unlink(path.c_str());
                    return fault(KeyFileFault::Failed);
                }
            } else if (errno != EEXIST) {
                return fault(KeyFileFault::Failed);
            }
            KeyFileRead r = readKeyFile(path, false);  // what is there now, whoever made it
            r.created = r.key && *r.key == *key;
            return r;
        }
        return fault(errno == ENOENT  ? KeyFileFault::Missing
                     : errno == ELOOP ? KeyFileFault::NotRegular
                                      : KeyFileFault::Failed);
    }
    struct stat st {};
    KeyFileFault refused = KeyFileFault::None;
    if (::fstat(fd, &st) != 0)
        refused = KeyFileFault::Failed;
    else if (!S_ISREG(st.st_mode))
        refused = KeyFileFault::NotRegular;
    else if (st.st_uid != ::geteuid())
        refused = KeyFileFault::NotOwner;
    else if ((st.st_mode & 077) != 0)
        refused = KeyFileFault::NotPrivate;
    if (refused == KeyFileFault::None) {
        char buffer[kMaxKeyFile + 1];
        ssize_t n = 0;
        std::size_t got = 0;
        while (got < sizeof buffer && (n = ::read(fd, buffer + got, sizeof buffer - got)) > 0)
            got += static_cast<std::size_t>(n);
        if (n < 0)
            refused = KeyFileFault::Failed;
        else if (got > kMaxKeyFile)
            refused = KeyFileFault::NotAKey;
        else
            text.assign(buffer, got);
        wipeSecret(buffer, sizeof buffer);
    }
    ::close(fd);
    if (refused != KeyFileFault::None) return fault(refused);
#else
    const ReadFault read = readFileBounded(path, kMaxKeyFile, text);
    if (read == ReadFault::Failed && create && !std::filesystem::exists(path)) {
        auto key = DataKey::generate();
        if (!key || !writeKeyFile(path, *key)) return fault(KeyFileFault::Failed);
        return readKeyFile(path, false);
    }
    if (read == ReadFault::NotRegular) return fault(KeyFileFault::NotRegular);
    if (read == ReadFault::TooLarge) return fault(KeyFileFault::NotAKey);
    if (read != ReadFault::None) return fault(KeyFileFault::Missing);
#endif
    KeyFileRead r;
    DataKey::TextFault why = DataKey::TextFault::None;
    r.key = DataKey::fromText(text, &why);
    wipeSecret(text.data(), text.size());
    if (!r.key)
        r.fault = why == DataKey::TextFault::Length           ? KeyFileFault::NotAKey
                  : why == DataKey::TextFault::NotHexadecimal ? KeyFileFault::NotHexadecimal
                                                              : KeyFileFault::Failed;
    return r;
}

bool writeKeyFile(const std::filesystem::path& path, const DataKey& key) {
    std::string text = key.hex() + "\n";
    const bool written = writeFileAtomically(path, text.data(), text.size());
    wipeSecret(text.data(), text.size());
    return written;
}

std::string keyFileFaultText(KeyFileFault why) {
    switch (why) {
    case KeyFileFault::None: return {};
    case KeyFileFault::Missing: return "there is no such file";
    case KeyFileFault::NotRegular: return "it is not a regular file";
    case KeyFileFault::NotPrivate: return "others may read it (it must be 0600)";
    case KeyFileFault::NotOwner: return "it belongs to another user";
    case KeyFileFault::NotAKey: return "it holds no key: a key file holds 64 hexadecimal digits on one line";
    case KeyFileFault::NotHexadecimal:
        return "it holds a character that is no hexadecimal digit: a key file holds 64 hexadecimal digits on one line";
    case KeyFileFault::Failed: break;
    }
    return "it cannot be read or made";
}

}  // namespace kelvane
