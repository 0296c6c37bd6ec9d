#pragma once
// The device link as the main window uses it: the port choice with its probe,
// and downloads and uploads on a worker thread. The window forwards its menu
// handlers here (PORTClick, DOWNLOADClick, UPLOADClick, and the cancel of a
// running transfer); everything the link shows goes through LinkHost, always
// on the window's thread.
#include "link/link_host.h"
#include "link/serial_line.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class QThread;

namespace kelvane::link {

class TOKRightDlg;

// A line to the port and the clock its protocol runs on.
struct PortConnection {
    std::unique_ptr<serial::Line> line;
    serial::Clock* clock = &serial::systemClock();
};
// Makes the (not yet opened) line for a port name. Called on the window's
// thread; the line is opened, used and closed on the thread that talks.
using PortFactory = std::function<PortConnection(const std::string& portName)>;

// The standard factory: the built-in simulated controller for the simulator
// entry's port name (holding a sample building at first), QSerialPort for
// every other name.
PortConnection openablePort(const std::string& portName);

class LinkController : public QObject {
    Q_OBJECT
public:
    // dialog: the port dialog OKRightDlg (kept by the window); may be null
    // when only choosePort() is used.
    LinkController(LinkHost& host, TOKRightDlg* dialog, QObject* parent = nullptr);
    // A running transfer is cut off: cancelled, its thread waited for.
    ~LinkController() override;

    // PortName: "COM8" until the technician confirms the port dialog.
    const std::string& portName() const { return portName_; }
    // The port to start on, as if chosen in the port dialog (a remembered port).
    void setStartPort(const QString& text);
    bool transferRunning() const { return transfer_ != nullptr; }
    void setPortFactory(PortFactory factory) { factory_ = std::move(factory); }

public slots:
    // Port dialog, then choosePort() with its text on OK.
    void PORTClick();
    // The port name becomes PortName(text); the port is opened, probed and
    // closed on the window's thread; the controller's identity goes to the
    // status bar.
    void choosePort(const QString& text);
    // Start a download or (after getData() is true) an upload on a worker
    // thread; return at once. A port that does not open, or a transfer
    // already running, shows the port-open error and starts nothing.
    void DOWNLOADClick();
    void UPLOADClick();
    // Esc / "Przerwij": a running transfer stops before its next frame.
    void cancelTransfer();

signals:
    // A transfer started (true) or ended (false); the window holds back LOAD
    // and VERIFY while one runs.
    void transferRunningChanged(bool running);
    // The port chosen as `text` opened: the one to remember.
    void portOpened(const QString& text);

private:
    struct Transfer;
    void startTransfer(bool upload);
    void runTransfer(Transfer& t);  // on the worker thread
    void finishTransfer();          // on the window's thread
    void showPortOpenError();

    LinkHost& host_;
    TOKRightDlg* dialog_;
    PortFactory factory_;
    std::string portName_;
    std::unique_ptr<Transfer> transfer_;  // TTransferParams of the running transfer
};

}  // namespace kelvane::link
