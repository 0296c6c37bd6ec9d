#pragma once
// The device link as the main window uses it: the port choice with its probe,
// and downloads and uploads through the device session. The window forwards
// its menu handlers here (onChoosePort, onDownload, onUpload, and the
// cancel of a running transfer); everything the link shows goes through
// LinkHost, always on the window's thread.
#include "session/device_session.h"
#include "shell/link_host.h"

#include <QObject>

#include <bitset>
#include <functional>
#include <optional>
#include <string>

namespace kelvane::shell {

class PortDialog;

using session::openablePort;
using session::PortConnection;
using session::PortFactory;

class LinkController : public QObject {
    Q_OBJECT
public:
    // dialog: the port dialog OKRightDlg (kept by the window); may be null
    // when only choosePort() is used.
    LinkController(LinkHost& host, PortDialog* dialog, QObject* parent = nullptr);
    // A running transfer is cancelled and its thread waited for: a download
    // is cut off at once; an upload ends its session with the end frame
    // (about two seconds at most), so the controller is not left in upload
    // mode.
    ~LinkController() override;

    // PortName: "COM8" until the technician confirms the port dialog.
    const std::string& portName() const { return portName_; }
    // The port to start on, as if chosen in the port dialog (a remembered port).
    void setStartPort(const QString& text);
    bool transferRunning() const { return session_.running(); }
    // What the last probe of the port dialog read; nothing when it went
    // unanswered or no port was chosen yet.
    const std::optional<link::ProbeReply>& lastIdentity() const { return lastIdentity_; }
    // Probes the chosen port again (before an upload: who is connected now)
    // and keeps the answer as lastIdentity(); nothing when the port cannot be
    // opened, the line is busy or no controller answers.
    std::optional<link::ProbeReply> probeConnected();
    void setPortFactory(PortFactory factory) { session_.setPortFactory(std::move(factory)); }
    // Stack size of transfer threads in bytes; 0 (the default) is the system's.
    void setWorkerStackSize(unsigned bytes) { session_.setWorkerStackSize(bytes); }

    // A step of a flow: reads the controller's whole image into a scratch
    // buffer (both images stay as they are), or sends `blocks` of `image`
    // (on completion the device image is `image`, as after an upload); the
    // report goes to `done` once the transfer ended. False when nothing
    // started (the reason was shown).
    using Done = std::function<void(const session::TransferReport&)>;
    bool readController(Done done);
    bool sendBlocks(const Image& image, const std::bitset<kBlockCount>& blocks, Done done);

public slots:
    // Port dialog, then choosePort() with its text on OK.
    void onChoosePort();
    // The port name becomes PortName(text); the port is opened, probed and
    // closed on the window's thread; the controller's identity goes to the
    // status bar.
    void choosePort(const QString& text);
    // Start a download, or (after getData() is true) the upload flow of
    // LinkHost::startUpload(); return at once. A port that does not open, or a transfer
    // already running, shows the port-open error and starts nothing; a
    // thread that cannot start shows the thread error.
    void onDownload();
    void onUpload();
    // Esc / "Przerwij": a download stops at once; an upload after the frame
    // in flight, ending its session with the end frame (see DeviceSession::cancel).
    void cancelTransfer();
    // Reads the controller's whole image into a scratch buffer, as a download
    // does, and hands it to LinkHost::checkRead(); the working and device
    // images stay as they are.
    void checkController();

signals:
    // A transfer started (true) or ended (false); the window holds back LOAD
    // and VERIFY while one runs.
    void transferRunningChanged(bool running);
    // The port chosen as `text` opened: the one to remember.
    void portOpened(const QString& text);
    // The port chosen opened and was probed (lastIdentity() holds the answer).
    void portProbed();

private:
    bool unencryptedWarned_ = false;                              // the codes cross the network unencrypted: said once
    bool startTransfer(const session::TransferRequest& request);  // false: nothing started
    void finishTransfer(const session::TransferReport& report);
    // The port-open error; under it why the port did not open, when the line tells.
    void showPortOpenError(link::OpenFailure failure = link::OpenFailure::Unknown);

    LinkHost& host_;
    PortDialog* dialog_;
    std::string portName_;
    std::optional<link::ProbeReply> lastIdentity_;
    Image sent_{};           // the copy of the working image a running upload sends
    bool checking_ = false;  // the running download is a controller check
    Done done_;              // the running transfer is a flow's step
    bool waiting_ = false;   // the progress bar makes way for the waiting notice
    session::DeviceSession session_;
};

}  // namespace kelvane::shell
