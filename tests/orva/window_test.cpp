// The upgrade window offscreen: layout, port list, Start and Stop against the
// simulated bootloader in fast real time, and Stop over a pty pair.
#include "sim/orva_controller.h"
#include "sim/sample_building.h"
#include "bootloader/firmware_image.h"
#include "orva/job_texts.h"
#include "orva/upgrade_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QLabel>
#include <QPlainTextEdit>
#include <QDir>
#include <QFontDatabase>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QSerialPort>
#include <QSettings>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <memory>

// The bootloader simulator serves ptys, so it is built on Unix only.
#ifndef ORVA_BOOTLOADER_SIM
#define ORVA_BOOTLOADER_SIM ""
#endif

using namespace kelvane::bootloader;
using namespace kelvane::orva;

namespace {

// One simulated controller (configuration link and bootloader) whose time
// runs fast, kept by the test across the runs of a window so it can be
// inspected after a run's thread has ended; each run gets its own line.
struct FastSim {
    FastSim(StopFlag& stop, std::shared_ptr<kelvane::sim::OrvaController> d, int speed)
        : clock(stop, speed), device(std::move(d)) {}
    StoppableClock clock;
    std::shared_ptr<kelvane::sim::OrvaController> device;
    kelvane::sim::VirtualLine line{clock, *device};
};

struct SimFactory {
    kelvane::sim::BootloaderScript script;
    kelvane::sim::OrvaFirmwareEffect effect;
    bool busy = false;
    int speed = 100;     // how much faster than the wall clock
    bool paced = false;  // frames take their line time
    std::shared_ptr<kelvane::sim::OrvaController> device;
    std::vector<std::shared_ptr<FastSim>> made;

    kelvane::sim::OrvaController& controller() {
        if (!device)
            device = std::make_shared<kelvane::sim::OrvaController>(kelvane::SampleBuildingImage(), script, effect);
        return *device;
    }
    PortFactory factory() {
        return [this](const std::string&, StopFlag& stop) {
            controller();
            auto s = std::make_shared<FastSim>(stop, device, speed);
            s->line.setBusy(busy);
            s->line.setPaced(paced);
            made.push_back(s);
            return RunPort{std::shared_ptr<kelvane::link::Line>(s, &s->line),
                           std::shared_ptr<kelvane::link::Clock>(s, &s->clock), s};
        };
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
            UpgradeWindow w([&] { return ports; }, DefaultPort, {[&] { return c.remembered; }, {}});
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
        QCOMPARE(w.statusLine()->toolTip(), QString::fromUtf8(OpenFailureDetail(kelvane::link::OpenFailure::Busy, false)));
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Start"));
        QVERIFY(!w.running());
    }

    void runsToTheEndAndASecondStartReadsTheFileAgain() {
        writeFirmware(1);
        SimFactory sims;
        UpgradeWindow w(oneSimPort, sims.factory());
        w.StartStop();
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Stop"));
        QTRY_COMPARE_WITH_TIMEOUT(w.startStopButton()->text(), QStringLiteral("Start"), 10000);
        QCOMPARE(w.statusLine()->text(), QStringLiteral("Zrobione!"));
        QCOMPARE(w.progressBar()->maximum(), kBlockCount);
        QCOMPARE(w.progressBar()->value(), kBlockCount);
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
        while (w.running() && clock.elapsed() < 10000) QThread::msleep(5);
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
        w.StartStop();
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Stop"));
        QTRY_COMPARE(w.statusLine()->text(), QStringLiteral("ID: 7 Ser: 1234 FV: 105"));
        QTRY_COMPARE_WITH_TIMEOUT(w.statusLine()->text(), QStringLiteral("Bootloader: BV: 1.2"), 4000);
        w.StartStop();
        QCOMPARE(w.statusLine()->text(), QString());
        QCOMPARE(w.startStopButton()->text(), QStringLiteral("Start"));
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
