// The upgrade window offscreen: layout, port list, Start and Stop against the
// simulated bootloader in fast virtual time, and Stop over a pty pair.
#include "sim/orva_controller.h"
#include "sim/sample_building.h"
#include "bootloader/firmware_image.h"
#include "orva/job_texts.h"
#include "texts/job_text.h"
#include "texts/language_table.h"
#include "texts/link_messages.h"
#include "texts/upgrade_texts.h"
#include "orva/upgrade_window.h"
#include "files/atomic_file.h"
#include "files/data_file.h"
#include "registry/building_register.h"
#include "tests/link/gateway_cut.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QLabel>
#include <QPlainTextEdit>
#include <QDir>
#include <QFontDatabase>
#include <QFile>
#include <QGroupBox>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QSerialPort>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

// The bootloader simulator serves ptys, so it is built on Unix only.
#ifndef ORVA_BOOTLOADER_SIM
#define ORVA_BOOTLOADER_SIM ""
#endif

using namespace kelvane::bootloader;
using namespace kelvane::orva;

namespace {

// The configuration link (2400 baud) read a frame at a time with a pause of
// real time between reads, so a download lasts long enough to be
// interrupted from the window, whatever the machine's load.
class SlowLink : public kelvane::link::Line {
public:
    explicit SlowLink(kelvane::link::Line& line) : line_(line) {}
    bool open(const std::string& name) override { return line_.open(name); }
    bool isOpen() const override { return line_.isOpen(); }
    kelvane::link::OpenFailure openFailure() const override { return line_.openFailure(); }
    void close() override { line_.close(); }
    void setLine(const kelvane::link::LineSettings& s) override {
        slow_ = s.baud == 2400;
        line_.setLine(s);
    }
    void setTimeouts(const kelvane::link::Timeouts& t) override { line_.setTimeouts(t); }
    std::size_t read(std::uint8_t* buf, std::size_t n) override {
        if (!slow_) return line_.read(buf, n);
        QThread::msleep(2);
        return line_.read(buf, std::min<std::size_t>(n, 34));
    }
    std::size_t write(const std::uint8_t* data, std::size_t n) override { return line_.write(data, n); }
    void purgeInput() override { line_.purgeInput(); }
    void purgeOutput() override { line_.purgeOutput(); }
    void interrupt() override { line_.interrupt(); }
    void resetInterrupt() override { line_.resetInterrupt(); }

private:
    kelvane::link::Line& line_;
    bool slow_ = false;
};

// Virtual time that passes only through the run's own sleeps, with real time
// kept at least 1/speed of it, so a run lasts long enough to be stopped from
// the window. A run's thread kept off the processor by a loaded machine loses
// no time on this clock: no time-out expires unless the run itself waited that
// long; it only falls behind the pace and catches up at its next sleeps. A
// Stop ends the real part of a sleep at once.
class PacedClock : public kelvane::link::Clock {
public:
    PacedClock(StopFlag& stop, int speed) : stop_(stop), speed_(std::max(speed, 1)) { real_.start(); }
    std::int64_t nowMs() override { return now_.load(); }
    void sleepMs(int ms) override {
        if (ms <= 0) return;
        now_ += ms;
        const std::int64_t aheadMs = now_ / speed_ - real_.elapsed();
        if (aheadMs > 0 && !stop_.requested()) stop_.waitFor(int(aheadMs));
    }

private:
    StopFlag& stop_;
    const int speed_;
    QElapsedTimer real_;
    std::atomic<std::int64_t> now_{0};
};

// One simulated controller (configuration link and bootloader) whose time
// runs fast, kept by the test across the runs of a window so it can be
// inspected after a run's thread has ended; each run gets its own line.
struct FastSim {
    FastSim(StopFlag& stop, std::shared_ptr<kelvane::sim::OrvaController> d, int speed)
        : clock(stop, speed), device(std::move(d)) {}
    PacedClock clock;
    std::shared_ptr<kelvane::sim::OrvaController> device;
    kelvane::sim::VirtualLine line{clock, *device};
    SlowLink slow{line};
    std::unique_ptr<linktest::GatewayCut> cut;
};

struct SimFactory {
    kelvane::sim::BootloaderScript script;
    kelvane::sim::OrvaFirmwareEffect effect;
    bool busy = false;
    int speed = 100;        // how much faster than the wall clock
    bool paced = false;     // frames take their line time
    bool slowLink = false;  // downloads take a second or so
    long cutAfter = -1;     // the line ends after so many bytes read on an opening (-1: never)
    kelvane::link::LineFault cutFault = kelvane::link::LineFault::None;  // ... naming this end
    std::shared_ptr<kelvane::sim::OrvaController> device;
    std::vector<std::shared_ptr<FastSim>> made;
    std::vector<std::string> devices;  // what each run opened

