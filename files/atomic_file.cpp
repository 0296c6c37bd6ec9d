#include "files/atomic_file.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane {

namespace fs = std::filesystem;

namespace {

// Hops through links before a chain counts as a loop (the kernel's own limit).
constexpr int kMaxLinkHops = 40;
// Attempts at a free temporary name before giving up.
constexpr int kMaxTempAttempts = 64;

fs::path folderOf(const fs::path& path) {
    const fs::path folder = path.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

// A name nobody can guess ahead: planting a file or link there beforehand
// would need the name, and the exclusive create refuses one that exists anyway.
std::string randomSuffix() {
    static thread_local std::mt19937_64 generator([] {
        std::random_device device;
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::seed_seq seed{device(), device(), device(), static_cast<unsigned>(now), static_cast<unsigned>(now >> 32)};
        return std::mt19937_64(seed);
    }());
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string s;
    for (int i = 0; i < 12; ++i) s += digits[generator() % 36];
    return s;
}

std::function<std::string()>& temporaryNames() {
    static std::function<std::string()> names;
    return names;
}

fs::path tempNameBeside(const fs::path& target) {
    if (temporaryNames()) return folderOf(target) / temporaryNames()();
    fs::path name = fs::path(".") += target.filename();
    name += "." + randomSuffix() + ".tmp";
    return folderOf(target) / name;
}

struct Target {
    WriteFault fault = WriteFault::None;
    fs::path path;  // the file to replace, links followed
    bool exists = false;
#ifndef _WIN32
    struct stat status {};
#endif
};

#ifndef _WIN32

bool isFolder(const fs::path& folder, struct stat& st) {
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Follows links the way the kernel does under protected_symlinks = 1: a link
// in a sticky folder everyone may write into (/tmp) is followed only when it
// belongs to the one following it or to the folder's owner; a link someone
// else planted there would otherwise send the file anywhere its victim may write.
Target resolve(const fs::path& path) {
    Target t;
    fs::path current = path;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        struct stat st {};
        struct stat folder {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                t.fault = errno == ENOTDIR ? WriteFault::NoFolder : WriteFault::Failed;
            } else if (!isFolder(folderOf(current), folder)) {
                t.fault = WriteFault::NoFolder;
            } else if (hop > 0) {
                t.fault = WriteFault::NotRegular;  // a dangling link: there is no file to replace
            } else {
                t.path = current;
            }
            return t;
        }
        if (S_ISLNK(st.st_mode)) {
            if (!isFolder(folderOf(current), folder)) {
                t.fault = WriteFault::Failed;
                return t;
            }
            const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
            if (shared && st.st_uid != ::geteuid() && st.st_uid != folder.st_uid) {
                t.fault = WriteFault::UnsafeLink;
                return t;
            }
            std::error_code error;
            const fs::path next = fs::read_symlink(current, error);
            if (error) {
                t.fault = WriteFault::Failed;
                return t;
            }
            // /dev/stdout and its kind lead into /proc, to whatever a descriptor
            // holds: a terminal, a pipe, or a file that is not the user's to replace.
            if (next.string().rfind("/proc/", 0) == 0) {
                t.fault = WriteFault::NotRegular;
                return t;
            }
            current = next.is_absolute() ? next : folderOf(current) / next;
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            t.fault = WriteFault::NotRegular;
        } else if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(current.c_str(), W_OK) != 0) {
            // No write permission for anyone, or none for this user: root may
            // write a 0444 file, but its owner made it read-only on purpose.
            t.fault = WriteFault::ReadOnly;
        } else {
            t.path = current;
            t.exists = true;
            t.status = st;
        }
        return t;
    }
    t.fault = WriteFault::NotRegular;  // a loop of links
    return t;
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // a full disk, a file-size limit
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The bytes on the medium before the new name points at them: without this
// the rename can reach a stick or a crashed disk before the data does, and
// the old file is gone while the new one is empty.
bool syncToDisk(int fd) {
    // A file system that cannot sync (EINVAL) has nothing more to flush.
    return ::fsync(fd) == 0 || errno == EINVAL;
}

// The folder's entry for the new name reaches the medium too; a folder that
// cannot be synced has no more to do.
void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

#else  // _WIN32

Target resolve(const fs::path& path) {
    Target t;
    std::error_code error;
    fs::path current = path;
    if (fs::is_symlink(current, error)) {
        current = fs::canonical(current, error);
        if (error) {
            t.fault = WriteFault::NotRegular;
            return t;
        }
    }
    const fs::file_status status = fs::status(current, error);
    if (!fs::exists(status)) {
        t.fault = fs::is_directory(folderOf(current), error) ? WriteFault::None : WriteFault::NoFolder;
        t.path = current;
        return t;
    }
    if (!fs::is_regular_file(status)) {
        t.fault = WriteFault::NotRegular;
        return t;
    }
    const DWORD attributes = ::GetFileAttributesW(current.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        t.fault = WriteFault::ReadOnly;
        return t;
    }
    t.path = current;
    t.exists = true;
    return t;
}

bool writeAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
        const int n = ::_write(fd, p, chunk);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool syncToDisk(int fd) { return ::_commit(fd) == 0; }

#endif

}  // namespace

WriteFault checkWriteTarget(const fs::path& path) {
    if (path.empty()) return WriteFault::NotRegular;
    return resolve(path).fault;
}

