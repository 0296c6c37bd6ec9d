#include "shell/link_controller.h"

#include "jobs/work_origin.h"
#include "link/net_port.h"

#include "link/port.h"
#include "link/port_info.h"
#include "shell/port_dialog.h"

#include <QStringList>

namespace kelvane::shell {

namespace {
// The status text of a finished transfer; an incomplete download names how
// many blocks it lacks, a gateway's line why it ended.
QString transferStatus(LinkHost& host, const session::TransferReport& report) {
    QString text = host.messageText(report.message());
    if (report.message() == link::Message::BlocksMissing)
        text = QString::asprintf(text.toUtf8().constData(), report.download.missingBlocks);
    for (link::Message m : report.faultMessages()) text += QStringLiteral(". ") + host.messageText(m);
    if (report.mayHoldNewBlocks()) text += QStringLiteral(". ") + host.messageText(link::Message::MayHoldNewBlocks);
    return text;
}
}  // namespace

LinkController::LinkController(LinkHost& host, PortDialog* dialog, QObject* parent)
    : QObject(parent), host_(host), dialog_(dialog), portName_(link::kInitialPortName) {
    connect(&session_, &session::DeviceSession::progress, this, [this](int position) {
        if (waiting_) {  // the line went quiet and the transfer moves
            waiting_ = false;
            host_.setStatusText(QString());
            host_.setProgressVisible(true);
        }
        host_.setProgressPosition(position);
    });
    connect(&session_, &session::DeviceSession::finished, this, &LinkController::finishTransfer);
    // The bar covers the status text: while the controller is still sending,
    // the notice takes its place, or the technician sees an empty bar for a minute.
    connect(&session_, &session::DeviceSession::waitingForLine, this, [this] {
        waiting_ = true;
        host_.setProgressVisible(false);
        host_.setStatusText(host_.messageText(link::Message::WaitingForLine));
    });
}

LinkController::~LinkController() = default;  // the session cuts off a running transfer

void LinkController::showPortOpenError(link::OpenFailure failure) {
    QStringList detail;
    // Which port was tried, and for a name nothing answers to, where to choose another.
    const QString port = QString::fromStdString(jobs::portKey(portName_));
    if (failure != link::OpenFailure::None)
        detail << host_.messageText(link::Message::PortTried).replace(QLatin1String("%s"), port);
    for (link::Message m : link::openFailureMessages(failure, link::prefersUsbPort())) detail << host_.messageText(m);
    if (failure == link::OpenFailure::NoSuchPort) detail << host_.messageText(link::Message::PortChooseHint);
    host_.showPortOpenError(host_.messageText(link::Message::PortOpenError), detail.join(QLatin1Char('\n')));
}

void LinkController::setStartPort(const QString& text) { portName_ = link::PortName(text.toStdString()); }

void LinkController::onChoosePort() {
    if (!dialog_ || dialog_->exec() != QDialog::Accepted || dialog_->chosenText().trimmed().isEmpty()) return;
    choosePort(dialog_->chosenText());
}

void LinkController::choosePort(const QString& text) {
    portName_ = link::PortName(text.toStdString());
    const session::ProbeResult result = session_.probe(portName_);
    if (!result.opened) {
        showPortOpenError(result.failure);
        return;
    }
    emit portOpened(text);
    if (result.lineBusy) {
        host_.setStatusText(host_.messageText(link::Message::LineBusy));
        return;
    }
    lastIdentity_ = result.reply;
    // Silence or short answers: the port is the new one all the same.
    const std::string format =
        host_.messageText(result.reply ? link::Message::PortStatus : link::Message::ProbeNoAnswer).toStdString();
    QString status =
        QString::fromStdString(link::formatPortStatus(format, portName_, result.reply.value_or(link::ProbeReply{})));
    // No answer on a gateway's line that ended: the gateway's reason follows.
    if (!result.reply)
        for (link::Message m : link::lineFaultMessages(result.fault))
            status += QStringLiteral(". ") + host_.messageText(m);
    // A gateway's port that sends the codes across a network in the clear:
    // said once a run, after what the probe found.
    if (link::crossesNetworkUnencrypted(portName_) && !unencryptedWarned_) {
        unencryptedWarned_ = true;
        status +=
            QLatin1String("  ") +
            host_.messageText(link::Message::Unencrypted).replace(QLatin1String("%s"), QString::fromStdString(portName_));
    }
    host_.setStatusText(status);
    emit portProbed();
}

std::optional<link::ProbeReply> LinkController::probeConnected() {
    if (session_.running()) return std::nullopt;
    const session::ProbeResult result = session_.probe(portName_);
    if (!result.opened || result.lineBusy) return std::nullopt;
    if (result.reply) lastIdentity_ = result.reply;
    return result.reply;
}

void LinkController::onDownload() {
    // Started on the remembered port, no probe has said who is there: ask
    // first, so the visit names its controller.
    if (!lastIdentity_ && !session_.running()) probeConnected();
    startTransfer(session::downloadRequest(portName_));
}

void LinkController::onUpload() {
    if (session_.running()) {  // one transfer at a time
        showPortOpenError();
        return;
    }
    if (host_.getData()) host_.startUpload();
}

bool LinkController::readController(Done done) {
    if (session_.running()) {
        showPortOpenError();
        return false;
    }
    checking_ = true;
    done_ = std::move(done);
    if (startTransfer(session::downloadRequest(portName_))) return true;
    checking_ = false;
    done_ = nullptr;
    return false;
}

bool LinkController::sendBlocks(const Image& image, const std::bitset<kBlockCount>& blocks, Done done) {
    done_ = std::move(done);
    if (startTransfer(session::uploadRequest(portName_, image, blocks))) return true;
    done_ = nullptr;
    return false;
}

void LinkController::cancelTransfer() { session_.cancel(); }

void LinkController::checkController() {
    if (session_.running()) {  // one transfer at a time
        showPortOpenError();
        return;
    }
    checking_ = true;
    if (!startTransfer(session::downloadRequest(portName_))) checking_ = false;
}

bool LinkController::startTransfer(const session::TransferRequest& request) {
    // One transfer at a time, as the exclusive open of its port would have it.
    switch (session_.start(request)) {
    case session::DeviceSession::Start::Started: break;
    case session::DeviceSession::Start::ThreadError:
        host_.showPortOpenError(host_.messageText(link::Message::ThreadError), QString());
        return false;
    case session::DeviceSession::Start::Busy: showPortOpenError(); return false;
    case session::DeviceSession::Start::PortNotOpened: showPortOpenError(session_.openFailure()); return false;
    }
    sent_ = request.image;
    host_.setProgressRange(0, int(kBlockCount));
    host_.setProgressPosition(0);
    host_.setProgressVisible(true);
    host_.setStatusText(QString());
    emit transferRunningChanged(true);
    return true;
}

void LinkController::finishTransfer(const session::TransferReport& report) {
    waiting_ = false;
    host_.setProgressVisible(false);
    Done done = std::move(done_);
    done_ = nullptr;
    if (checking_) {
        checking_ = false;
        if (!report.completed()) host_.setStatusText(transferStatus(host_, report));
        emit transferRunningChanged(false);
        if (done)
            done(report);
        else if (report.completed())
            host_.checkRead(report.download.image);
        return;
    }
    if (report.kind == session::TransferKind::Upload) {
        if (report.completed()) host_.document().deviceHolds(sent_);
    } else if (report.completed()) {
        host_.document().working = report.download.image;
        host_.document().deviceHolds(report.download.image);
    }
    host_.setStatusText(transferStatus(host_, report));
    if (report.kind == session::TransferKind::Download && report.completed()) host_.displayData();
    emit transferRunningChanged(false);
    if (report.completed())
        host_.transferCompleted(report.kind == session::TransferKind::Upload);
    else if (report.kind == session::TransferKind::Download)
        host_.downloadFailed(report.download.result);
    if (done) done(report);
}

}  // namespace kelvane::shell
