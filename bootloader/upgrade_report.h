#pragma once
// What the upgrade logic reports while it runs: the status line's message as
// a code with its numbers, the progress bar, the end of the worker's run.
// Each program makes its own text of a status (the window its Polish status
// line, kvtool a line in its language); tests record the codes.
#include "link/serial_line.h"

namespace kelvane::bootloader {

enum class UpgradeMessage {
    NoFile,             // the firmware file cannot be opened
    BadFile,            // it does not begin with the signature
    PortBusy,           // the port did not open (openFailure says why, where the system told)
    WrongDevice,        // the identity or the banner names another device type
    Identity,           // the controller's identity reply (id, serial, firmware)
    Waiting,            // no identity reply: waiting for the bootloader
    BootloaderVersion,  // the banner's version (major, minor)
    Programming,        // the blocks are being sent
    Done,               // every block accepted
    FlashError,         // the programming ended with an error
};

struct UpgradeStatus {
    UpgradeMessage message = UpgradeMessage::Done;
    int id = 0, serial = 0, firmware = 0;                     // Identity
    int major = 0, minor = 0;                                 // BootloaderVersion
    link::OpenFailure openFailure = link::OpenFailure::None;  // PortBusy
};

class UpgradeReport {
public:
    virtual ~UpgradeReport() = default;
    // The status line now says `status` (it replaces what was there).
    virtual void showStatus(const UpgradeStatus& status) = 0;
    virtual void setProgressRange(int low, int high) = 0;
    virtual void setProgress(int position) = 0;
    // The worker ended by itself (the button goes back to "Start").
    virtual void runEnded() = 0;
};

inline void showUpgradeMessage(UpgradeReport& report, UpgradeMessage message) {
    UpgradeStatus s;
    s.message = message;
    report.showStatus(s);
}

}  // namespace kelvane::bootloader
