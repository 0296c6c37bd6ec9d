#pragma once
// What the device link reports to the one who runs it, as codes. The link
// holds no texts: the program that shows a report looks up its own text for
// the code (KelvaneMini: its language table).
#include "link/open_failure.h"

#include <vector>

namespace kelvane::link {

enum class Message {
    PortOpenError,     // the port did not open
    PortStatus,        // the controller answered the probe: port name, ID, serial number, firmware
    TransferAborted,   // a transfer was cancelled or given up
    DownloadDone,      // a download completed
    UploadDone,        // an upload completed
    PortMissing,       // why a port did not open: nothing of that name
    PortHeld,          // ... another program (or a running transfer) holds it
    PortNoPermission,  // ... this user may not use it
    PortDialoutFix,    // how a Linux user gets the permission
    ProbeNoAnswer,     // nothing answered the probe: port name
    NoAnswer,          // no acknowledgement, or a download that never completed
    WaitingForLine,    // a transfer waits for the controller to finish sending
    LineBusy,          // the controller never stopped sending: nothing was done
    MayHoldNewBlocks,  // added after an upload ended early: the controller may hold some new blocks
    ThreadError,       // the transfer's thread could not be started
    BlocksMissing,     // printf format: how many blocks a download lacks (of 512); nothing was changed
    PortTried,         // the port that did not open: its name
    PortChooseHint,    // how the window's user chooses another port
};

// What tells why a port did not open, line by line: none when the system
// did not say; the dialout fix follows a missing permission where `onLinux`.
inline std::vector<Message> openFailureMessages(link::OpenFailure failure, bool onLinux) {
    switch (failure) {
    case link::OpenFailure::NoSuchPort: return {Message::PortMissing};
    case link::OpenFailure::Busy: return {Message::PortHeld};
    case link::OpenFailure::NoPermission:
        if (onLinux) return {Message::PortNoPermission, Message::PortDialoutFix};
        return {Message::PortNoPermission};
    case link::OpenFailure::None:
    case link::OpenFailure::Unknown: break;
    }
    return {};
}

}  // namespace kelvane::link
