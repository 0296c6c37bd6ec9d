#pragma once
// The firmware file: "Orva" followed by up to 122,880 image bytes.
#include "bootloader/upgrade_state.h"
#include "bootloader/upgrade_report.h"

#include <string>

namespace kelvane::bootloader {

constexpr const char* kFirmwareFileName = "4817_05.dat";

// Why a firmware file is refused.
enum class FirmwareFault {
    None,
    Missing,      // nothing of that name
    NotRegular,   // a folder, FIFO or device
    Unopenable,   // a file, but it cannot be opened (no permission, held locked by another program)
    NotFirmware,  // it does not begin with the signature
};
// Whether the refusal is that there is no file there at all, rather than a
// file that cannot be used.
inline bool firmwareFileMissing(FirmwareFault fault) {
    return fault == FirmwareFault::Missing || fault == FirmwareFault::NotRegular;
}

// The one check of a firmware file: the image read into a fresh buffer of
// 0xFF bytes in `state`, or why it is refused (nothing left open).
FirmwareFault readFirmwareFile(const std::string& path, UpgradeState& state);

// Reads kFirmwareFileName from the working directory into a fresh image
// buffer of 0xFF bytes. False (message shown, nothing open) when the file
// cannot be opened or does not begin with the signature.
bool LoadFirmwareImage(UpgradeState& state, UpgradeReport& view);
// The same from a given path (the messages still name the fixed file): NoFile
// when it cannot be opened, BadFile when it is not firmware.
bool loadFirmwareImageFrom(const std::string& path, UpgradeState& state, UpgradeReport& view);

}  // namespace kelvane::bootloader
