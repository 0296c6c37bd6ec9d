#include "files/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kelvane {

namespace {

// The bytes on the medium before the new name points at them: without this
// the rename can reach a stick or a crashed disk before the data does, and
// the old file is gone while the new one is empty.
bool flushToDisk(std::FILE* f) {
    if (std::fflush(f) != 0) return false;
#ifdef _WIN32
    return ::_commit(::_fileno(f)) == 0;
#else
    // A file system that cannot sync (EINVAL) has nothing more to flush.
    return ::fsync(::fileno(f)) == 0 || errno == EINVAL;
#endif
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size, bool ownerOnly) {
    namespace fs = std::filesystem;
    std::error_code error;
    // A link is kept and the file it points at replaced, as writing in place would.
    fs::path target = path;
    if (fs::is_symlink(target, error)) {
        const fs::path resolved = fs::canonical(target, error);
        if (!error) target = resolved;
    }
    const std::string temp = target.string() + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
#ifndef _WIN32
    // The new file gets the old one's permissions before it holds anything: a
    // file its owner made private (it holds the controller's password and
    // codes) stays private.
    const fs::file_status old = fs::status(target, error);
    if (!error && fs::is_regular_file(old))
        fs::permissions(temp, old.permissions(), error);
    else if (ownerOnly)
        fs::permissions(temp, fs::perms::owner_read | fs::perms::owner_write, error);
    error.clear();
#endif
    const bool written = std::fwrite(data, 1, size, f) == size && flushToDisk(f);
    if (std::fclose(f) != 0 || !written) {
        std::remove(temp.c_str());
        return false;
    }
    fs::rename(temp, target, error);
    if (error) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace kelvane
