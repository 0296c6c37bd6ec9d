// The port dialog and the transfer controller, offscreen, with a fake window
// and the built-in simulator port.
#include "sim/controller_port.h"
#include "shell/link_controller.h"
#include "link/port.h"
#include "shell/port_dialog.h"
#include "texts/link_messages.h"
#include "link/probe.h"
#include "sim/sample_building.h"
#include "tests/link/gateway_cut.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace kelvane::link;
using namespace kelvane::shell;

namespace {

// Records what the link does to the window and checks it happens on the window's thread.
class FakeHost : public LinkHost {
public:
    bool getData() override {
        onWindowThread();
        ++getDataCalls;
        return getDataResult;
    }
    void displayData() override {
        onWindowThread();
        ++displayCalls;
    }
    void setStatusText(const QString& text) override {
        onWindowThread();
        status = text;
        statusHistory << text;
        if (!progressVisible) seenStatus << text;  // the bar, when shown, covers the text
    }
    void setProgressVisible(bool v) override {
        onWindowThread();
        progressVisible = v;
        visibility << v;
    }
    void setProgressRange(int lo, int hi) override {
        onWindowThread();
        range = {lo, hi};
    }
    void setProgressPosition(int p) override {
        onWindowThread();
        positions << p;
    }
    QString messageText(Message m) override {
        onWindowThread();
        return QString::fromUtf8(kelvane::texts::messageText(m, language));
    }
    void showPortOpenError(const QString& text, const QString& detail) override {
        onWindowThread();
        errors << text;
        details << detail;
    }
    Document& document() override { return doc; }
    // The flow's last step as the window takes it: the blocks in which the
    // working image differs from what the controller is known to hold.
    void startUpload() override {
        onWindowThread();
        ++uploadsStarted;
        if (link) link->sendBlocks(doc.working, differingBlocks(doc.working, doc.device), {});
    }
    static std::bitset<kelvane::kBlockCount> differingBlocks(const kelvane::Image& a, const kelvane::Image& b) {
        std::bitset<kelvane::kBlockCount> blocks;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (a[i] != b[i]) blocks.set(i / kelvane::kBlockSize);
        return blocks;
    }

    void onWindowThread() {
        if (QThread::currentThread() != qApp->thread()) ++offThreadCalls;
    }

    LinkController* link = nullptr;  // where startUpload() sends
    bool getDataResult = true;
    int getDataCalls = 0, displayCalls = 0, offThreadCalls = 0, uploadsStarted = 0;
    int language = 0;
    QString status = "start";
    QStringList statusHistory, seenStatus, errors, details;
    bool progressVisible = false;
    QList<bool> visibility;
    QPair<int, int> range{-1, -1};
    QList<int> positions;
    Document doc;
    kelvane::Image& working = doc.working;
    kelvane::Image& device = doc.device;
};

// A port behind which a simulated controller runs in virtual time on the worker.
struct VirtualPort {
    kelvane::sim::VirtualClock clock;
    kelvane::sim::Controller controller;
    PortFactory factory() {
        return [this](const std::string&) {
            PortConnection c;
            c.line = std::make_unique<kelvane::sim::VirtualLine>(clock, controller);
            c.clock = &clock;
            return c;
        };
    }
};

// A controller behind a line paced at 2400 baud in real time, so a frame takes
// about 140 ms to go out. Counts the writes cut short on the wire. On the
// write of message `cancelAt` the window is asked to cancel while the frame is
// still going out.
struct PacedPort {
    class Line : public kelvane::sim::VirtualLine {
    public:
        Line(PacedPort& port) : VirtualLine(kelvane::link::systemClock(), port.controller), port_(port) {}
        std::size_t write(const std::uint8_t* data, std::size_t n) override {
            if (++port_.writes == port_.cancelAt)
                QMetaObject::invokeMethod(port_.link, &LinkController::cancelTransfer, Qt::QueuedConnection);
            const std::size_t sent = VirtualLine::write(data, n);
            if (sent < n) ++port_.cutWrites;
            return sent;
        }

