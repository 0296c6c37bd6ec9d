#pragma once
// The firmware file: "Orva" followed by up to 122,880 image bytes.
#include "bootloader/upgrade_state.h"
#include "bootloader/upgrade_report.h"

#include <string>

namespace kelvane::bootloader {

constexpr const char* kFirmwareFileName = "4817_05.dat";

// Reads kFirmwareFileName from the working directory into a fresh image
// buffer of 0xFF bytes. False (message shown, nothing open) when the file
// cannot be opened or does not begin with the signature.
bool LoadFirmwareImage(UpgradeState& state, UpgradeReport& view);
// The same from a given path (the messages still name the fixed file).
bool loadFirmwareImageFrom(const std::string& path, UpgradeState& state, UpgradeReport& view);

}  // namespace kelvane::bootloader
