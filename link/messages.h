#pragma once
// What the device link reports to the one who runs it, as codes. The link
// holds no texts: the program that shows a report looks up its own text for
// the code (KelvaneMini: its language table).
namespace kelvane::link {

enum class Message {
    PortOpenError,    // the port did not open
    PortStatus,       // the controller answered the probe: port name, ID, serial number, firmware
    TransferAborted,  // a transfer was cancelled or given up
    DownloadDone,     // a download completed
    UploadDone,       // an upload completed
    NoAnswer,         // no acknowledgement, or a download that never completed
    WaitingForLine,   // a transfer waits for the controller to finish sending
    LineBusy,         // the controller never stopped sending: nothing was done
    MayHoldNewBlocks, // added after an upload ended early: the controller may hold some new blocks
    ThreadError,      // the transfer's thread could not be started
};

}  // namespace kelvane::link