WriteFault writeFileSafely(const fs::path& path, const void* data, std::size_t size, FileAccess access) {
    if (path.empty()) return WriteFault::NotRegular;
    const Target target = resolve(path);
    if (target.fault != WriteFault::None) return target.fault;

    // Created new, never through a link, readable by the owner only while it
    // fills; a name taken meanwhile is simply skipped.
    fs::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < kMaxTempAttempts && fd < 0; ++attempt) {
        temp = tempNameBeside(target.path);
#ifdef _WIN32
        fd = ::_wopen(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
#else
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
#endif
        if (fd < 0 && errno != EEXIST) return WriteFault::Failed;
    }
    if (fd < 0) return WriteFault::Failed;

    bool ok = writeAll(fd, data, size) && syncToDisk(fd);
#ifndef _WIN32
    if (ok) {
        // The final mode: a file that existed keeps its owner's choice (and,
        // when root replaces it, its owner); a new one stays the owner's alone.
        mode_t mode = S_IRUSR | S_IWUSR;
        if (target.exists) {
            if (target.status.st_uid != ::geteuid() || target.status.st_gid != ::getegid()) {
                // Where the writer may not give it away, the new file is the writer's.
                if (::fchown(fd, target.status.st_uid, target.status.st_gid) != 0) errno = 0;
            }
            if (access == FileAccess::KeepExisting) mode = target.status.st_mode & 07777;
        }
        ok = ::fchmod(fd, mode) == 0;
    }
    ok = ::close(fd) == 0 && ok;
#else
    (void)access;  // Windows keeps no owner-only mode bits: the folder's rights apply
    ok = ::_close(fd) == 0 && ok;
#endif
    if (ok) {
#ifdef _WIN32
        ok = ::MoveFileExW(temp.c_str(), target.path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
        ok = ::rename(temp.c_str(), target.path.c_str()) == 0;
        if (ok) syncFolder(folderOf(target.path));
#endif
    }
    if (!ok) {
        const int why = errno;
        std::error_code ignored;
        fs::remove(temp, ignored);
        errno = why;
        return WriteFault::Failed;
    }
    return WriteFault::None;
}

std::string writeFaultReason(WriteFault fault, int error) {
    switch (fault) {
    case WriteFault::None: return {};
    case WriteFault::NotRegular: return "not a regular file (a folder, a device, a FIFO or a link)";
    case WriteFault::ReadOnly: return "the file is read-only";
    case WriteFault::UnsafeLink: return "a link another user put in a folder everyone may write into";
    case WriteFault::NoFolder: return "no such folder";
    case WriteFault::Failed: break;
    }
    return error != 0 ? std::strerror(error) : "the system refused it";
}

ReadFault readFileBounded(const fs::path& path, std::size_t maxBytes, std::string& bytes) {
    bytes.clear();
#ifdef _WIN32
    // Looked at before opening: a device or a pipe is never opened.
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) return ReadFault::Failed;
    if (!fs::is_regular_file(status)) return ReadFault::NotRegular;
    const int fd = ::_wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return ReadFault::Failed;
    auto readSome = [fd](char* buffer, std::size_t n) {
        return static_cast<long long>(::_read(fd, buffer, static_cast<unsigned>(n)));
    };
    auto closeFile = [fd] { ::_close(fd); };
#else
    // Opened without waiting (a FIFO would wait for a writer) and looked at
    // through the open descriptor, so nothing can be swapped in between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return ReadFault::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return S_ISREG(st.st_mode) ? ReadFault::Failed : ReadFault::NotRegular;
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return ReadFault::TooLarge;
    }
    auto readSome = [fd](char* buffer, std::size_t n) {
        ssize_t got;
        do got = ::read(fd, buffer, n);
        while (got < 0 && errno == EINTR);
        return static_cast<long long>(got);
    };
    auto closeFile = [fd] { ::close(fd); };
#endif
    char chunk[4096];
    for (;;) {
        const long long got = readSome(chunk, sizeof chunk);
        if (got < 0) {
            closeFile();
            bytes.clear();
            return ReadFault::Failed;
        }
        if (got == 0) break;
        bytes.append(chunk, static_cast<std::size_t>(got));
        // A file that grows while it is read is still held to the limit.
        if (bytes.size() > maxBytes) {
            closeFile();
            bytes.clear();
            return ReadFault::TooLarge;
        }
    }
    closeFile();
    return ReadFault::None;
}

bool makePrivateFolder(const fs::path& folder) {
    std::error_code error;
#ifdef _WIN32
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error)) return false;
#else
    // Each missing level is made owner-only as it is made: a parent made with
    // the umask's rights (0755) would let others list what the next program
    // keeps there.
    std::vector<fs::path> missing;
    for (fs::path p = folder; !p.empty() && !fs::exists(fs::symlink_status(p, error)); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto level = missing.rbegin(); level != missing.rend(); ++level)
        if (::mkdir(level->c_str(), S_IRWXU) != 0 && errno != EEXIST) return false;
    if (!fs::is_directory(folder, error)) return false;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return false;
    if ((st.st_mode & 077) != 0 && st.st_uid == ::geteuid()) ::chmod(folder.c_str(), st.st_mode & 07700);
#endif
    return true;
}

fs::path pathFromUtf8(const std::string& utf8) { return fs::u8path(utf8); }

namespace detail {
void setTemporaryNamesForTests(std::function<std::string()> name) { temporaryNames() = std::move(name); }
}  // namespace detail

std::string pathToUtf8(const fs::path& path) { return path.u8string(); }

}  // namespace kelvane
