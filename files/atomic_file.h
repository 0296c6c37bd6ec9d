#pragma once
// The one writer of every file the programs make: data files, CSV tables, the
// cards PDF and backups. A file is written completely or not at all, and the
// path cannot be turned against the user who writes it.
#include <cstddef>
#include <filesystem>
#include <functional>
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
WriteFault checkWriteTarget(const std::filesystem::path& path);

// What a replaced file's permissions become.
enum class FileAccess {
    KeepExisting,  // a file that existed keeps its mode (the user's own choice)
    OwnerOnly,     // readable and writable by its owner only, whatever was there
};

// Writes the bytes to a new temporary file beside the target (a random name,
// created exclusively, never through a link, readable by the owner only),
// syncs it to the medium, gives it the final mode and renames it over the
// target, so a failure never leaves the old file half-overwritten. A file that
// existed keeps its permissions unless `access` says OwnerOnly (and, where the
// writer may, its owner); a new one is readable and writable by its owner only.
// A link to a regular file stays a link and the file it names is replaced. On
// any fault the temporary file is removed and errno tells why it failed.
WriteFault writeFileSafely(const std::filesystem::path& path, const void* data, std::size_t size,
                           FileAccess access = FileAccess::KeepExisting);

// The same, true when written.
inline bool writeFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size) {
    return writeFileSafely(path, data, size) == WriteFault::None;
}

// Why a file was not written, in a few words for a message or a log
// ("not a regular file", ...); for Failed the system's own reason (`error`:
// the errno the writer left).
std::string writeFaultReason(WriteFault fault, int error);

// Why a file was not read.
enum class ReadFault {
    None,
    NotRegular,  // a folder, a FIFO, a device: refused before anything is read,
                 // so reading never blocks or runs without end
    TooLarge,    // more than the caller's limit
    Failed,      // missing, no permission, a read error
};
// The bytes of a regular file of at most maxBytes; `bytes` is left empty on a fault.
ReadFault readFileBounded(const std::filesystem::path& path, std::size_t maxBytes, std::string& bytes);

// Creates a folder (and any missing parents, each) only its owner may enter,
// and takes the rights of others from one of the user's that exists. False
// when it is not a folder then.
bool makePrivateFolder(const std::filesystem::path& folder);

// A path from text in UTF-8, as the windows and the command line hold it: on
// Windows it is never read in the ANSI code page.
std::filesystem::path pathFromUtf8(const std::string& utf8);
// The path as UTF-8 text, for messages.
std::string pathToUtf8(const std::filesystem::path& path);

namespace detail {
// For tests only: the temporary file's name (in the target's folder) comes
// from `name`, asked once per attempt, so a test can plant something at the
// very name the writer will try. An empty function restores the random names.
void setTemporaryNamesForTests(std::function<std::string()> name);
}  // namespace detail

}  // namespace kelvane