    private:
        PacedPort& port_;
    };
    PortFactory factory() {
        return [this](const std::string&) {
            PortConnection c;
            auto line = std::make_unique<Line>(*this);
            line->setPaced(true);
            c.line = std::move(line);
            return c;
        };
    }
    kelvane::sim::Controller controller;
    LinkController* link = nullptr;
    int cancelAt = -1;
    std::atomic<int> writes{0}, cutWrites{0};
};

// A simulated controller behind a gateway whose line ends after `cutAfter`
// bytes read on each connection, naming `fault` (None: a serial port whose
// controller fell silent).
struct CutPort {
    struct Inner {  // made before the cut that wraps it
        Inner(CutPort& p) : line(p.clock, p.controller) {}
        kelvane::sim::VirtualLine line;
    };
    struct Connection : private Inner, public linktest::GatewayCut {
        Connection(CutPort& p) : Inner(p), GatewayCut(Inner::line, p.cutAfter, p.fault) {}
    };
    PortFactory factory() {
        return [this](const std::string&) {
            PortConnection c;
            c.line = std::make_unique<Connection>(*this);
            c.clock = &clock;
            return c;
        };
    }
    kelvane::sim::VirtualClock clock;
    kelvane::sim::Controller controller;
    long cutAfter = 0;
    LineFault fault = LineFault::None;
};

kelvane::Image simulatorImage() {
    kelvane::Image img{};
    kelvane::sim::ControllerPort::withController([&](kelvane::sim::Controller& c) { img = c.image(); });
    return img;
}

}  // namespace

class LinkControllerTest : public QObject {
    Q_OBJECT

private:
    static bool waitForEnd(LinkController& link, QSignalSpy& spy) {
        if (!link.transferRunning()) return true;
        return spy.wait(5000) && !link.transferRunning();
    }
    static std::string simulatorPort() { return PortName(kSimulatorPortName); }

private slots:
    void portDialogLooksAsDesigned() {
        PortDialog dlg;
        QCOMPARE(dlg.objectName(), QString("OKRightDlg"));
        QCOMPARE(dlg.windowTitle(), QString("Wybierz port"));
        QCOMPARE(dlg.size(), QSize(383, 179));
        QVERIFY(dlg.findChild<QWidget*>("Bevel1"));
        QCOMPARE(dlg.portCombo_->objectName(), QString("ComboBox1"));
        QVERIFY(dlg.portCombo_->isEditable());
        // The hint is no port name: OK waits for one.
        QCOMPARE(dlg.chosenText(), QString());
        QCOMPARE(dlg.portCombo_->lineEdit()->placeholderText(), QString("Wybierz port COM"));
        QVERIFY(!dlg.okButton_->isEnabled());
        dlg.portCombo_->setEditText("COM3");
        QVERIFY(dlg.okButton_->isEnabled());
        QCOMPARE(dlg.okButton_->text(), QString("OK"));
        QVERIFY(dlg.okButton_->isDefault());
        QCOMPARE(dlg.cancelButton_->text(), QString("Cancel"));
    }

    void portListIsRefilledSortedOnEveryShowAndKeepsTheSimulator() {
        PortDialog dlg;
        QStringList ports = {"COM2", "COM10", "COM1"};
        dlg.setPortSource([&] { return ports; });
        dlg.portCombo_->setEditText("COM9");
        dlg.show();
        QStringList items;
        for (int i = 0; i < dlg.portCombo_->count(); ++i) items << dlg.portCombo_->itemText(i);
        QCOMPARE(items, (QStringList{"COM1", "COM10", "COM2", "Symulator"}));
        QCOMPARE(dlg.chosenText(), QString("COM9"));  // typed text survives
        dlg.hide();

        ports = {"COM3", "Symulator"};  // a real port of that name wins: listed once
        dlg.show();
        QCOMPARE(dlg.portCombo_->count(), 2);
        dlg.hide();

        ports.clear();  // nothing listed: the list stays as it was
        dlg.show();
        QCOMPARE(dlg.portCombo_->count(), 2);
        QCOMPARE(dlg.portCombo_->itemText(0), QString("COM3"));
    }