    kelvane::sim::OrvaController& controller() {
        if (!device)
            device = std::make_shared<kelvane::sim::OrvaController>(kelvane::sampleBuildingImage(), script, effect);
        return *device;
    }
    PortFactory factory() {
        return [this](const std::string& name, StopFlag& stop) {
            controller();
            devices.push_back(name);
            auto s = std::make_shared<FastSim>(stop, device, speed);
            s->line.setBusy(busy);
            s->line.setPaced(paced);
            made.push_back(s);
            kelvane::link::Line* line = slowLink ? static_cast<kelvane::link::Line*>(&s->slow) : &s->line;
            if (cutAfter >= 0)
                line = (s->cut = std::make_unique<linktest::GatewayCut>(*line, cutAfter, cutFault)).get();
            return RunPort{std::shared_ptr<kelvane::link::Line>(s, line),
                           std::shared_ptr<kelvane::link::Clock>(s, &s->clock), s};
        };
    }
};

// The warnings Qt gives, from any thread, while one is alive; passed on too.
class QtWarnings {
public:
    QtWarnings() { previous() = qInstallMessageHandler(&QtWarnings::note); }
    ~QtWarnings() { qInstallMessageHandler(previous()); }
    static QStringList taken() {
        std::lock_guard<std::mutex> lock(mutex());
        return std::exchange(list(), {});
    }

private:
    static void note(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg) {
            std::lock_guard<std::mutex> lock(mutex());
            list() << text;
        }
        if (previous()) previous()(type, context, text);
    }
    static QtMessageHandler& previous() {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static QStringList& list() {
        static QStringList l;
        return l;
    }
};

QList<PortEntry> oneSimPort() { return {{QStringLiteral("COM1"), QStringLiteral("COM1"), {}, false}}; }

void writeFirmware(std::uint8_t salt, int imageBytes = int(kImageSize)) {
    QFile f(QString::fromLatin1(kFirmwareFileName));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QByteArray bytes("Orva");
    for (int i = 0; i < imageBytes; ++i) bytes.append(char(i * 3 + salt));
    f.write(bytes);
}

std::vector<std::uint8_t> expectedImage(std::uint8_t salt, int imageBytes = int(kImageSize)) {
    std::vector<std::uint8_t> img(kImageSize, 0xFF);
    for (int i = 0; i < imageBytes; ++i) img[i] = std::uint8_t(i * 3 + salt);
    return img;
}

QString checklistLine(const UpgradeWindow& w, const char* step) {
    for (const QString& line : w.checklist()->text().split(QLatin1Char('\n')))
        if (line.startsWith(QString::fromUtf8(step))) return line;
    return {};
}

QString stepName(kelvane::jobs::JobStep step) {
    return QString::fromStdString(kelvane::texts::stepName(step, kelvane::texts::kPolish));
}

// The checklist line of each step as it should read ("Kopia konfiguracji: pominięta").
void expectSteps(const UpgradeWindow& w, const std::vector<std::pair<kelvane::jobs::JobStep, QString>>& lines) {
    for (const auto& [step, rest] : lines) {
        const QString want = stepName(step) +
                             (rest.startsWith(QStringLiteral("pomini")) ? QStringLiteral(": ") : QStringLiteral(" ")) +
                             rest;
        QVERIFY2(w.checklist()->text().split(QLatin1Char('\n')).contains(want),
                 qPrintable(want + " in:\n" + w.checklist()->text()));
    }
}

// Answers the window's questions in turn and keeps what they asked.
struct Answers {
    std::vector<bool> replies;
    QStringList asked;
    UpgradeWindow::Question question() {
        return [this](const QString& title, const QString& text, const QString&) {
            asked << title + ": " + text;
            const bool yes = asked.size() <= int(replies.size()) && replies[asked.size() - 1];
            return yes;
        };
    }
};

}  // namespace

void clearMark() {
    QSettings settings(QStringLiteral("Kelvane"), QStringLiteral("Orva_Upgrade"));
    settings.remove(QString::fromLatin1(UpgradeWindow::kFlashMarkKey));
    settings.sync();
}

QString markedPort() {
    return QSettings(QStringLiteral("Kelvane"), QStringLiteral("Orva_Upgrade"))
        .value(QString::fromLatin1(UpgradeWindow::kFlashMarkKey))
        .toString();
}

class UpgradeWindowTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { clearMark(); }

    void init() {
        clearMark();
        QVERIFY(dir_.isValid());
        QDir::setCurrent(dir_.path());
        QFile::remove(QString::fromLatin1(kFirmwareFileName));
    }

    void layoutAndControls() {
        UpgradeWindow w(oneSimPort);
        w.show();
        QCOMPARE(w.windowTitle(), QStringLiteral("Orva Kelvane BootLoader"));
        QCOMPARE(w.frameGeometry().size(), QSize(255, 655));
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(w.minimumSize(), w.maximumSize());

        QCOMPARE(w.statusLine()->objectName(), QStringLiteral("StatusLine"));
        QCOMPARE(w.statusLine()->geometry(), QRect(30, 445, 190, 25));
        QVERIFY(w.statusLine()->isReadOnly());
        QCOMPARE(w.statusLine()->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
        QCOMPARE(w.progressBar()->geometry(), QRect(30, 395, 190, 30));
        QVERIFY(!w.progressBar()->isTextVisible());
        QCOMPARE(w.startStopButton()->geometry(), QRect(70, 30, 100, 30));
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Start"));
        auto* status = w.findChild<QGroupBox*>(QStringLiteral("StatusFrame"));
        auto* port = w.findChild<QGroupBox*>(QStringLiteral("PortFrame"));
        QVERIFY(status && port);
        QCOMPARE(status->title(), QStringLiteral("Status"));
        QCOMPARE(status->geometry(), QRect(20, 260, 210, 225));
        QCOMPARE(port->title(), QStringLiteral("Port"));
        QCOMPARE(port->geometry(), QRect(20, 65, 210, 50));
        QCOMPARE(w.portList()->geometry().topLeft(), QPoint(80, 80));
        QCOMPARE(w.portList()->width(), 80);
        QCOMPARE(w.startStopButton()->font().pixelSize(), 12);
        // The frames lie behind the controls inside them, so clicks reach them.
        QCOMPARE(w.childAt(100, 90), static_cast<QWidget*>(w.portList()));
        // The job's controls: inside the window, none over another, and the
        // checklist above the progress bar.
        QList<QWidget*> controls;
        for (QWidget* c : w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (!qobject_cast<QGroupBox*>(c)) controls << c;
        for (QWidget* c : controls) {
            QVERIFY2(w.rect().contains(c->geometry()), qPrintable(c->objectName()));
            for (QWidget* d : controls)
                QVERIFY2(c == d || !c->geometry().intersects(d->geometry()),
                         qPrintable(c->objectName() + " / " + d->objectName()));
        }
        QVERIFY(w.checklist()->geometry().bottom() < w.progressBar()->geometry().top());
        QVERIFY(status->geometry().contains(w.checklist()->geometry()));
        QCOMPARE(w.haveBackupBox()->text(), QStringLiteral("Mam aktualn\u0105 kopi\u0119 konfiguracji"));
        QVERIFY(!w.haveBackupBox()->isChecked());
        QVERIFY(!w.restoreButton()->isEnabled());
    }

    // The built-in entry is read whole in the 80-pixel list, with "MS Sans
    // Serif" or a face of its width (the test machine has Liberation Sans).
    void simulatorEntryFitsThePortList() {
        std::unique_ptr<QStyle> classic(QStyleFactory::create(QStringLiteral("Windows")));  // the program's style
        UpgradeWindow w([] { return QList<PortEntry>{}; });
        w.portList()->setStyle(classic.get());
        w.portList()->setCurrentIndex(0);
        const QStringList narrowFaces{"MS Sans Serif", "Arial", "Liberation Sans"};
        if (std::none_of(narrowFaces.begin(), narrowFaces.end(),
                         [](const QString& f) { return QFontDatabase::hasFamily(f); }))
            QSKIP("no face of MS Sans Serif's width installed");
        const QString family = QFontInfo(w.portList()->font()).family();
        QStyleOptionComboBox opt;
        opt.initFrom(w.portList());
        opt.editable = false;
        const QRect field =
            w.portList()->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, w.portList());
        QVERIFY2(w.portList()->fontMetrics().horizontalAdvance(QString::fromUtf8(kSimulatorEntry)) <= field.width(),
                 qPrintable(family));
    }

    void emptyPortListOnlyTestsTheFile() {
        SimFactory sims;
        UpgradeWindow w([] { return QList<PortEntry>{}; }, sims.factory());
        QCOMPARE(w.portList()->count(), 1);  // the simulated bootloader alone
        QCOMPARE(w.portList()->currentIndex(), -1);
        w.StartStop();
        QCOMPARE(w.statusLine()->text(), QStringLiteral("Brak pliku: 4817_05.dat"));
        writeFirmware(1);
        w.statusLine()->clear();
        w.StartStop();
        QCOMPARE(w.statusLine()->text(), QString());
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Start"));
        QVERIFY(sims.made.empty());  // no port was opened
    }

    void portListIsSortedWithTheFirstEntryChosen() {
        UpgradeWindow w([] {
            return QList<PortEntry>{{"COM2", "\\\\.\\COM2", {}, false},
                                    {"COM10", "\\\\.\\COM10", {}, false},
                                    {"COM1", "\\\\.\\COM1", {}, false}};
        });
        QStringList texts;
        for (int i = 0; i < w.portList()->count(); ++i) texts << w.portList()->itemText(i);
        QCOMPARE(texts, (QStringList{"COM1", "COM10", "COM2", QString::fromUtf8(kSimulatorEntry)}));
        QCOMPARE(w.portList()->currentIndex(), 0);
        QCOMPARE(w.selectedDevice(), QStringLiteral("\\\\.\\COM1"));
        w.portList()->setCurrentIndex(3);
        QCOMPARE(w.selectedDevice(), QString::fromUtf8(kSimulatorDevice));
    }

    void portListStartsOnTheRememberedPortAndFollowsAdaptersWhenDroppedDown() {
        QList<PortEntry> ports = {{"COM1", "COM1", QString(), false}, {"COM3", "COM3", "FT232R USB UART, FTDI", true}};
        struct Case {
            std::string remembered;
            QString selected;
        } cases[] = {
            {"COM1", "COM1"},
            {"Symulator", QString::fromUtf8(kSimulatorEntry)},
            {"COM5", kelvane::link::prefersUsbPort() ? "COM3" : "COM1"},  // gone: a USB adapter on Linux
        };
        for (const Case& c : cases) {
            UpgradeWindow w([&] { return ports; }, defaultPort, {[&] { return c.remembered; }, {}});
            QCOMPARE(w.portList()->currentText(), c.selected);
        }

        writeFirmware(1);
        SimFactory sims;
        std::string stored;
        UpgradeWindow w([&] { return ports; }, sims.factory(), {{}, [&](const std::string& p) { stored = p; }});
        w.portList()->setCurrentIndex(w.portList()->findText("COM3"));
        QCOMPARE(w.portList()->toolTip(), QStringLiteral("FT232R USB UART, FTDI"));
        ports.prepend({"COM0", "COM0", QString(), true});  // plugged in while idle
        w.portList()->showPopup();
        w.portList()->hidePopup();
        QCOMPARE(w.portList()->itemText(0), QStringLiteral("COM0"));
        QCOMPARE(w.portList()->currentText(), QStringLiteral("COM3"));  // the choice stays
        w.StartStop();
        QCOMPARE(stored, std::string("COM3"));  // a run started on it: remembered
        QTRY_COMPARE_WITH_TIMEOUT(w.startStopButton()->text(), QStringLiteral("Start"), 10000);
    }

    void startWithoutFileOpensNoPort() {
        SimFactory sims;
        UpgradeWindow w(oneSimPort, sims.factory());
        w.StartStop();
        QCOMPARE(w.statusLine()->text(), QStringLiteral("Brak pliku: 4817_05.dat"));
        // The tooltip names the folder searched; a file found there ends it.
        QCOMPARE(w.statusLine()->toolTip(), QStringLiteral("Szukano w folderze: ") + QDir::toNativeSeparators(dir_.path()));
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Start"));
        QVERIFY(sims.made.empty());
        writeFirmware(1);
        w.StartStop();
        QVERIFY(w.statusLine()->toolTip().isEmpty());
        w.StartStop();
    }

    void busyPortIsReported() {
        writeFirmware(1);
        SimFactory sims;
        sims.busy = true;
        UpgradeWindow w(oneSimPort, sims.factory());
        w.StartStop();
        QTRY_COMPARE(w.statusLine()->text(), QStringLiteral("Port w u\u017Cyciu"));
        QCOMPARE(w.statusLine()->toolTip(), QString::fromStdString(kelvane::texts::upgrade::openFailureDetail(
                                                kelvane::link::OpenFailure::Busy, false)));
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Start"));
        QVERIFY(!w.running());
    }

    // "Port zdalny…" in the list's context menu: a gateway's address is listed
    // and chosen as the port; anything else is refused and changes nothing.
    void remotePortEntryTakesOnlyAGatewaysAddress() {
        UpgradeWindow w(oneSimPort);
        const QList<QAction*> actions = w.portList()->actions();
        const auto remote = std::find_if(actions.begin(), actions.end(), [](QAction* a) {
            return a->text() == QString::fromUtf8(kelvane::texts::upgrade::kRemotePort);
        });
        QVERIFY(remote != actions.end());
        const QString address = QStringLiteral("rfc2217://127.0.0.1:4001");
        const struct {
            QString typed;
            bool taken;
        } cases[] = {{QStringLiteral("rfc2217://127.0.0.1"), false}, {address, true}, {QStringLiteral("COM1:4001"), false}};
        for (const auto& c : cases) {
            QString refused;
            QTimer answer;  // the dialogs are modal: answered from their own event loops
            connect(&answer, &QTimer::timeout, this, [&] {
                QWidget* modal = QApplication::activeModalWidget();
                if (auto* input = qobject_cast<QInputDialog*>(modal)) {
                    input->setTextValue(c.typed);
                    input->accept();
                } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                    refused = box->text();
                    box->accept();
                }
            });
            answer.start(10);
            const QString before = w.selectedDevice();
            (*remote)->trigger();
            answer.stop();
            QCOMPARE(refused, c.taken ? QString() : QString::fromUtf8(kelvane::texts::upgrade::kRemotePortRefused));
            QCOMPARE(w.selectedDevice(), c.taken ? c.typed : before);
        }
        QCOMPARE(w.portList()->currentText(), address);
        QCOMPARE(w.portList()->findText(address), w.portList()->currentIndex());
    }

    // A gateway's line that ends mid-backup: the status line and the change
    // box name the gateway's reason after the step's; a serial port whose
    // controller fell silent keeps the generic text alone.
    void gatewaysReasonFollowsTheFailedStep() {
        using kelvane::link::LineFault;
        writeFirmware(4);
        const QString closed =
            QString::fromStdString(kelvane::texts::lineFaultText(LineFault::Closed, kelvane::texts::kPolish));
        QVERIFY(!closed.isEmpty());
        for (LineFault fault : {LineFault::Closed, LineFault::Silent, LineFault::None}) {
            SimFactory sims;
            sims.cutAfter = 3000;  // the probe's answer and some blocks of the backup
            sims.cutFault = fault;
            UpgradeWindow w(oneSimPort, sims.factory());
            w.StartStop();
            QTRY_COMPARE_WITH_TIMEOUT(w.startStopButton()->text(), QStringLiteral("Start"), 20000);
            const QString why = QString::fromStdString(kelvane::texts::lineFaultText(fault, kelvane::texts::kPolish));
            const QString failed = QString::fromUtf8(kelvane::orva::texts::kBackupFailed);
            QCOMPARE(w.statusLine()->text(), why.isEmpty() ? failed : failed + QStringLiteral(". ") + why);
            const QStringList box = w.changeList()->toPlainText().split(QLatin1Char('\n'));
            QCOMPARE(box.contains(why), !why.isEmpty());
            QCOMPARE(box.contains(closed), fault == LineFault::Closed);
            QCOMPARE(int(w.lastOutcome()->step(kelvane::jobs::JobStep::Backup).fault), int(fault));
        }
    }

    void runsToTheEndAndASecondStartReadsTheFileAgain() {
        writeFirmware(1);
        SimFactory sims;
        UpgradeWindow w(oneSimPort, sims.factory());
        w.StartStop();
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Stop"));
        QTRY_COMPARE_WITH_TIMEOUT(w.startStopButton()->text(), QStringLiteral("Start"), 10000);
        QCOMPARE(w.statusLine()->text(), QStringLiteral("Zrobione!"));
        // Full: the bar follows the flash, then the verification's download.
        QCOMPARE(w.progressBar()->value(), w.progressBar()->maximum());
        QCOMPARE(sims.made.at(0)->device->flashed(), expectedImage(1));

        writeFirmware(7, 500);  // replaced between two Starts
        w.StartStop();
        QTRY_COMPARE_WITH_TIMEOUT(w.startStopButton()->text(), QStringLiteral("Start"), 10000);
        QCOMPARE(w.statusLine()->text(), QStringLiteral("Zrobione!"));
        QCOMPARE(sims.made.at(1)->device->flashed(), expectedImage(7, 500));
    }

    void startRightAfterARunEndedDropsThatRunsLastUpdates() {
        writeFirmware(1);
        SimFactory sims;
        UpgradeWindow w(oneSimPort, sims.factory());
        w.StartStop();
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Stop"));
        // The worker ends by itself while the window handles no event, so its
        // final message and end notice are still queued at the next click.
        QElapsedTimer clock;
        clock.start();
        while (w.running() && clock.elapsed() < 30000) QThread::msleep(5);
        QVERIFY(!w.running());
        QFile::remove(QString::fromLatin1(kFirmwareFileName));
        w.StartStop();
        QCOMPARE(w.statusLine()->text(), QStringLiteral("Brak pliku: 4817_05.dat"));
        QTest::qWait(100);
        QCOMPARE(w.statusLine()->text(), QStringLiteral("Brak pliku: 4817_05.dat"));
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Start"));
    }

    void stopEndsTheRunAtOnce() {
        writeFirmware(2);
        SimFactory sims;
        sims.speed = 10;  // programming takes about 2.5 s, so Stop comes in the middle
        sims.paced = true;
        UpgradeWindow w(oneSimPort, sims.factory());
        w.haveBackupBox()->setChecked(true);  // straight to the flash
        w.StartStop();
        QTRY_VERIFY_WITH_TIMEOUT(w.progressBar()->value() > 200, 10000);
        QFile::remove(QString::fromLatin1(kFirmwareFileName));  // no effect on Stop
        w.StartStop();
        auto& sim = *sims.made.at(0);
        const auto writes = sim.line.writes().size();
        const int position = w.progressBar()->value();
        QCOMPARE(w.statusLine()->text(), QString());
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Start"));
        QVERIFY(!w.running());
        QVERIFY(!sim.line.isOpen());
        QTest::qWait(200);  // nothing of the stopped run arrives later
        QCOMPARE(w.statusLine()->text(), QString());
        QCOMPARE(w.progressBar()->value(), position);
        QCOMPARE(sim.line.writes().size(), writes);
        QVERIFY(!sim.device->bootloader().ended());
        QVERIFY(sim.line.open("COM1"));  // free for the next user at once
    }

    void closingTheWindowDuringARunStopsIt() {
        writeFirmware(3);
        SimFactory sims;
        auto w = std::make_unique<UpgradeWindow>(oneSimPort, sims.factory());
        w->show();
        w->StartStop();
        QTRY_VERIFY_WITH_TIMEOUT(w->progressBar()->value() > 10, 10000);
        QVERIFY(w->close());
        auto& sim = *sims.made.at(0);
        const auto writes = sim.line.writes().size();
        QVERIFY(!w->running());
        QVERIFY(!sim.line.isOpen());
        w.reset();
        QTest::qWait(100);
        QCOMPARE(sim.line.writes().size(), writes);
    }

    void builtInSimulatorEntryAnswersLikeAController() {
        writeFirmware(5);
        UpgradeWindow w([] { return QList<PortEntry>{}; });  // the program's own port factory
        w.portList()->setCurrentIndex(w.portList()->count() - 1);
        QCOMPARE(w.portList()->currentText(), QString::fromUtf8(kSimulatorEntry));
        w.haveBackupBox()->setChecked(true);  // straight to the flash, without the 73 s download
        // Every text the status line showed, so a busy machine that repaints
        // late cannot miss one that stood only briefly.
        QSignalSpy shown(w.statusLine(), &QLineEdit::textChanged);
        const auto wasShown = [&shown](const char* text) {
            return std::any_of(shown.begin(), shown.end(), [text](const QList<QVariant>& args) {
                return args.at(0).toString() == QLatin1String(text);
            });
        };
        w.StartStop();
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Stop"));
        QTRY_VERIFY(wasShown("ID: 7 Ser: 1234 FV: 105"));
        QTRY_VERIFY_WITH_TIMEOUT(wasShown("Bootloader: BV: 1.2"), 4000);
        w.StartStop();
        QCOMPARE(w.statusLine()->text(), QString());
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Start"));
    }

    // The whole job against the simulated controller: backed up, flashed,
    // back with its new firmware, the configuration read again and equal.
    void jobEndToEndVerifiesTheConfigurationEqual() {
        using kelvane::jobs::JobStep;
        writeFirmware(6);
        SimFactory sims;
        const kelvane::Image before = sims.controller().controller().image();
        const bool withRegister = kelvane::registry::Register::available();
        if (withRegister) {  // the register knows the building
            kelvane::registry::Register reg;
            QVERIFY(reg.open(kelvane::registry::Register::defaultPath()));
            QVERIFY(reg.describe({1, 4660}, "Kwiatowa 5", ""));
        }
        QtWarnings warnings;
        UpgradeWindow w(oneSimPort, sims.factory());
        w.StartStop();
        QTRY_COMPARE_WITH_TIMEOUT(w.startStopButton()->text(), QStringLiteral("Start"), 20000);
        QCOMPARE(w.statusLine()->text(), QStringLiteral("Zrobione!"));
        if (withRegister) QVERIFY(w.changeList()->toPlainText().startsWith(QStringLiteral("Budynek: Kwiatowa 5\n")));
        // The register the job recorded in was opened and let go on the job's
        // own thread: Qt saw no connection used from another one.
        const QStringList said = QtWarnings::taken();
        QVERIFY2(said.filter(QStringLiteral("thread")).isEmpty(), qPrintable(said.join(QLatin1Char('\n'))));
        const QString done = QStringLiteral("\u2713");
        expectSteps(w, {{JobStep::Identify, done},
                        {JobStep::Backup, done},
                        {JobStep::Flash, done},
                        {JobStep::Return, done},
                        {JobStep::Verify, done + QStringLiteral(" bez zmian")}});
        QCOMPARE(w.checklist()->text().section(QLatin1Char('\n'), 0, 1),
                 QStringLiteral("ID: 1 Ser: 4660\nFV: 259 (nowa: 106)"));
        QCOMPARE(sims.device->flashed(), expectedImage(6));
        QCOMPARE(sims.device->controller().image(), before);
        QVERIFY(w.changeList()->toPlainText().contains(QString::fromUtf8(kelvane::orva::texts::kConfigurationSame)));
        QVERIFY(!w.restoreButton()->isEnabled());
        QCOMPARE(markedPort(), QString());  // the flash ended: no mark left

        // The backup: a data file only its owner reads, named in the change box.
        const auto& out = *w.lastOutcome();
        const QString backup = QString::fromStdString(out.backupPath);
        QVERIFY(w.changeList()->toPlainText().contains(QDir::toNativeSeparators(backup)));
        const auto file = kelvane::loadDataFileFrom(kelvane::pathFromUtf8(out.backupPath));
        QVERIFY(file);
        QCOMPARE(file->image, before);
#ifdef Q_OS_UNIX
        QCOMPARE(QFile::permissions(backup) & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                 QFile::Permissions());
#endif
        // In the register: the backup with its image, then the flash.
        if (kelvane::registry::Register::available()) {
            kelvane::registry::Register reg;
            QVERIFY(reg.open(kelvane::registry::Register::defaultPath()));
            const auto visits = reg.visits({out.before->id, out.before->serialNumber});
            QVERIFY(visits.size() >= 2);
            QCOMPARE(int(visits[0].kind), int(kelvane::registry::VisitKind::Flash));
            QCOMPARE(visits[0].outcome, std::string("completed, firmware 259 -> 106"));
            QCOMPARE(visits[0].firmware.value_or(0), 106);
            QCOMPARE(int(visits[1].kind), int(kelvane::registry::VisitKind::Backup));
            QVERIFY(visits[1].hasImage);
        }
    }

    // A firmware that clears the configuration: found, listed, and put back
    // only once the question is answered yes.
    void firmwareThatClearsTheConfigurationIsListedAndRestored() {
        using kelvane::jobs::JobStep;
        writeFirmware(8);
        SimFactory sims;
        sims.effect.resetsConfiguration = true;
        const kelvane::Image building = sims.controller().controller().image();
        UpgradeWindow w(oneSimPort, sims.factory());
        Answers answers{{false, true}, {}};
        w.setQuestion(answers.question());
        w.StartStop();
        QTRY_COMPARE_WITH_TIMEOUT(w.startStopButton()->text(), QStringLiteral("Start"), 20000);
        const auto changed = w.lastOutcome()->changedBlocks;
        QVERIFY(!changed.empty());
        expectSteps(w, {{JobStep::Verify, QStringLiteral("\u2713 zmiany: %1").arg(changed.size())}});
        const QString list = w.changeList()->toPlainText();
        QVERIFY(list.contains(QString::fromUtf8(kelvane::orva::texts::kConfigurationChanged)));
        QVERIFY2(list.contains(QStringLiteral("Lokatorzy")), qPrintable(list));  // the change list's own captions
        QVERIFY(w.restoreButton()->isEnabled());
        QCOMPARE(sims.device->controller().image(), kelvane::initialImage());

        // Another entry chosen meanwhile: the backup still goes where it came from.
        w.portList()->setCurrentIndex(w.portList()->count() - 1);
        for (const bool yes : {false, true}) {
            const std::size_t runs = sims.made.size();
            w.restoreButton()->click();
            QCOMPARE(answers.asked.size(), yes ? 2 : 1);
            QVERIFY(answers.asked.last().contains(QStringLiteral("Przywr\u00F3\u0107 konfiguracj\u0119?")));
            if (!yes) {
                QCOMPARE(sims.made.size(), runs);  // declined: no port opened
                QVERIFY(w.restoreButton()->isEnabled());
                continue;
            }
            QTRY_COMPARE_WITH_TIMEOUT(w.startStopButton()->text(), QStringLiteral("Start"), 20000);
        }
        QCOMPARE(sims.device->controller().image(), building);
        QCOMPARE(sims.devices.back(), std::string("COM1"));
        expectSteps(w, {{JobStep::Restore, QStringLiteral("\u2713 bez zmian")}});
        QVERIFY(w.changeList()->toPlainText().contains(QString::fromUtf8(kelvane::orva::texts::kConfigurationRestored)));
        QVERIFY(!w.restoreButton()->isEnabled());
    }

    // Esc while the backup downloads asks; yes skips it (and with it the
    // comparison after the flash), no lets it finish.
    void escDuringTheBackupAsksToSkipIt() {
        using kelvane::jobs::JobStep;
        for (const bool skip : {true, false}) {
            writeFirmware(9);
            SimFactory sims;
            sims.slowLink = true;
            sims.speed = 10;
            UpgradeWindow w(oneSimPort, sims.factory());
            Answers answers{{skip}, {}};
            w.setQuestion(answers.question());
            w.StartStop();
            QTRY_VERIFY2_WITH_TIMEOUT(checklistLine(w, "Kopia konfiguracji").endsWith(QLatin1Char('%')),
                                      qPrintable(w.checklist()->text() + " / " + w.statusLine()->text()), 10000);
            QTest::keyClick(&w, Qt::Key_Escape);
            QCOMPARE(answers.asked.size(), 1);
            QTRY_COMPARE_WITH_TIMEOUT(w.startStopButton()->text(), QStringLiteral("Start"), 20000);
            QCOMPARE(w.statusLine()->text(), QStringLiteral("Zrobione!"));
            QCOMPARE(sims.device->flashed(), expectedImage(9));
            const auto& out = *w.lastOutcome();
            QCOMPARE(out.backup.has_value(), !skip);
            QCOMPARE(out.backupPath.empty(), skip);
            const QString skipped = QStringLiteral("pomini\u0119ta");
            if (skip)
                expectSteps(w, {{JobStep::Backup, skipped}, {JobStep::Verify, skipped}});
            else
                expectSteps(w, {{JobStep::Backup, QStringLiteral("\u2713")},
                                {JobStep::Verify, QStringLiteral("\u2713 bez zmian")}});
        }
    }

    // A controller that does not answer after the flash: the wait ends
    // within its bound and says why.
    void controllerThatNeverComesBackIsReportedInTime() {
        using kelvane::jobs::JobStep;
        writeFirmware(10);
        SimFactory sims;
        sims.effect.neverReturns = true;
        UpgradeWindow w(oneSimPort, sims.factory());
        QElapsedTimer clock;
        clock.start();
        w.StartStop();
        // 30 s of the simulator's time, a hundred times faster.
        QTRY_COMPARE_WITH_TIMEOUT(w.startStopButton()->text(), QStringLiteral("Start"), 20000);
        QVERIFY(clock.elapsed() < 15000);
        QCOMPARE(w.statusLine()->text(), QString::fromUtf8(kelvane::orva::texts::kNotBack));
        QVERIFY2(w.statusLine()->toolTip().contains(QStringLiteral("brak odpowiedzi przez 30 s po programowaniu")),
                 qPrintable(w.statusLine()->toolTip()));
        expectSteps(w, {{JobStep::Flash, QStringLiteral("\u2713")}, {JobStep::Return, QStringLiteral("\u2717")}});
        QCOMPARE(w.lastOutcome()->end, kelvane::jobs::JobEnd::NotBack);
        QCOMPARE(markedPort(), QString());  // flashed whole: not a job stopped halfway
    }

    // A file that is not firmware is refused when chosen and at Start, before
    // any port is opened; a firmware file is shown with its fingerprint.
    void nonFirmwareFileIsRefusedBeforeAnythingIsSent() {
        SimFactory sims;
        UpgradeWindow w(oneSimPort, sims.factory());
        const QString good = dir_.filePath(QStringLiteral("nowy.dat"));
        const QString text = dir_.filePath(QStringLiteral("notes.txt"));
        const QString missing = dir_.filePath(QStringLiteral("brak.dat"));
        {
            QFile f(good);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("Orva") + QByteArray(1000, 'x'));
            QFile t(text);
            QVERIFY(t.open(QIODevice::WriteOnly));
            t.write("Notatki z wizyty, nie oprogramowanie");
        }
        const struct {
            QString path;
            bool taken;
            QString status;
        } cases[] = {
            {text, false, QStringLiteral("B\u0142\u0119dny plik: notes.txt")},
            {missing, false, QStringLiteral("Brak pliku: brak.dat")},
            {dir_.path(), false, QStringLiteral("Brak pliku: ") + QFileInfo(dir_.path()).fileName()},
            {good, true, QString()},
        };
        for (const auto& c : cases) {
            const QString was = w.firmwarePath();
            QCOMPARE(w.chooseFirmware(c.path), c.taken);
            QCOMPARE(w.statusLine()->text(), c.status);
            QCOMPARE(w.firmwarePath(), c.taken ? QFileInfo(c.path).absoluteFilePath() : was);
        }
        QFile f(good);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString sha = QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
        const QString info = w.firmwareInfo()->text();
        QVERIFY2(info.contains(QStringLiteral("nowy.dat")) && info.contains(QStringLiteral("1")) &&
                     info.contains(sha.left(32)) && info.contains(sha.mid(32)),
                 qPrintable(info));

        // Changed into something else between the choice and Start.
        QVERIFY(f.remove());
        QVERIFY(QFile::copy(text, good));
        w.StartStop();
        QCOMPARE(w.statusLine()->text(), QStringLiteral("B\u0142\u0119dny plik: nowy.dat"));
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Start"));
        QVERIFY(sims.made.empty());
    }

    // A Stop in the middle of the flash leaves a mark; the next start asks
    // to flash again, and yes flashes the controller from its bootloader.
    void jobStoppedHalfwayIsOfferedAgainAtTheNextStart() {
        using kelvane::jobs::JobStep;
        writeFirmware(11);
        SimFactory sims;
        sims.paced = true;
        sims.speed = 10;  // the flash takes about 3.4 s
        {
            UpgradeWindow w(oneSimPort, sims.factory());
            w.haveBackupBox()->setChecked(true);
            w.StartStop();
            QTRY_VERIFY_WITH_TIMEOUT(w.progressBar()->value() > 100, 20000);
            w.StartStop();
        }
        QCOMPARE(markedPort(), QStringLiteral("COM1"));
        QCOMPARE(sims.device->bootloader().mode(), kelvane::sim::BootloaderModel::Mode::Bootloader);
        sims.speed = 100;
        sims.paced = false;

        // Declined at the start: nothing opened, the mark stays; a Start that
        // then finds the controller silent asks again, and yes flashes it.
        const std::size_t runs = sims.made.size();
        Answers answers{{false, true}, {}};
        UpgradeWindow w(oneSimPort, sims.factory());
        w.setQuestion(answers.question());
        QTRY_COMPARE(answers.asked.size(), 1);
        QVERIFY(answers.asked[0].contains(QStringLiteral("COM1")));
        QTest::qWait(50);
        QCOMPARE(sims.made.size(), runs);
        QCOMPARE(markedPort(), QStringLiteral("COM1"));
        w.StartStop();
        QTRY_COMPARE_WITH_TIMEOUT(answers.asked.size(), 2, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(w.startStopButton()->text(), QStringLiteral("Start"), 20000);
        QCOMPARE(w.statusLine()->text(), QStringLiteral("Zrobione!"));
        const QString skipped = QStringLiteral("pomini\u0119ta");
        expectSteps(w, {{JobStep::Identify, skipped},
                        {JobStep::Backup, skipped},
                        {JobStep::Flash, QStringLiteral("\u2713")},
                        {JobStep::Return, QStringLiteral("\u2713")}});
        QCOMPARE(sims.device->flashed(), expectedImage(11));
        QCOMPARE(markedPort(), QString());
    }

    void stopReleasesARealPortAtOnce() {
        if (QStringLiteral(ORVA_BOOTLOADER_SIM).isEmpty()) QSKIP("no bootloader simulator on a pty here");
        if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty()) QSKIP("socat is not installed");
        const QString tool = dir_.filePath(QStringLiteral("tool"));
        const QString device = dir_.filePath(QStringLiteral("device"));
        QProcess socat;
        socat.start(QStringLiteral("socat"), {"pty,raw,echo=0,link=" + tool, "pty,raw,echo=0,link=" + device});
        QTRY_VERIFY(QFile::exists(tool) && QFile::exists(device));
        // A controller that answers the reset request but whose bootloader
        // never greets: the run stays in the banner wait.
        QProcess bootloader;
        bootloader.start(QStringLiteral(ORVA_BOOTLOADER_SIM), {"--port", device, "--banner", "none"});
        QVERIFY(bootloader.waitForReadyRead(5000));

        writeFirmware(4);
        UpgradeWindow w([tool] { return QList<PortEntry>{{QStringLiteral("pty"), tool, {}, false}}; });
        // A bare bootloader does not answer the configuration probe: flashed
        // without a backup all the same.
        w.haveBackupBox()->setChecked(true);
        w.StartStop();
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Stop"));
        QTRY_COMPARE_WITH_TIMEOUT(w.statusLine()->text(), QStringLiteral("ID: 7 Ser: 1234 FV: 105"), 10000);
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        w.StartStop();
        QVERIFY2(clock.elapsed() < 500, "Stop waited for the banner read to time out");
        QSerialPort other;
        other.setPortName(tool);
        QVERIFY(other.open(QIODevice::ReadWrite));
        other.close();
        QCOMPARE(w.statusLine()->text(), QString());

        bootloader.kill();
        bootloader.waitForFinished();
        socat.kill();
        socat.waitForFinished();
    }

private:
    QTemporaryDir dir_;
};

QTEST_MAIN(UpgradeWindowTest)
#include "window_test.moc"
