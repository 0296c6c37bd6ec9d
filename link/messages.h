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
    // A gateway's port (link/net_port.h): why it did not open, why its line ended
    GatewayUnreachable,     // nothing accepted the connection in time
    GatewayNotTrusted,      // its certificate was not verified against the CA file
    GatewayNoTls,           // this build has no TLS
    GatewayRefused,         // it did not confirm the line settings
    GatewayFixedSpeed,      // its line speed is fixed: a flash needs rfc2217://
    GatewayClosed,          // it closed the connection
    GatewaySilent,          // it stopped answering
    GatewaySettingRefused,  // it applied other settings than those asked for
    Unencrypted,            // the port's codes cross the network unencrypted
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
    case link::OpenFailure::Unreachable: return {Message::GatewayUnreachable};
    case link::OpenFailure::NotTrusted: return {Message::GatewayNotTrusted};
    case link::OpenFailure::NoTls: return {Message::GatewayNoTls};
    case link::OpenFailure::GatewayRefused: return {Message::GatewayRefused};
    case link::OpenFailure::FixedSpeed: return {Message::GatewayFixedSpeed};
    case link::OpenFailure::None:
    case link::OpenFailure::Unknown: break;
    }
    return {};
}

// What tells why a line that had opened ended (a gateway's); none for None.
inline std::vector<Message> lineFaultMessages(link::LineFault fault) {
    switch (fault) {
    case link::LineFault::Closed: return {Message::GatewayClosed};
    case link::LineFault::Silent: return {Message::GatewaySilent};
    case link::LineFault::SettingRefused: return {Message::GatewaySettingRefused};
    case link::LineFault::None: break;
    }
    return {};
}

}  // namespace kelvane::link