    void typedPortNameSurvivesEnterOnEveryLaterShow() {
        PortDialog dlg;
        dlg.setPortSource([] { return QStringList{"ttyS0"}; });
        // Enter in the box, the way a technician confirms the dialog.
        auto confirmWithEnter = [&dlg](const QString& typed) {
            QTimer::singleShot(50, &dlg, [&dlg, typed] {
                QLineEdit* edit = dlg.portCombo_->lineEdit();
                if (!typed.isEmpty()) {
                    edit->selectAll();
                    QTest::keyClicks(edit, typed);
                }
                QTest::keyClick(edit, Qt::Key_Return);
            });
            QTimer::singleShot(2000, &dlg, &QDialog::reject);  // Enter did not confirm
            return dlg.exec();
        };
        dlg.show();
        dlg.portCombo_->setCurrentIndex(0);  // "Symulator" picked from the list first
        dlg.accept();
        QCOMPARE(dlg.chosenText(), QString("Symulator"));

        QCOMPARE(confirmWithEnter("/tmp/pc"), int(QDialog::Accepted));
        QCOMPARE(dlg.chosenText(), QString("/tmp/pc"));
        for (int show = 0; show < 2; ++show) {  // shown again, confirmed at once
            QCOMPARE(confirmWithEnter(QString()), int(QDialog::Accepted));
            QCOMPARE(dlg.chosenText(), QString("/tmp/pc"));
        }
        QCOMPARE(confirmWithEnter("ttyS0"), int(QDialog::Accepted));  // a listed port is picked
        QCOMPARE(dlg.portCombo_->currentIndex(), dlg.portCombo_->findText("ttyS0"));
    }

    void entriesTellWhatThePortIsAndFollowAdaptersWhileOpen() {
        PortDialog dlg;
        kelvane::link::PortInfo adapter{"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A10K3ZQX", true, {}};
        std::vector<kelvane::link::PortInfo> ports = {{"ttyS0", "/dev/ttyS0", {}, {}, {}, false, {}}, adapter};
        dlg.setPortInfoSource([&] { return ports; });
        dlg.show();
        QComboBox* box = dlg.portCombo_;
        const int usb = box->findText("ttyUSB0");
        QVERIFY(usb >= 0);  // the entry's text is the name alone
        QCOMPARE(box->itemData(usb, PortDialog::kDetailsRole).toString(), QString("FT232R USB UART, FTDI, A10K3ZQX"));
        QCOMPARE(box->itemData(usb, Qt::ToolTipRole), box->itemData(usb, PortDialog::kDetailsRole));
        box->setCurrentIndex(usb);
        QCOMPARE(dlg.chosenText(), QString("ttyUSB0"));
        QCOMPARE(box->toolTip(), QString("FT232R USB UART, FTDI, A10K3ZQX"));

        box->setEditText("/tmp/pc");  // typed while an adapter comes
        ports.push_back({"ttyACM0", "/dev/ttyACM0", "Arduino Uno", {}, {}, true, {}});
        QTRY_VERIFY_WITH_TIMEOUT(box->findText("ttyACM0") >= 0, 3 * PortDialog::kRefreshMs);
        QCOMPARE(dlg.chosenText(), QString("/tmp/pc"));
        QVERIFY(box->toolTip().isEmpty());

        ports.clear();  // every adapter gone while the dialog is open: only the simulator stays
        dlg.refreshPorts();
        QCOMPARE(box->count(), 1);
        QCOMPARE(box->itemText(0), QString(kSimulatorPortName));
        dlg.hide();
    }

    void probeOfTheSimulatorShowsItsIdentity() {
        FakeHost host;
        LinkController link(host, nullptr);
        QCOMPARE(link.portName(), std::string("COM8"));
        link.choosePort(kSimulatorPortName);
        QCOMPARE(link.portName(), simulatorPort());
        QCOMPARE(host.status,
                 QString::fromStdString("Port " + simulatorPort() + ", zasilacz ID 1, Nr seryjny 4660, firmware 259"));
        QVERIFY(host.errors.isEmpty());
    }

