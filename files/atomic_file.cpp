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

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size) {
    const std::string temp = path + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(data, 1, size, f) == size && flushToDisk(f);
    if (std::fclose(f) != 0 || !written) {
        std::remove(temp.c_str());
        return false;
    }
    std::error_code error;
    std::filesystem::rename(temp, path, error);
    if (error) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace kelvane
