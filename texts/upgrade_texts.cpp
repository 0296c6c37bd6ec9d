#include "texts/upgrade_texts.h"

#include "link/messages.h"
#include "texts/language_table.h"
#include "texts/link_messages.h"

namespace kelvane::texts::upgrade {

std::vector<std::string> statusPieces(const bootloader::UpgradeStatus& status) {
    using bootloader::UpgradeMessage;
    switch (status.message) {
    case UpgradeMessage::NoFile: return {kNoFile};
    case UpgradeMessage::BadFile: return {kBadFile};
    case UpgradeMessage::PortBusy: return {kPortBusy};
    case UpgradeMessage::WrongDevice: return {kWrongDevice};
    case UpgradeMessage::Identity:
        return {kId,
                std::to_string(status.id),
                kSerial,
                std::to_string(status.serial),
                kFirmwareVersion,
                std::to_string(status.firmware)};
    case UpgradeMessage::Waiting: return {kWaiting};
    case UpgradeMessage::BootloaderVersion:
        return {kBootloaderVersion, std::to_string(status.major), ".", std::to_string(status.minor)};
    case UpgradeMessage::Programming: return {kProgramming};
    case UpgradeMessage::Done: return {kDone};
    case UpgradeMessage::FlashError: return {kFlashError};
    }
    return {};
}

std::string statusText(const bootloader::UpgradeStatus& status) {
    std::string line;
    for (const std::string& piece : statusPieces(status)) line += piece;
    return line;
}

std::string openFailureDetail(link::OpenFailure failure, bool onLinux) {
    switch (failure) {
    case link::OpenFailure::NoSuchPort: return kPortMissing;
    case link::OpenFailure::Busy: return kPortHeld;
    case link::OpenFailure::NoPermission:
        return onLinux ? std::string(kPortNoPermission) + "\n" + kDialoutFix : kPortNoPermission;
    case link::OpenFailure::Unreachable:
    case link::OpenFailure::NotTrusted:
    case link::OpenFailure::NoTls:
    case link::OpenFailure::GatewayRefused:
    case link::OpenFailure::FixedSpeed:
        return texts::messageText(link::openFailureMessages(failure, onLinux).front(), kPolish);
    case link::OpenFailure::None:
    case link::OpenFailure::Unknown: break;
    }
    return {};
}

}  // namespace kelvane::texts::upgrade
