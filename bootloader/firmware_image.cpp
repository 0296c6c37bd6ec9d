#include "bootloader/firmware_image.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#ifdef __unix__
#include <sys/file.h>
#include <sys/stat.h>
#endif
#ifdef _WIN32
#include <share.h>
#endif

namespace kelvane::bootloader {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens an existing regular file for reading only and refuses one another
// program holds locked, as the exclusive open on Windows does.
File openExclusive(const std::string& path, FirmwareFault& fault) {
    // Only a regular file, and looked at before opening: opening a FIFO waits
    // for a writer, and the window would wait with it.
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        fault = FirmwareFault::Missing;
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(status)) {
        fault = FirmwareFault::NotRegular;
        return nullptr;
    }
    fault = FirmwareFault::Unopenable;
#ifdef _WIN32
    // No sharing: the open fails while another program has the file open.
    File f(_fsopen(path.c_str(), "rb", _SH_DENYRW));
#else
    File f(std::fopen(path.c_str(), "rb"));
#endif
#ifdef __unix__
    struct stat st {};
    if (f && (::fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode))) f.reset();
    if (f && ::flock(fileno(f.get()), LOCK_EX | LOCK_NB) != 0) f.reset();
#endif
    if (f) fault = FirmwareFault::None;
    return f;
}

}  // namespace

bool LoadFirmwareImage(UpgradeState& state, UpgradeReport& view) {
    return loadFirmwareImageFrom(kFirmwareFileName, state, view);
}

FirmwareFault readFirmwareFile(const std::string& path, UpgradeState& state) {
    state.image.reset();
    state.image = std::make_unique<std::vector<std::uint8_t>>(kImageSize, 0xFF);
    std::uint8_t* buf = state.image->data();

    FirmwareFault fault = FirmwareFault::None;
    File file = openExclusive(path, fault);
    if (!file) return fault;
    // The signature lands at the start of the buffer; the image is read over it.
    const std::size_t got = std::fread(buf, 1, 4, file.get());
    if (got < 4 || std::memcmp(buf, "Orva", 4) != 0) return FirmwareFault::NotFirmware;
    std::fread(buf, 1, kImageSize, file.get());
    return FirmwareFault::None;
}

bool loadFirmwareImageFrom(const std::string& path, UpgradeState& state, UpgradeReport& view) {
    const FirmwareFault fault = readFirmwareFile(path, state);
    if (fault == FirmwareFault::None) return true;
    showUpgradeMessage(view, fault == FirmwareFault::NotFirmware ? UpgradeMessage::BadFile : UpgradeMessage::NoFile);
    return false;
}

}  // namespace kelvane::bootloader
