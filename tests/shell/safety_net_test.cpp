// The safety net offscreen against the built-in simulated controller: the
// question before an upload, Compare, backups, the controller check and the
// questions about unsaved edits, answered by a script.
#include "files/data_file.h"
#include "image/codecs.h"
#include "sim/sample_building.h"
#include "shell/backups.h"
#include "shell/code_grid.h"
#include "shell/form_wiring.h"
#include "texts/language_table.h"
#include "shell/link_controller.h"
#include "shell/main_window.h"
#include "shell/document.h"
#include "shell/safety_net.h"
#include "sim/controller_port.h"
#include "tests/shell/scripted_prompts.h"

#include <QAction>
#include <QFile>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvane;
using namespace kelvane::shell;

namespace {
QString text(texts::Message m) { return QString::fromUtf8(texts::messageText(m, texts::kPolish)); }
}  // namespace

class SafetyNetTest : public QObject {
    Q_OBJECT

    // One window wired to the simulator, which holds the sample building again.
    struct Fixture {
        QTemporaryDir dir;
        ScriptedPrompts prompts;
        MainWindow form;
        FormWiring* wiring;
        Fixture() : wiring(nullptr) {
            QSettings(QStringLiteral("Kelvane"), QStringLiteral("KelvaneMini")).clear();
            sim::ControllerPort::preload(SampleBuildingImage());
            sim::ControllerPort::withController([](sim::Controller& c) { c.image() = SampleBuildingImage(); });
            form.setPrompts(&prompts);
            wiring = WireKelvaneMini(form);
            wiring->safetyNet().setBackupFolder(dir.filePath(QStringLiteral("backups")));
            wiring->safetyNet().setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(20, 30, 15)); });
            wiring->controller().choosePort(QStringLiteral("Symulator"));
        }
        bool idle() {
            return QTest::qWaitFor([&] { return !wiring->controller().transferRunning(); }, 20000);
        }
        void run(const char* action) {
            form.action(action)->trigger();
            QVERIFY(idle());
        }
        void setP204(int value) { form.findChild<QSpinBox*>(QStringLiteral("p204_UpDown"))->setValue(value); }
        Image controller() {
            Image img{};
            sim::ControllerPort::withController([&](sim::Controller& c) { img = c.image(); });
            return img;
        }
    };

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void uploadIsAskedWithTheChangeList() {
        Fixture f;
        // Nothing downloaded yet: always asked, Cancel the default, no "don't ask again".
        f.setP204(60);
        f.run("UPLOAD");
        QCOMPARE(f.prompts.shown.last().kind, QStringLiteral("changes"));
        QCOMPARE(f.prompts.lastChangeTexts.warning, text(texts::Message::UnknownController));
        QVERIFY(f.prompts.lastChangeTexts.rejectIsDefault);
        QVERIFY(f.prompts.lastChangeTexts.dontAsk.isEmpty());
        QVERIFY(f.prompts.shown.last().text.contains(QStringLiteral("Bloki do wysłania: 0–511")));
        QVERIFY(std::all_of(f.form.document().device.begin(), f.form.document().device.end(),
                            [](auto b) { return b == 0; }));
        QVERIFY(f.controller() == SampleBuildingImage());

        f.prompts.choices = {1};  // the edit is discarded for the download
        f.run("DOWNLOAD");
        QVERIFY(f.form.document().device == SampleBuildingImage());

        // Cancel sends nothing; Send sends the listed block and checks it.
        f.setP204(60);
        f.prompts.uploadAnswers = {{false, false, false}, {true, false, true}};
        f.run("UPLOAD");
        QVERIFY(f.prompts.shown.last().text.contains(QStringLiteral("p204 Długość rozmowy: 120 → 60")));
        QVERIFY(f.prompts.lastChangeTexts.warning.isEmpty());
        QVERIFY(!f.prompts.lastChangeTexts.rejectIsDefault);
        QCOMPARE(f.controller()[mem::kParams + 22], 120);
        f.run("UPLOAD");
        QTRY_COMPARE_WITH_TIMEOUT(f.form.statusText(), text(texts::Message::CheckSame), 20000);
        QCOMPARE(f.controller()[mem::kParams + 22], 60);

        // Nothing to send is said; "don't ask again" turns the question and its menu entry off.
        f.prompts.uploadAnswers = {{true, true, false}};
        f.run("UPLOAD");
        QCOMPARE(f.prompts.lastChangeTexts.note, text(texts::Message::NothingToSend));
        QVERIFY(!f.form.action("ASKUPLOAD")->isChecked());
        const int shown = f.prompts.shown.size();
        f.run("UPLOAD");
        QCOMPARE(f.prompts.shown.size(), shown);
        QCOMPARE(f.form.statusText(), text(texts::Message::UploadDone));
        f.form.action("ASKUPLOAD")->trigger();
        QVERIFY(QSettings(QStringLiteral("Kelvane"), QStringLiteral("KelvaneMini")).value("askBeforeUpload").toBool());
    }

    void compareListsWhatAnUploadWouldSend() {
        Fixture f;
        f.form.action("COMPARE")->trigger();
        QCOMPARE(f.prompts.lastChangeTexts.warning, text(texts::Message::UnknownController));
        f.run("DOWNLOAD");
        // Checking the window clears the four values it never shows: an upload would send them.
        f.form.action("COMPARE")->trigger();
        QVERIFY(f.prompts.lastChangeTexts.note.isEmpty());
        QVERIFY(f.prompts.shown.last().text.contains(text(texts::Message::RegionHiddenValues) + " 0x3F78–0x3F7F: 8 B"));
        f.run("UPLOAD");
        f.form.action("COMPARE")->trigger();
        QCOMPARE(f.prompts.lastChangeTexts.note, text(texts::Message::NoDifferences));
        Grid residents = f.form.grid(GridId::Residents)->toGrid();
        residents.rows[1][2] = "4321";
        f.form.grid(GridId::Residents)->setGrid(residents);
        f.form.action("COMPARE")->trigger();
        QCOMPARE(f.prompts.lastChangeTexts.title, text(texts::Message::CompareTitle));
        QVERIFY(f.prompts.lastChangeTexts.accept.isEmpty());
        QVERIFY2(f.prompts.shown.last().text.contains(QStringLiteral("Kod fizyczny 1.1: Kod otwarcia ")),
                 qPrintable(f.prompts.shown.last().text));
        QVERIFY(f.controller() == f.form.document().device);
    }

    void everyCompletedTransferLeavesABackup() {
        Fixture f;
        const QString folder = f.wiring->safetyNet().backupFolder();
        f.run("DOWNLOAD");
        f.run("DOWNLOAD");  // within the same second
        f.setP204(60);
        f.run("UPLOAD");
        const std::vector<BackupEntry> list = ListBackups(folder);
        QCOMPARE(list.size(), std::size_t{3});
        QCOMPARE(QFileInfo(list[2].path).fileName(), QStringLiteral("2026-12-08_203015.kvd"));
        QCOMPARE(QFileInfo(list[0].path).fileName(), QStringLiteral("2026-12-08_203015_3.kvd"));
        QCOMPARE(list[2].port, QStringLiteral("Symulator"));
        QCOMPARE(list[2].description, BackupDescription(false, list[2].when, QStringLiteral("Symulator"), 0));
        QCOMPARE(list[2].residents, 72);
        const auto downloaded = LoadDataFile(QFile::encodeName(list[2].path).toStdString());
        QVERIFY(downloaded && downloaded->image == SampleBuildingImage());
        const auto uploaded = LoadDataFile(QFile::encodeName(list[0].path).toStdString());
        QVERIFY(uploaded && uploaded->image == f.controller());

        // Opened like LOAD: the window and the working image, not the device image.
        const Image device = f.form.document().device;
        f.prompts.backups = {list[2].path};
        f.form.action("BACKUPS")->trigger();
        QVERIFY(f.form.document().working == SampleBuildingImage());
        QVERIFY(f.form.document().device == device);
        QVERIFY(f.form.description().startsWith(list[2].description));

        // A backup that cannot be written is said and fails nothing.
        QFile blocker(f.dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        f.wiring->safetyNet().setBackupFolder(blocker.fileName() + QStringLiteral("/backups"));
        sim::ControllerPort::withController([](sim::Controller& c) { c.image()[0] = 0x42; });
        f.run("DOWNLOAD");
        QVERIFY(f.form.statusText().startsWith(text(texts::Message::DownloadDone) + QStringLiteral(" — Nie zapisano")));
        QCOMPARE(f.form.document().device[0], 0x42);
    }

    void checkNamesTheResidentCodeTheControllerHoldsOtherwise() {
        Fixture f;
        f.form.action("READBACK")->trigger();
        QCOMPARE(f.prompts.shown.last().text, text(texts::Message::CheckNothingKnown));
        f.run("DOWNLOAD");
        sim::ControllerPort::withController(
            [](sim::Controller& c) { c.image()[residentOffset(ResidentCode::Open, 2, 7) + 1] ^= 0x01; });
        f.run("READBACK");
        QCOMPARE(f.form.statusText(), text(texts::Message::CheckDiffers));
        QCOMPARE(f.prompts.lastChangeTexts.title, text(texts::Message::CheckTitle));
        QVERIFY2(f.prompts.shown.last().text.contains(QStringLiteral("Zmieniono: Kod fizyczny 2.7: Kod otwarcia ")),
                 qPrintable(f.prompts.shown.last().text));
        QVERIFY(!f.prompts.shown.last().text.contains(QString::fromUtf8(
            texts::messageText(texts::Message::ChangeUpload, texts::kPolish))));  // nothing of this is sent
        QVERIFY(f.form.document().working == SampleBuildingImage());              // both images untouched
        QVERIFY(f.form.document().device == SampleBuildingImage());
        sim::ControllerPort::withController([](sim::Controller& c) { c.image() = SampleBuildingImage(); });
        f.run("READBACK");
        QCOMPARE(f.form.statusText(), text(texts::Message::CheckSame));
    }

    void unsavedEditsAreAskedAboutFirst() {
        Fixture f;
        f.run("DOWNLOAD");
        const int before = f.prompts.shown.size();
        f.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.form));
        Grid residents = f.form.grid(GridId::Residents)->toGrid();
        residents.rows[1][1] = "777";
        f.form.grid(GridId::Residents)->setGrid(residents);

        f.prompts.choices = {2, 2, 2};  // Cancel each time
        f.form.action("DOWNLOAD")->trigger();
        QVERIFY(!f.wiring->controller().transferRunning());
        f.form.action("LOAD")->trigger();
        QVERIFY(!f.form.close());
        QCOMPARE(f.prompts.shown.size(), before + 3);  // no file dialog after the LOAD question
        for (int i = before; i < before + 3; ++i) QCOMPARE(f.prompts.shown[i].kind, QStringLiteral("choice"));
        QVERIFY(f.prompts.shown[before].text.startsWith(text(texts::Message::UnsavedDownload)));
        QVERIFY(f.prompts.shown[before + 1].text.startsWith(text(texts::Message::UnsavedLoad)));
        QVERIFY(f.prompts.shown[before + 2].text.startsWith(text(texts::Message::UnsavedExit)));

        // Save checks the window and writes it; then nothing is at risk.
        const QString path = f.dir.filePath(QStringLiteral("saved.kvd"));
        f.prompts.choices = {0};
        f.prompts.files = {path};
        QVERIFY(f.form.confirmDiscard(texts::Message::UnsavedExit));
        const auto saved = LoadDataFile(QFile::encodeName(path).toStdString());
        QVERIFY(saved);
        QCOMPARE(DecodeBcdCode(&saved->image[residentOffset(ResidentCode::Logical, 1, 1)]), 777);
        const int after = f.prompts.shown.size();
        QVERIFY(f.form.confirmDiscard(texts::Message::UnsavedExit));
        QCOMPARE(f.prompts.shown.size(), after);

        // A description alone counts for LOAD and Exit, not for a download.
        f.form.descriptionEdit_->setPlainText(QStringLiteral("Klatka Ж 中"));
        QVERIFY(f.form.confirmDiscard(texts::Message::UnsavedDownload));
        f.prompts.choices = {1};
        QVERIFY(f.form.confirmDiscard(texts::Message::UnsavedLoad));
        QCOMPARE(f.prompts.shown.size(), after + 1);
    }

    void savingSaysWhichCharactersTheFileCannotHold() {
        Fixture f;
        const QString path = f.dir.filePath(QStringLiteral("klatka.kvd"));
        f.form.descriptionEdit_->setPlainText(QStringLiteral("Klatka Ж 中 ł"));
        f.form.action("SAVE")->trigger();  // Enter: go back
        QCOMPARE(f.prompts.shown.size(), 1);
        QVERIFY2(f.prompts.shown[0].text.contains(QStringLiteral(": Ж 中\n")), qPrintable(f.prompts.shown[0].text));
        QVERIFY(!QFile::exists(path));
        f.prompts.choices = {0};
        f.prompts.files = {path};
        f.form.action("SAVE")->trigger();
        const auto saved = LoadDataFile(QFile::encodeName(path).toStdString());
        QVERIFY(saved);
        QCOMPARE(QString::fromStdString(saved->description), QStringLiteral("Klatka ? ? ł"));
    }
};

QTEST_MAIN(SafetyNetTest)
#include "safety_net_test.moc"