    void probeWithoutAnswerShowsTheNewPortAndTheSilence() {
        FakeHost host;
        VirtualPort port;
        port.controller.faults().silent = true;
        LinkController link(host, nullptr);
        link.setPortFactory(port.factory());
        link.choosePort("ttyUSB0");
        QCOMPARE(host.status, QString::fromStdString(formatPortStatus(
                                  kelvane::texts::messageText(Message::ProbeNoAnswer, 0), PortName("ttyUSB0"), {})));
        QVERIFY(host.errors.isEmpty());
    }

    // Right after a cancelled download the controller still sends the image:
    // the probe takes none of it for an identity, and the window, which waits
    // on it, is told to try later after about two seconds.
    void probeOnALineStillSendingSaysSoWithinTwoSeconds() {
        struct Chatty : kelvane::sim::Controller {
            void opened(kelvane::sim::VirtualLine& line) override {
                Controller::opened(line);
                for (int i = 0; i < 500; ++i) line.send(std::vector<std::uint8_t>(34, 0xFF), 140 * i);
            }
        } chatty;
        FakeHost host;
        kelvane::sim::VirtualClock clock;
        LinkController link(host, nullptr);
        link.setPortFactory([&](const std::string&) {
            PortConnection c;
            c.line = std::make_unique<kelvane::sim::VirtualLine>(clock, chatty);
            c.clock = &clock;
            return c;
        });
        link.choosePort("ttyUSB0");
        QCOMPARE(host.status, QString::fromUtf8(kelvane::texts::messageText(Message::LineBusy, 0)));
        QVERIFY(clock.nowMs() <= kelvane::session::DeviceSession::kProbeQuietLimitMs + 250);
        QCOMPARE(chatty.probes(), 0);
    }

    void portThatDoesNotOpenShowsTheErrorAndKeepsTheName() {
        FakeHost host;
        host.language = 1;
        LinkController link(host, nullptr);
        link.choosePort("Wybierz port COM");
        QCOMPARE(link.portName(), PortName("Wybierz port COM"));
        QCOMPARE(host.errors, QStringList{"Port openning error!"});
        // The port tried, why it failed and where another is chosen.
        QCOMPARE(host.details,
                 QStringList{QStringLiteral("Port: %1\n%2\n%3")
                                 .arg(QStringLiteral("Wybierz port COM"),  // as chosen, without a device prefix
                                      QString::fromUtf8(kelvane::texts::messageText(Message::PortMissing, 1)),
                                      QString::fromUtf8(kelvane::texts::messageText(Message::PortChooseHint, 1)))});
        QCOMPARE(host.status, QString("start"));
        link.onDownload();
        QCOMPARE(host.errors.size(), 2);
        QVERIFY(!host.progressVisible);
        QCOMPARE(host.range, qMakePair(-1, -1));
    }

    void downloadThenUploadThroughTheSimulator() {
        FakeHost host;
        LinkController link(host, nullptr);
        host.link = &link;
        QSignalSpy running(&link, &LinkController::transferRunningChanged);
        link.choosePort(kSimulatorPortName);

        link.onDownload();
        QVERIFY(link.transferRunning());
        QCOMPARE(host.range, qMakePair(0, 512));
        QVERIFY(host.progressVisible);
        QCOMPARE(host.status, QString());
        QVERIFY(waitForEnd(link, running));
        QVERIFY(!host.progressVisible);
        QCOMPARE(host.positions.last(), 512);
        QCOMPARE(host.status, QString("Dane pobrane"));
        QCOMPARE(host.displayCalls, 1);
        QVERIFY(host.working == simulatorImage());
        QVERIFY(host.device == host.working);

        // The upload sends the copy taken at its start, whatever the window does meanwhile.
        host.working[100] ^= 0xFF;
        const kelvane::Image sent = host.working;
        link.onUpload();
        QVERIFY(link.transferRunning());
        host.working[200] ^= 0xFF;  // e.g. a data file loaded during the upload
        host.language = 1;          // texts are looked up when shown
        QVERIFY(waitForEnd(link, running));
        QCOMPARE(host.status, QString("Data updated"));
        QVERIFY(host.device == sent);
        QVERIFY(simulatorImage() == sent);
        QCOMPARE(host.displayCalls, 1);  // an upload does not refresh the window
        QCOMPARE(host.offThreadCalls, 0);
        QCOMPARE(running.count(), 4);
    }

