#pragma once
// The one writer of every file the programs make: data files, CSV tables, the
// cards PDF and backups. A file is written completely or not at all, and the
// path cannot be turned against the user who writes it.
#include <cstddef>
#include <filesystem>
#include <string>

namespace kelvane {

// Why a file was not written.
enum class WriteFault {
    None,
    NotRegular,  // something other than a regular file is there (a folder, a FIFO,
                 // a device, a dangling link): left as it was
    ReadOnly,    // an existing file nobody may write: left as it was
    UnsafeLink,  // a symbolic link in a folder others may write into, owned by
                 // someone else (the kernel's protected-symlinks rule)
    NoFolder,    // the folder it would go into does not exist or is not a folder
    Failed,      // creating, writing, syncing or renaming failed (a full disk,
                 // no permission); the old file is whole and nothing is left behind
};

// What writing to the path would meet, without writing: None when the target
// is a regular file that may be written, or nothing yet in an existing folder.
// A link is followed to its file under the rule above.
WriteFault CheckWriteTarget(const std::filesystem::path& path);

// Writes the bytes to a new temporary file beside the target (a random name,
// created exclusively, never through a link, readable by the owner only),
// syncs it to the medium, gives it the final mode and renames it over the
// target, so a failure never leaves the old file half-overwritten. A file that
// existed keeps its permissions (and, where the writer may, its owner); a new
// one is readable and writable by its owner only. A link to a regular file
// stays a link and the file it names is replaced. On any fault the temporary
// file is removed.
WriteFault WriteFileSafely(const std::filesystem::path& path, const void* data, std::size_t size);

// The same, true when written.
inline bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size) {
    return WriteFileSafely(path, data, size) == WriteFault::None;
}

// Why a file was not read.
enum class ReadFault {
    None,
    NotRegular,  // a folder, a FIFO, a device: refused before anything is read,
                 // so reading never blocks or runs without end
    TooLarge,    // more than the caller's limit
    Failed,      // missing, no permission, a read error
};
// The bytes of a regular file of at most maxBytes; `bytes` is left empty on a fault.
ReadFault ReadFileBounded(const std::filesystem::path& path, std::size_t maxBytes, std::string& bytes);

// Creates a folder (and its parents) only its owner may enter, and takes the
// rights of others from one that exists. False when it is not a folder then.
bool MakePrivateFolder(const std::filesystem::path& folder);

// A path from text in UTF-8, as the windows and the command line hold it: on
// Windows it is never read in the ANSI code page.
std::filesystem::path PathFromUtf8(const std::string& utf8);
// The path as UTF-8 text, for messages.
std::string PathToUtf8(const std::filesystem::path& path);

}  // namespace kelvane
