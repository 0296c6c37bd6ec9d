#include "session/device_session.h"

#include "link/port.h"
#include "link/transfer_status.h"

#include <memory>

namespace kelvane::session {

ProbeResult probePort(const std::string& portName, const PortFactory& factory, int quietLimitMs) {
    ProbeResult result;
    PortConnection port = factory(portName);
    result.opened = link::OpenPort(*port.line, portName);
    if (!result.opened) {
        result.failure = port.line->openFailure();
        return result;
    }
    result.reply = link::probeWhenQuiet(*port.line, *port.clock, result.lineBusy, quietLimitMs);
    result.fault = port.line->fault();
    port.line->close();
    return result;
}

TransferRequest downloadRequest(std::string portName) {
    TransferRequest r;
    r.kind = TransferKind::Download;
    r.portName = std::move(portName);
    return r;
}

TransferRequest uploadRequest(std::string portName, const Image& image, const Image& base) {
    TransferRequest r;
    r.kind = TransferKind::Upload;
    r.portName = std::move(portName);
    r.image = image;
    r.base = base;
    return r;
}

TransferRequest uploadRequest(std::string portName, const Image& image, const std::bitset<kBlockCount>& blocks) {
    // A base that differs from the image in every byte of the chosen blocks
    // and nowhere else.
    Image base = image;
    for (std::size_t b = 0; b < kBlockCount; ++b) {
        if (!blocks[b]) continue;
        for (std::size_t i = b * kBlockSize; i < (b + 1) * kBlockSize; ++i)
            base[i] = static_cast<std::uint8_t>(~image[i]);
    }
    return uploadRequest(std::move(portName), image, base);
}

bool TransferReport::completed() const {
    if (!opened) return false;
    return kind == TransferKind::Upload ? upload.result == link::UploadResult::Completed
                                        : download.result == link::DownloadResult::Completed;
}

bool TransferReport::mayHoldNewBlocks() const {
    return opened && kind == TransferKind::Upload && link::mayHoldNewBlocks(upload);
}

std::vector<link::Message> TransferReport::faultMessages() const {
    return opened && !completed() ? link::lineFaultMessages(fault) : std::vector<link::Message>{};
}

link::Message TransferReport::message() const {
    if (!opened) return link::Message::PortOpenError;
    return kind == TransferKind::Upload ? link::statusMessage(upload.result) : link::statusMessage(download.result);
}

TransferReport runTransfer(const TransferRequest& request, PortConnection& port, const std::atomic<bool>* cancel,
                           const ProgressFunction& progress, const std::function<void(bool)>& opened,
                           const std::function<void()>& waitingForLine) {
    TransferReport report;
    report.kind = request.kind;
    link::Line& line = *port.line;
    report.opened = link::OpenPort(line, request.portName);
    if (!report.opened) report.failure = line.openFailure();
    if (opened) opened(report.opened);
    if (!report.opened) return report;
    link::TransferContext ctx{line, *port.clock, cancel, progress, waitingForLine};
    if (request.kind == TransferKind::Upload) {
        report.upload = link::UploadThread(ctx, request.image, request.base);
    } else {
        report.download = link::DownloadThread(ctx);
    }
    report.fault = line.fault();
    line.close();
    return report;
}

DeviceSession::DeviceSession(QObject* parent) : QObject(parent), factory_(openablePort) {
    qRegisterMetaType<TransferReport>();
    connect(&worker_, &Worker::ended, this, [this] { emit finished(report_); });
}

DeviceSession::~DeviceSession() {
    // Stopped as cancel() stops it, not by the worker's own interrupt, which
    // would refuse the upload's end frame.
    cancel();
    worker_.wait();
}

DeviceSession::Start DeviceSession::start(const TransferRequest& request) {
    if (worker_.running()) return Start::Busy;
    auto port = std::make_shared<PortConnection>(factory_(request.portName));
    kind_ = request.kind;
    report_ = TransferReport{};
    // The worker opens the port itself, so the port belongs to its thread;
    // the caller waits only for the open.
    auto opened = std::make_shared<std::promise<bool>>();
    std::future<bool> openedFuture = opened->get_future();
    const bool started = worker_.start([this, request, port, opened] {
        worker_.attachLine(port->line.get());
        report_ = runTransfer(
            request, *port, worker_.stopFlag(),
            [this](int position) { worker_.post([this, position] { emit progress(position); }); },
            [opened](bool ok) { opened->set_value(ok); }, [this] { worker_.post([this] { emit waitingForLine(); }); });
        worker_.attachLine(nullptr);
        port->line.reset();
    });
    if (!started) return Start::ThreadError;  // no transfer runs: Busy was ruled out above
    if (!openedFuture.get()) {
        worker_.wait();
        return Start::PortNotOpened;
    }
    return Start::Started;
}

void DeviceSession::cancel() {
    if (!worker_.running()) return;
    // A download waits in long reads: end the one in progress. An upload
    // notices the flag in its short reads and still writes the end frame;
    // interrupting it could cut off a frame half sent and would refuse that
    // last write.
    worker_.requestStop(kind_ == TransferKind::Download);
}

}  // namespace kelvane::session
