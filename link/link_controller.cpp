#include "link/link_controller.h"

#include "sim/controller_port.h"
#include "link/port.h"
#include "link/port_dialog.h"
#include "link/probe.h"
#include "link/qt_serial_line.h"
#include "image/sample_building.h"
#include "link/transfer.h"
#include "link/transfer_status.h"

#include <QThread>

#include <future>

namespace kelvane::link {

PortConnection openablePort(const std::string& portName) {
    PortConnection c;
    if (portName == PortName(kSimulatorPortName)) {
        sim::ControllerPort::preload(SampleBuildingImage());
        c.line = std::make_unique<sim::ControllerPort>(portName);
    } else {
        c.line = std::make_unique<serial::QtSerialLine>();
    }
    return c;
}

// TTransferParams: everything one transfer needs, filled on the window's
// thread before the worker starts. The worker only reads it, apart from the
// outcome it leaves for finishTransfer().
struct LinkController::Transfer {
    bool upload = false;
    std::string portName;
    PortConnection port;
    ImageBuffer working{};  // upload: the copy of the working image taken at its start
    ImageBuffer device{};   // upload: the device image at its start
    std::atomic<bool> cancel{false};
    QThread* thread = nullptr;
    std::promise<bool> opened;
    DownloadOutcome download;
    UploadOutcome uploaded;
};

LinkController::LinkController(LinkHost& host, TOKRightDlg* dialog, QObject* parent)
    : QObject(parent), host_(host), dialog_(dialog), factory_(openablePort), portName_(kInitialPortName) {}

LinkController::~LinkController() {
    if (!transfer_) return;
    transfer_->cancel = true;
    transfer_->port.line->interrupt();
    transfer_->thread->wait();
    delete transfer_->thread;
}

void LinkController::showPortOpenError() { host_.showPortOpenError(host_.messageText(Message::PortOpenError)); }

void LinkController::setStartPort(const QString& text) { portName_ = PortName(text.toStdString()); }

void LinkController::PORTClick() {
    if (!dialog_ || dialog_->exec() != QDialog::Accepted) return;
    choosePort(dialog_->chosenText());
}

void LinkController::choosePort(const QString& text) {
    portName_ = PortName(text.toStdString());
    PortConnection port = factory_(portName_);
    if (!OpenPort(*port.line, portName_)) {
        showPortOpenError();
        return;
    }
    emit portOpened(text);
    auto reply = probe(*port.line);
    port.line->close();
    if (!reply) return;  // silence or short answers: nothing shown
    const std::string format = host_.messageText(Message::PortStatus).toStdString();
    host_.setStatusText(QString::fromStdString(formatPortStatus(format, portName_, *reply)));
}

void LinkController::DOWNLOADClick() { startTransfer(false); }

void LinkController::UPLOADClick() {
    if (!host_.getData()) return;
    startTransfer(true);
}

void LinkController::cancelTransfer() {
    if (!transfer_) return;
    transfer_->cancel = true;
    // A download waits in reads of up to 3.5 s: end the one in progress. An
    // upload notices the flag between frames (its reads last at most 200 ms);
    // interrupting it could cut off a frame half sent, and the controller
    // would take the next bytes it gets as the rest of that frame.
    if (!transfer_->upload) transfer_->port.line->interrupt();
}

void LinkController::startTransfer(bool upload) {
    // One transfer at a time, as the exclusive open of its port would have it.
    if (transfer_) {
        showPortOpenError();
        return;
    }
    auto t = std::make_unique<Transfer>();
    t->upload = upload;
    t->portName = portName_;
    t->port = factory_(portName_);
    if (upload) {
        t->working = host_.workingImage();
        t->device = host_.deviceImage();
    }
    // The worker opens the port itself, so the port belongs to its thread;
    // the window waits only for the open.
    Transfer* raw = t.get();
    std::future<bool> opened = t->opened.get_future();
    t->thread = QThread::create([this, raw] { runTransfer(*raw); });
    t->thread->start();
    if (!opened.get()) {
        t->thread->wait();
        delete t->thread;
        showPortOpenError();
        return;
    }
    transfer_ = std::move(t);
    host_.setProgressRange(0, 512);
    host_.setProgressPosition(0);
    host_.setProgressVisible(true);
    host_.setStatusText(QString());
    emit transferRunningChanged(true);
}

void LinkController::runTransfer(Transfer& t) {
    serial::Line& line = *t.port.line;
    const bool ok = OpenPort(line, t.portName);
    t.opened.set_value(ok);
    if (!ok) return;
    TransferContext ctx{line, *t.port.clock, &t.cancel, [this](int position) {
                            QMetaObject::invokeMethod(
                                this, [this, position] { host_.setProgressPosition(position); },
                                Qt::QueuedConnection);
                        }};
    if (t.upload) {
        t.uploaded = UploadThread(ctx, t.working, t.device);
    } else {
        t.download = DownloadThread(ctx);
    }
    line.close();
    QMetaObject::invokeMethod(this, [this] { finishTransfer(); }, Qt::QueuedConnection);
}

void LinkController::finishTransfer() {
    if (!transfer_) return;
    std::unique_ptr<Transfer> t = std::move(transfer_);
    t->thread->wait();
    delete t->thread;
    host_.setProgressVisible(false);
    if (t->upload) {
        if (t->uploaded.result == UploadResult::Completed) host_.deviceImage() = t->working;
        host_.setStatusText(host_.messageText(statusMessage(t->uploaded.result)));
    } else if (t->download.result == DownloadResult::Completed) {
        host_.workingImage() = t->download.image;
        host_.deviceImage() = t->download.image;
        host_.setStatusText(host_.messageText(Message::DownloadDone));
        host_.displayData();
    } else {
        host_.setStatusText(host_.messageText(statusMessage(t->download.result)));
    }
    emit transferRunningChanged(false);
}

}  // namespace kelvane::link