    // A controller still sending what an earlier, cancelled download asked
    // for: while the transfer waits for the line, the technician reads why in
    // place of the bar; the bar comes back once frames move.
    void lineStillBusyShowsTheWaitInPlaceOfTheBar() {
        struct Chatty : kelvane::sim::Controller {
            using Controller::Controller;
            void opened(kelvane::sim::VirtualLine& line) override {
                Controller::opened(line);
                for (int i = 1; i <= 20; ++i) line.send({0x55}, 100 * i);  // a byte every 100 ms for 2 s
            }
        };
        for (bool upload : {false, true}) {
            FakeHost host;
            host.working.fill(0x11);
            VirtualPort port;
            Chatty chatty(simulatorImage());
            LinkController link(host, nullptr);
            host.link = &link;
            link.setPortFactory([&](const std::string&) {
                PortConnection c;
                c.line = std::make_unique<kelvane::sim::VirtualLine>(port.clock, chatty);
                c.clock = &port.clock;
                return c;
            });
            QSignalSpy running(&link, &LinkController::transferRunningChanged);
            upload ? link.onUpload() : link.onDownload();
            QVERIFY(waitForEnd(link, running));
            QCOMPARE(host.visibility, (QList<bool>{true, false, true, false}));
            QVERIFY(host.seenStatus.contains(QString::fromUtf8(kelvane::texts::messageText(Message::WaitingForLine, 0))));
            QCOMPARE(host.status, QString(upload ? "Dane wysłane" : "Dane pobrane"));
        }
    }

    void rejectedWindowStartsNoUpload() {
        FakeHost host;
        host.getDataResult = false;
        VirtualPort port;
        LinkController link(host, nullptr);
        link.setPortFactory(port.factory());
        link.onUpload();
        QCOMPARE(host.getDataCalls, 1);
        QCOMPARE(host.uploadsStarted, 0);
        QVERIFY(!link.transferRunning());
        QCOMPARE(host.status, QString("start"));
        QCOMPARE(port.controller.uploadsCompleted(), 0);
    }

    void silentControllerEndsTheUploadWithItsMessage() {
        FakeHost host;
        host.working.fill(0x11);
        VirtualPort port;
        port.controller.faults().silent = true;
        LinkController link(host, nullptr);
        host.link = &link;
        link.setPortFactory(port.factory());
        QSignalSpy running(&link, &LinkController::transferRunningChanged);
        link.onUpload();
        QVERIFY(waitForEnd(link, running));
        QCOMPARE(host.status, QString("Brak odpowiedzi zasilacza"));
        QVERIFY(host.device == kelvane::Image{});
        QVERIFY(!host.progressVisible);
    }

