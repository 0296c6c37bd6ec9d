#pragma once
// The controller as a program talks to it, without any window: identify it on
// a port (probe), read its whole image (download), write an image to it
// (upload). Used by KelvaneMini's window and by command-line front ends.
//
// Two ways to run a transfer:
//  - DeviceSession (a QObject): the transfer runs on a worker thread; start()
//    returns as soon as the port is open; progress() and finished() arrive as
//    signals on the session's thread; cancel() stops it. Needs a running event
//    loop on the session's thread for the signals (QCoreApplication is enough).
//  - runTransfer(): the same on the calling thread, blocking, with a progress
//    callback and a cancel flag (for a tool without an event loop).
//
// A download only fills the report's image: the caller decides what to do with
// it (KelvaneMini copies it over its working and device images; a tool may
// compare it or save it). Nothing here touches a program's images.
//
// Outcomes are codes (link::DownloadResult, link::UploadResult and the
// link::Message a window shows for them); texts are the caller's business.
#include "image/image.h"
#include "link/messages.h"
#include "link/probe.h"
#include "link/transfer.h"
#include "session/device_port.h"
#include "session/worker.h"

#include <QMetaType>
#include <QObject>

#include <atomic>
#include <bitset>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::session {

// ---- Probe --------------------------------------------------------------

struct ProbeResult {
    bool opened = false;                                  // false: the port did not open (link::Message::PortOpenError)
    link::OpenFailure failure = link::OpenFailure::None;  // why it did not
    bool lineBusy = false;                                // the controller never stopped sending: no probe was sent
    std::optional<link::ProbeReply> reply;                // empty: silence, a short answer or a busy line
    link::LineFault fault = link::LineFault::None;        // what ended the line, where it can tell (a gateway)
};

// Opens the port, waits for a quiet line, sends the probe, closes the port, on
// the calling thread (about 3 s at most when nothing answers; up to
// quietLimitMs more while the controller still sends an image).
// portName as link::PortName() gives it.
ProbeResult probePort(const std::string& portName, const PortFactory& factory = openablePort,
                      int quietLimitMs = link::kQuietLineLimitMs);

// ---- Transfers ----------------------------------------------------------

enum class TransferKind { Download, Upload };

struct TransferRequest {
    TransferKind kind = TransferKind::Download;
    std::string portName;  // as link::PortName() gives it
    // Upload only: the image the controller shall hold, and the image it
    // holds now. Only the blocks in which they differ are sent.
    Image image{};
    Image base{};
};

// An upload of image relative to base (the blocks that differ).
TransferRequest uploadRequest(std::string portName, const Image& image, const Image& base);
// An upload of the chosen blocks of image, each sent whatever the controller holds.
TransferRequest uploadRequest(std::string portName, const Image& image, const std::bitset<kBlockCount>& blocks);
// A download of the whole image.
TransferRequest downloadRequest(std::string portName);

struct TransferReport {
    TransferKind kind = TransferKind::Download;
    bool opened = false;                                  // false: the port did not open; nothing was sent
    link::OpenFailure failure = link::OpenFailure::None;  // why it did not
    link::DownloadOutcome download;                       // kind == Download (image meaningful only when Completed)
    link::UploadOutcome upload;                           // kind == Upload
    link::LineFault fault = link::LineFault::None;        // what ended the line, where it can tell (a gateway)

    bool completed() const;
    // The status a window shows for this report.
    link::Message message() const;
    // What follows the status of a transfer that did not complete on a line
    // that names its own end (a gateway that closed, stopped answering or
    // refused a setting); none on a serial port.
    std::vector<link::Message> faultMessages() const;
    // An upload that ended early after sending blocks: the controller may
    // hold some of them (link::Message::MayHoldNewBlocks goes with message()).
    bool mayHoldNewBlocks() const;
};

// Progress positions 1..kBlockCount, from the thread that runs the transfer.
using ProgressFunction = std::function<void(int position)>;

// Opens the port, runs the transfer and closes the port, on the calling
// thread. cancel (may be null) stops it: a download before its next read, an
// upload before its next frame (the frame on the wire is finished and the
// end frame closes the controller's upload mode). To end a download's read at
// once, interrupt port.line from another thread as well.
// opened (may be empty) is called once the open succeeded or failed;
// waitingForLine (may be empty) once the transfer has waited a second for the
// controller to stop sending.
TransferReport runTransfer(const TransferRequest& request, PortConnection& port, const std::atomic<bool>* cancel = nullptr,
                           const ProgressFunction& progress = {}, const std::function<void(bool opened)>& opened = {},
                           const std::function<void()>& waitingForLine = {});

// One transfer at a time on a worker thread.
class DeviceSession : public QObject {
    Q_OBJECT
public:
    explicit DeviceSession(QObject* parent = nullptr);
    // A running transfer is cancelled as cancel() does and waited for (an
    // upload still ends the controller's upload mode: about two seconds at
    // most); no finished() follows.
    ~DeviceSession() override;

    // How ports are opened: openablePort() unless a test gives another.
    void setPortFactory(PortFactory factory) { factory_ = std::move(factory); }
    // Stack size of transfer threads in bytes; 0 (the default) is the system's.
    void setWorkerStackSize(unsigned bytes) { worker_.setStackSize(bytes); }

    // probePort() with this session's factory, on the calling thread: a
    // window's, which must not stop answering for the minute a controller may
    // still be sending, so a line still busy after kProbeQuietLimitMs is
    // reported as busy (try again later).
    static constexpr int kProbeQuietLimitMs = 2000;
    ProbeResult probe(const std::string& portName) const { return probePort(portName, factory_, kProbeQuietLimitMs); }

    enum class Start { Started, Busy, PortNotOpened, ThreadError };
    // Makes the port on the calling thread, then opens it and runs the transfer
    // on a worker thread. Returns once the open succeeded or failed; Busy when
    // a transfer still runs, ThreadError when the thread could not start. Only
    // Started is followed by finished().
    Start start(const TransferRequest& request);
    bool running() const { return worker_.running(); }
    // Why the port of the last start() that returned PortNotOpened did not open.
    link::OpenFailure openFailure() const { return report_.failure; }

    // Stops a running transfer: a download at once (its read is interrupted),
    // an upload after the frame on the wire (never cut), whose answer is
    // waited for at most about a second, and the end frame with its answer.
    void cancel();

signals:
    // Progress positions 1..kBlockCount, in order.
    void progress(int position);
    // The transfer has waited a second for the controller to stop sending.
    void waitingForLine();
    // The transfer ended; running() is already false.
    void finished(const kelvane::session::TransferReport& report);

private:
    PortFactory factory_;
    Worker worker_;
    TransferKind kind_ = TransferKind::Download;
    TransferReport report_;
};

}  // namespace kelvane::session

Q_DECLARE_METATYPE(kelvane::session::TransferReport)
