#include "files/sealed_files.h"

#include "files/atomic_file.h"

#include <fstream>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane {

namespace fs = std::filesystem;

namespace {
std::mutex providerLock;
SealedFileKeyProvider& providerSlot() {
    static SealedFileKeyProvider provider;
    return provider;
}
constexpr std::size_t kMaxSealedFile = kImageSize + kMaxDescriptionBytes + kSealedFileHeader + kSealOverhead;

std::optional<std::vector<std::uint8_t>> readBounded(const fs::path& path) {
    std::string bytes;
    if (readFileBounded(path, kMaxSealedFile, bytes) != ReadFault::None) return std::nullopt;
    std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
    wipeSecret(bytes.data(), bytes.size());
    return out;
}
}  // namespace

void setSealedFileKeyProvider(SealedFileKeyProvider provider) {
    std::lock_guard<std::mutex> guard(providerLock);
    providerSlot() = std::move(provider);
}

SealedFileKeys sealedFileKeys() {
    SealedFileKeyProvider provider;
    {
        std::lock_guard<std::mutex> guard(providerLock);
        provider = providerSlot();
    }
    return provider ? provider() : SealedFileKeys{};
}

std::optional<std::vector<std::uint8_t>> openSealedBytes(const std::vector<std::uint8_t>& file,
                                                         const SealedFileKeys& keys, OpenFault* fault) {
    OpenFault why = keys.key ? OpenFault::None : OpenFault::OtherKey;
    std::optional<std::vector<std::uint8_t>> opened;
    if (keys.key) opened = openFile(*keys.key, file, &why);
    if (!opened && why == OpenFault::OtherKey && keys.previous) opened = openFile(*keys.previous, file, &why);
    if (fault) *fault = why;
    return opened;
}

bool saveSealedDataFile(const fs::path& path, const DataKey& key, const Image& image,
                        const std::string& descriptionUtf8, WriteFault* fault) {
    std::vector<std::uint8_t> plain = writeDataFile(image, descriptionUtf8);
    const auto sealed = sealFile(key, plain);
    WriteFault result = sealed.empty() ? WriteFault::Failed : writeFileSafely(path, sealed.data(), sealed.size());
    if (result == WriteFault::None) {
        const auto back = readBounded(path);
        const auto opened = back ? openFile(key, *back) : std::nullopt;
        if (!opened || *opened != plain) result = WriteFault::Failed;
    }
    wipeSecret(plain.data(), plain.size());
    if (fault) *fault = result;
    return result == WriteFault::None;
}

bool removeOverwritten(const fs::path& path) {
    std::error_code error;
    const auto size = fs::file_size(path, error);
    if (!error && size > 0) {
#ifndef _WIN32
        // A link is never followed, and a file with a second name keeps its
        // bytes: only the name is removed.
        const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1) {
            const std::vector<char> zeros(static_cast<std::size_t>(size), '\0');
            const bool written = ::write(fd, zeros.data(), zeros.size()) == static_cast<ssize_t>(zeros.size());
            if (written) ::fsync(fd);
        }
        if (fd >= 0) ::close(fd);
#else
        // The link itself is opened, never what it points at, and only a
        // plain file with no other name is overwritten: a link or a second
        // name planted in the backups' folder would otherwise have someone
        // else's file zeroed.
        const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION info{};
            const bool plain = ::GetFileInformationByHandle(file, &info) &&
                               !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
                               info.nNumberOfLinks == 1;
            const std::vector<char> zeros(static_cast<std::size_t>(size), '\0');
            DWORD written = 0;
            if (plain && ::WriteFile(file, zeros.data(), static_cast<DWORD>(zeros.size()), &written, nullptr) &&
                written == zeros.size())
                ::FlushFileBuffers(file);
            ::CloseHandle(file);
        }
#endif
    }
    return fs::remove(path, error);
}

FolderSealing sealFolder(const fs::path& folder, const SealedFileKeys& keys,
                         const std::function<bool(const std::string& name)>& isBackup) {
    FolderSealing result;
    if (!keys.key) return result;
    std::error_code error;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::error_code ignored;
        if (entry.is_regular_file(ignored) && !entry.is_symlink(ignored) && isBackup(pathToUtf8(entry.path().filename())))
            files.push_back(entry.path());
    }
    const auto keep = [&](const fs::path& p, const std::string& why) {
        result.kept.push_back(pathToUtf8(p) + ": " + why);
    };
    for (const fs::path& path : files) {
        const auto bytes = readBounded(path);
        if (!bytes) {
            keep(path, "cannot be read");
            continue;
        }
        if (isSealedFile(bytes->data(), bytes->size())) {
            if (sealedFileKeyId(*bytes) == keys.key->id()) continue;
            OpenFault fault = OpenFault::None;
            const auto opened = keys.previous ? openFile(*keys.previous, *bytes, &fault) : std::nullopt;
            const auto data = opened ? readDataFile(*opened) : std::nullopt;
            if (!data || !saveSealedDataFile(path, *keys.key, data->image, data->description)) {
                keep(path, fault == OpenFault::Damaged ? "damaged" : "sealed with another key");
                continue;
            }
            ++result.resealed;
            continue;
        }
        const auto data = readDataFile(*bytes);
        if (path.extension() != ".kvd") {
            // A plain file under a sealed name (a backup opened and saved
            // again in the window) is sealed where it is.
            if (data && saveSealedDataFile(path, *keys.key, data->image, data->description))
                ++result.sealed;
            else
                keep(path, "not a data file");
            continue;
        }
        fs::path sealedPath = path;
        sealedPath.replace_extension(kSealedExtension);
        if (!data || fs::exists(sealedPath, error)) {
            // A sealed copy already there is the same backup only when it
            // opens to these very bytes.
            const auto there = data ? readBounded(sealedPath) : std::nullopt;
            const auto opened = there ? openFile(*keys.key, *there) : std::nullopt;
            if (!opened || *opened != *bytes) {
                keep(path, data ? "a different sealed file has its name" : "not a data file");
                continue;
            }
        } else if (!saveSealedDataFile(sealedPath, *keys.key, data->image, data->description)) {
            keep(path, "the sealed copy could not be written");
            continue;
        }
        if (!removeOverwritten(path)) {
            keep(path, "sealed, but the plain file could not be removed");
            continue;
        }
        ++result.sealed;
    }
    return result;
}

}  // namespace kelvane