    // A gateway's line that ends in a probe, a download or an upload: the
    // status names the gateway's reason after the generic text, which a
    // serial port's silent controller gets alone.
    void gatewaysReasonFollowsTheStatus() {
        enum class Op { Probe, Download, Upload };
        const struct {
            Op op;
            LineFault fault;
            long cutAfter;  // bytes read on each connection
            Message generic;
        } cases[] = {
            {Op::Probe, LineFault::Closed, 0, Message::ProbeNoAnswer},
            {Op::Probe, LineFault::SettingRefused, 0, Message::ProbeNoAnswer},
            {Op::Download, LineFault::Silent, 2000, Message::NoAnswer},
            {Op::Download, LineFault::None, 2000, Message::NoAnswer},
            {Op::Upload, LineFault::Closed, 2, Message::NoAnswer},
        };
        const std::string port = "rfc2217://127.0.0.1:4001";
        for (const auto& c : cases) {
            FakeHost host;
            host.working.fill(0x11);
            CutPort gateway;
            gateway.fault = c.fault;
            gateway.cutAfter = c.cutAfter;
            LinkController link(host, nullptr);
            host.link = &link;
            link.setPortFactory(gateway.factory());
            QSignalSpy running(&link, &LinkController::transferRunningChanged);
            if (c.op == Op::Probe) link.choosePort(QString::fromStdString(port));
            link.setStartPort(QString::fromStdString(port));
            if (c.op == Op::Download) link.onDownload();
            if (c.op == Op::Upload) link.onUpload();
            QVERIFY(waitForEnd(link, running));
            QString want = QString::fromUtf8(kelvane::texts::messageText(c.generic, 0));
            if (c.op == Op::Probe)
                want = QString::fromStdString(formatPortStatus(want.toStdString(), PortName(port), {}));
            const QString why = QString::fromStdString(kelvane::texts::lineFaultText(c.fault, 0));
            if (!why.isEmpty()) want += QStringLiteral(". ") + why;
            QVERIFY2(host.status.startsWith(want), qPrintable(host.status));
            QCOMPARE(host.status.contains(QStringLiteral("Bramka")), c.fault != LineFault::None);
            QVERIFY(host.errors.isEmpty());
        }
    }

    // A download that ends with blocks missing (block 511 came first) is no
    // download: the window and both images stay, and the status says how many.
    void incompleteDownloadChangesNothingAndSaysHowManyBlocksAreMissing() {
        FakeHost host;
        host.working.fill(0x22);
        const kelvane::Image before = host.working;
        VirtualPort port;
        port.controller.faults().order = kelvane::sim::ControllerFaults::Order::LastFirst;
        LinkController link(host, nullptr);
        link.setPortFactory(port.factory());
        QSignalSpy running(&link, &LinkController::transferRunningChanged);
        link.onDownload();
        QVERIFY(waitForEnd(link, running));
        QCOMPARE(host.status, QString::asprintf(kelvane::texts::messageText(Message::BlocksMissing, 0), 511));
        QVERIFY(host.working == before);
        QVERIFY(host.device == kelvane::Image{});
        QCOMPARE(host.displayCalls, 0);
    }

    void secondTransferOrProbeIsRefusedAndCancelEndsTheFirst() {
        FakeHost host;
        host.working.fill(0x22);
        host.device.fill(0x33);
        const kelvane::Image working = host.working, device = host.device;
        LinkController link(host, nullptr);
        QSignalSpy running(&link, &LinkController::transferRunningChanged);
        // A silent controller on the simulator port, in real time: the download waits.
        link.choosePort(kSimulatorPortName);
        kelvane::sim::ControllerPort::withController([](kelvane::sim::Controller& c) { c.faults().silent = true; });
        link.onDownload();
        QVERIFY(link.transferRunning());

        link.onUpload();
        link.onDownload();
        link.choosePort(kSimulatorPortName);  // the probe finds the port held
        QCOMPARE(host.errors.size(), 3);
        QVERIFY(link.transferRunning());

        QElapsedTimer timer;
        timer.start();
        link.cancelTransfer();
        QVERIFY(waitForEnd(link, running));
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(host.status, QString("Operacja przerwana"));
        QVERIFY(host.working == working);
        QVERIFY(host.device == device);
        QCOMPARE(host.displayCalls, 0);
        kelvane::sim::ControllerPort::withController([](kelvane::sim::Controller& c) { c.faults().silent = false; });
    }

    void cancelledUploadFinishesTheFrameOnTheWireAndSendsNoMore() {
        FakeHost host;
        host.working.fill(0x44);  // every block differs from the zero device image
        PacedPort port;
        LinkController link(host, nullptr);
        host.link = &link;
        port.link = &link;
        port.cancelAt = 4;  // during the third data frame (the command is the first write)
        link.setPortFactory(port.factory());
        QSignalSpy running(&link, &LinkController::transferRunningChanged);
        link.onUpload();
        QVERIFY(waitForEnd(link, running));
        // Blocks went out before the cancel: the controller may hold some of them.
        QCOMPARE(host.status, QStringLiteral("Operacja przerwana. ") +
                                  QString::fromUtf8(kelvane::texts::messageText(Message::MayHoldNewBlocks, 0)));
        QCOMPARE(port.cutWrites.load(), 0);
        // Block 2 was going out when the cancel came (a busy machine may see it
        // a frame or two later); the upload stopped soon after.
        const std::vector<int>& blocks = port.controller.blocksReceived();
        QVERIFY(blocks.size() >= 3 && blocks.size() <= 6);
        for (std::size_t i = 0; i < blocks.size(); ++i) QCOMPARE(blocks[i], int(i));
        QVERIFY(host.device == kelvane::Image{});
    }

    void destroyingTheControllerCutsOffARunningTransfer() {
        FakeHost host;
        auto link = std::make_unique<LinkController>(host, nullptr);
        link->choosePort(kSimulatorPortName);
        kelvane::sim::ControllerPort::withController([](kelvane::sim::Controller& c) { c.faults().silent = true; });
        link->onDownload();
        QVERIFY(link->transferRunning());
        QElapsedTimer timer;
        timer.start();
        link.reset();
        QVERIFY(timer.elapsed() < 1000);
        // The port is free again.
        QVERIFY(
            kelvane::sim::ControllerPort::withController([](kelvane::sim::Controller& c) { c.faults().silent = false; }));
    }

    // Exit during an upload: the frame in flight finishes, the end frame
    // takes the controller out of its upload mode, and it is all over in
    // about two seconds; the next session's probe is answered.
    void destroyingTheControllerMidUploadEndsTheControllersUploadMode() {
        FakeHost host;
        host.working.fill(0x44);  // every block differs: a whole image's line time
        int uploadsBefore = 0;
        kelvane::sim::ControllerPort::withController(
            [&](kelvane::sim::Controller& c) { uploadsBefore = c.uploadsCompleted(); });
        kelvane::sim::ControllerPort::setPaced(true);
        auto link = std::make_unique<LinkController>(host, nullptr);
        host.link = link.get();
        link->choosePort(kSimulatorPortName);
        link->onUpload();
        QVERIFY(link->transferRunning());
        QTest::qWait(700);
        QElapsedTimer timer;
        timer.start();
        link.reset();
        QVERIFY2(timer.elapsed() < 2500, qPrintable(QString::number(timer.elapsed())));
        kelvane::sim::ControllerPort::setPaced(false);
        int uploadsAfter = 0;
        QVERIFY(kelvane::sim::ControllerPort::withController(
            [&](kelvane::sim::Controller& c) { uploadsAfter = c.uploadsCompleted(); }));
        QCOMPARE(uploadsAfter, uploadsBefore + 1);  // the end frame arrived
        host.status.clear();
        LinkController next(host, nullptr);
        next.choosePort(kSimulatorPortName);
        QVERIFY(host.status.startsWith(QStringLiteral("Port ")));
    }

    void threadThatCannotStartShowsTheThreadErrorAndHoldsNothing() {
#ifdef Q_OS_WIN
        QSKIP("Windows raises any stack size to its minimum: the thread starts");
#endif
        FakeHost host;
        LinkController link(host, nullptr);
        link.choosePort(kSimulatorPortName);
        link.setWorkerStackSize(1);  // no system starts a thread with a one-byte stack
        link.onDownload();
        QCOMPARE(host.errors, QStringList{QString::fromUtf8(kelvane::texts::messageText(Message::ThreadError, 0))});
        QVERIFY(!link.transferRunning());
        QVERIFY(!host.progressVisible);
        link.setWorkerStackSize(0);
        QSignalSpy running(&link, &LinkController::transferRunningChanged);
        link.onDownload();  // the port was never held
        QVERIFY(waitForEnd(link, running));
        QCOMPARE(host.status, QString("Dane pobrane"));
    }
};

QTEST_MAIN(LinkControllerTest)
#include "link_controller_test.moc"
