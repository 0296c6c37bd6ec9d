// The safety net offscreen against the built-in simulated controller: the
// question before an upload, Compare, backups, the controller check and the
// questions about unsaved edits, answered by a script.
#include "files/sealing.h"
#include "files/data_file.h"
#include "image/codecs.h"
#include "link/port.h"
#include "sim/sample_building.h"
#include "shell/backups.h"
#include "shell/code_grid.h"
#include "shell/form_wiring.h"
#include "texts/language_table.h"
#include "shell/link_controller.h"
#include "shell/main_window.h"
#include "shell/document.h"
#include "registry/building_register.h"
#include "shell/safety_net.h"
#include "sim/controller_port.h"
#include "shell/register_dialog.h"
#include "texts/report_text.h"
#include "tests/jobs/upload_scenarios.h"
#include "tests/shell/scripted_prompts.h"

#ifdef KELVANE_TEST_WITH_SQL
#include <QSqlDatabase>
#include <QSqlQuery>
#endif

#include <optional>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

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
        explicit Fixture(const QString& reg = QString()) : wiring(nullptr) {
            // A register of this case alone.
            qputenv("KELVANE_REGISTER", QFile::encodeName(reg.isEmpty() ? registerPath() : reg));
            QSettings(QStringLiteral("Kelvane"), QStringLiteral("KelvaneMini")).clear();
            if (reg.isEmpty()) {
                sim::ControllerPort::preload(sampleBuildingImage());
                sim::ControllerPort::withController([](sim::Controller& c) { c.image() = sampleBuildingImage(); });
            }
            form.setPrompts(&prompts);
            wiring = wireKelvaneMini(form);
            wiring->safetyNet().setBackupFolder(dir.filePath(QStringLiteral("backups")));
            wiring->safetyNet().setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(20, 30, 15)); });
            wiring->controller().choosePort(QStringLiteral("Symulator"));
        }
        bool idle() {
            return QTest::qWaitFor(
                [&] { return !wiring->controller().transferRunning() && !wiring->safetyNet().uploadRunning(); }, 20000);
        }
        void run(const char* action) {
            form.action(action)->trigger();
            QVERIFY(idle());
        }
        void setP204(int value) { form.findChild<QSpinBox*>(QStringLiteral("p204_UpDown"))->setValue(value); }
        QString registerPath() const { return dir.filePath(QStringLiteral("register.sqlite")); }
        registry::ControllerKey connected() const {
            const auto& id = wiring->controller().lastIdentity();
            return id ? registry::ControllerKey{id->id, id->serialNumber} : registry::kUnknownController;
        }
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
        // Nothing downloaded yet: always asked, Cancel the default, no "don't ask again",
        // even after "don't ask again" in an earlier run.
        QSettings settings(QStringLiteral("Kelvane"), QStringLiteral("KelvaneMini"));
        settings.setValue("askBeforeUpload", false);
        f.setP204(60);
        f.prompts.choices = {0};  // where the image came from is not known: sent all the same
        f.run("UPLOAD");
        QVERIFY(!f.prompts.shown.isEmpty());
        QCOMPARE(f.prompts.shown.last().kind, QStringLiteral("changes"));
        QCOMPARE(f.prompts.lastChangeTexts.warning, text(texts::Message::UnknownController));
        QVERIFY(f.prompts.lastChangeTexts.rejectIsDefault);
        QVERIFY(f.prompts.lastChangeTexts.dontAsk.isEmpty());
        QVERIFY(f.prompts.shown.last().text.contains(QStringLiteral("Bloki do wysłania: 0–511")));
        // The controller's side is unknown: only the new values, nothing "from".
        QVERIFY(f.prompts.shown.last().text.contains(QStringLiteral("p204 Długość rozmowy: 60\n")));
        QVERIFY(!f.prompts.shown.last().text.contains(QStringLiteral("→")));
        QVERIFY(std::all_of(f.form.document().device.begin(), f.form.document().device.end(),
                            [](auto b) { return b == 0; }));
        QVERIFY(f.controller() == sampleBuildingImage());
        settings.setValue("askBeforeUpload", true);

        f.prompts.choices = {1};  // the edit is discarded for the download
        f.run("DOWNLOAD");
        QVERIFY(f.form.document().device == sampleBuildingImage());

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

        // Nothing to send is said, not asked; "don't ask again" turns the question and its menu entry off.
        int shown = f.prompts.shown.size();
        f.run("UPLOAD");
        QCOMPARE(f.form.statusText(), text(texts::Message::NothingToSend));
        QCOMPARE(f.prompts.shown.size(), shown);
        f.setP204(90);
        f.prompts.uploadAnswers = {{true, true, false}};
        f.run("UPLOAD");
        QVERIFY(!f.form.action("ASKUPLOAD")->isChecked());
        shown = f.prompts.shown.size();
        f.setP204(100);
        f.run("UPLOAD");
        QCOMPARE(f.prompts.shown.size(), shown);
        QCOMPARE(f.form.statusText(), text(texts::Message::UploadDone));
        f.form.action("ASKUPLOAD")->trigger();
        QVERIFY(QSettings(QStringLiteral("Kelvane"), QStringLiteral("KelvaneMini")).value("askBeforeUpload").toBool());
    }

    // The upload's scenarios (tests/jobs/upload_scenarios.h) in the window:
    // the guard asks with Cancel the default, "read and merge" is the
    // default when the file's base is known.
    void uploadScenariosEndWithWhatTheControllerShouldHold() {
#ifndef KELVANE_TEST_WITH_SQL
        QSKIP("the building register is not part of this build");
#else
        if (!registry::Register::available()) QSKIP("the building register is not part of this build");
        namespace us = upload_scenarios;
        for (const us::Scenario& c : us::kScenarios) {
            QTemporaryDir office;
            const QString reg = office.filePath(QStringLiteral("register.sqlite"));
            const QString file = office.filePath(QStringLiteral("office.kvd"));
            QVERIFY(saveDataFileTo(QFile::encodeName(file).toStdString(), us::edited(us::imageA()), ""));
            if (c.start != us::Start::Download) QVERIFY(us::recordOffice(reg.toStdString(), file.toStdString()));
            const Image before = c.connect == us::Connect::Other ? us::imageB()
                                 : c.keypad                      ? us::keypad(us::imageA())
                                                                 : us::imageA();
            // The controller connected: before the run for a download, after it otherwise.
            const auto connect = [&](const Image& held, bool other, bool silent) {
                sim::ControllerPort::preload(held);
                sim::ControllerPort::withController([&](sim::Controller& ctl) {
                    ctl.image() = held;
                    ctl.setIdentity(other ? sim::Controller::Identity{0x00, 0x02, 0x39, 0x30, 0x05, 0x01, 0x00, 0x00}
                                          : sim::Controller::kDefaultIdentity);
                    ctl.faults().silent = silent;
                });
            };
            connect(c.start == us::Start::Download ? us::imageA() : before, false, false);
            if (c.reg == us::Reg::Broken) {
                QFile broken(reg);
                QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
                broken.write("random bytes, no database");
            }
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("lock"));
            std::optional<QSqlQuery> lock;
            if (c.reg == us::Reg::Locked) {
                db.setDatabaseName(reg);
                QVERIFY(db.open());
                lock.emplace(db);
                QVERIFY(lock->exec(QStringLiteral("BEGIN EXCLUSIVE")));
            }
            {
                Fixture f(reg);
                if (c.start == us::Start::File) {
                    QVERIFY(f.form.loadDataFile(file));
                } else if (c.start == us::Start::Download) {
                    f.run("DOWNLOAD");
                    f.setP204(60);
                } else {
                    f.prompts.dialogs = {[](QDialog* d) {
                        auto* dialog = static_cast<RegisterDialog*>(d);
                        dialog->buildings()->setCurrentItem(dialog->buildings()->topLevelItem(0));
                        dialog->visits()->topLevelItem(0)->setSelected(true);
                        dialog->openSelected();
                        return int(QDialog::Accepted);
                    }};
                    f.form.action("REGISTER")->trigger();
                    QVERIFY2(f.form.statusText().startsWith(QStringLiteral("Wizyta ")) &&
                                 f.form.statusText().endsWith(QStringLiteral(", 1/4660")) &&
                                 f.form.windowTitle().contains(f.form.statusText()),
                             qPrintable(f.form.statusText() + " | " + f.form.windowTitle()));
                    f.setP204(60);
                }
                if (c.start == us::Start::Download)
                    connect(before, false, c.connect == us::Connect::Silent);
                else
                    connect(before, c.connect == us::Connect::Other, c.connect == us::Connect::Silent);
                f.wiring->controller().choosePort(QStringLiteral("Symulator"));
                f.prompts.shown.clear();
                if (c.guard != us::Guard::None) f.prompts.choices = {c.guard == us::Guard::Send ? 0 : 1};
                if (c.everyBlock) f.prompts.choices.push_back(1);                       // "send every block"
                f.prompts.dialogs = {[](QDialog*) { return int(QDialog::Accepted); }};  // the merge, when shown
                f.prompts.uploadAnswers = {{true, false, false}};
                f.run("UPLOAD");
                const bool asked =
                    !f.prompts.shown.isEmpty() && f.prompts.shown[0].title == text(texts::Message::WrongBuildingTitle);
                QVERIFY2(asked == (c.guard != us::Guard::None), c.name);
                if (c.guard == us::Guard::Cancel)
                    QVERIFY2(f.form.statusText() == text(texts::Message::UploadCancelled), c.name);
                // Every block, the controller unread: the red question with Cancel the default, never a merge.
                if (c.everyBlock)
                    QVERIFY2(f.prompts.lastChangeTexts.warning == text(texts::Message::UnknownController) &&
                                 f.prompts.lastChangeTexts.rejectIsDefault,
                             c.name);
                const Image sent = f.form.document().working;
                sim::ControllerPort::withController([](sim::Controller& ctl) { ctl.faults().silent = false; });
                QVERIFY2(f.controller() == us::expected(c, sent, before), c.name);
                // A merge leaves the window unlike its file: the title keeps its mark.
                QVERIFY2(f.form.isWindowModified() == (c.start == us::Start::File && c.holds == us::Holds::Merged), c.name);
                if (f.form.isWindowModified()) {  // what was sent, only no file holds it
                    f.prompts.choices = {2};
                    QVERIFY2(!f.form.confirmDiscard(texts::Message::UnsavedExit) &&
                                 f.prompts.shown.last().text.startsWith(text(texts::Message::SentUnsavedExit)),
                             c.name);
                }
            }
            if (lock) lock->exec(QStringLiteral("ROLLBACK"));
            lock.reset();
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("lock"));
        }
        sim::ControllerPort::withController([](sim::Controller& ctl) {
            ctl.image() = sampleBuildingImage();
            ctl.setIdentity(sim::Controller::kDefaultIdentity);
        });
#endif
    }

    // A file made from an older image of the building: since then the
    // residents of 1.3 and 1.4 changed their open codes at the keypad. The
    // file changes p204 and, in conflict, 1.3's open code.
    void changesMadeAtTheControllerSinceTheFilesBaseAreKeptOrDecided() {
        Fixture f;
        f.run("DOWNLOAD");
        const Image sample = sampleBuildingImage();
        const auto open = [](int local) { return residentOffset(ResidentCode::Open, 1, local); };
        Image base = sample;
        writeBcdCode(base, open(3), 123);
        writeBcdCode(base, open(4), 456);
        Image file = base;
        file[mem::kParams + 22] = 60;
        writeBcdCode(file, open(3), 4444);
        const QString path = f.dir.filePath(QStringLiteral("older.kvd"));
        QVERIFY(saveDataFileTo(QFile::encodeName(path).toStdString(), file, ""));
        QVERIFY(f.form.loadDataFile(path));
        // The base becomes known after the load (a colleague's visit synced):
        // the upload asks for it then.
        f.wiring->safetyNet().setBaseLookup([&](const Image& loaded) -> std::optional<jobs::Base> {
            if (loaded != file) return std::nullopt;
            return jobs::Base{base, "2026-11-03T10:15:00", {}};
        });

        struct Seen {
            bool sendEnabled = true, cancelDefault = false, sendAfterChoice = false;
            QString tree;
        } first, second;
        const auto look = [](QDialog* d, Seen& seen) {
            seen.sendEnabled = d->findChild<QPushButton*>(QStringLiteral("AcceptButton"))->isEnabled();
            seen.cancelDefault = d->findChild<QPushButton*>(QStringLiteral("RejectButton"))->isDefault();
            auto* tree = d->findChild<QTreeWidget*>(QStringLiteral("MergeTree"));
            for (QTreeWidgetItemIterator it(tree); *it; ++it) seen.tree += (*it)->text(0) + "\n";
        };
        f.prompts.dialogs = {[&](QDialog* d) {
                                 look(d, first);
                                 return int(QDialog::Rejected);
                             },
                             [&](QDialog* d) {
                                 look(d, second);
                                 d->findChild<QRadioButton*>(QStringLiteral("ChooseController_0"))->click();
                                 second.sendAfterChoice =
                                     d->findChild<QPushButton*>(QStringLiteral("AcceptButton"))->isEnabled();
                                 return int(QDialog::Accepted);
                             }};
        f.prompts.choices = {0, 0};  // the register does not know the file: sent all the same
        f.run("UPLOAD");
        QVERIFY(!first.sendEnabled);
        QVERIFY(first.cancelDefault);
        QVERIFY2(first.tree.contains(QStringLiteral("zmienione w zasilaczu od")) &&
                     first.tree.contains(QStringLiteral("1.4")),
                 qPrintable(first.tree));
        QVERIFY(f.controller() == sample);  // Cancel sends nothing

        f.run("UPLOAD");
        QVERIFY(second.sendAfterChoice);
        const Image held = f.controller();
        QCOMPARE(held[mem::kParams + 22], 60);
        for (int local : {3, 4}) QCOMPARE(DecodeBcdCode(&held[open(local)]), DecodeBcdCode(&sample[open(local)]));
        QVERIFY(f.form.document().working == held && f.form.document().device == held);
        const Grid shown = f.form.grid(GridId::Residents)->toGrid();
        QCOMPARE(QString::fromStdString(shown.rows[4][2]),
                 QString::fromStdString(formatNumber("%04d", DecodeBcdCode(&sample[open(4)]))));
    }

    // After a download, F3 again: the device image stays known only for the
    // same controller on the same port, and not after an upload that was cut off.
    void anotherControllerMakesTheDeviceImageUnknown() {
        const sim::Controller::Identity other = {0x00, 0x02, 0x39, 0x30, 0x05, 0x01, 0x00, 0x00};
        const sim::Controller::Identity otherSerial = {0x00, 0x01, 0x35, 0x12, 0x03, 0x01, 0x00, 0x00};
        const struct {
            const char* name;
            sim::Controller::Identity identity;
            bool silent;
            const char* port;
            bool unknown;
            bool cut = false;  // an upload before, its blocks stored but never acknowledged
        } cases[] = {
            {"the same controller", sim::Controller::kDefaultIdentity, false, "Symulator", false},
            {"another controller", other, false, "Symulator", true},
            {"the same ID, another serial number", otherSerial, false, "Symulator", true},
            {"the same controller on another port", sim::Controller::kDefaultIdentity, false, "COM9", true},
            // The probe at the upload finds the controller read before: what it read stands.
            {"no answer at F3", sim::Controller::kDefaultIdentity, true, "Symulator", false},
            {"an upload cut off part-way", sim::Controller::kDefaultIdentity, false, "Symulator", true, true},
        };
        for (const auto& c : cases) {
            Fixture f;
            // Any port name reaches the simulator.
            f.wiring->controller().setPortFactory(
                [](const std::string&) { return openablePort(link::PortName("Symulator")); });
            f.run("DOWNLOAD");
            if (c.cut) {
                f.setP204(50);
                f.prompts.uploadAnswers = {{true, false, false}};
                f.run("UPLOAD");  // completed: its report is offered
                f.setP204(60);
                sim::ControllerPort::withController([](sim::Controller& ctl) {
                    ctl = sim::Controller(ctl.image());  // counts acknowledgements from here
                    ctl.faults().acksToSend = 1;         // the upload mode only
                });
                f.prompts.uploadAnswers = {{true, false, false}};
                f.run("UPLOAD");
                sim::ControllerPort::withController([](sim::Controller& ctl) { ctl.faults().acksToSend = -1; });
                QVERIFY2(f.form.noticeText().isEmpty(), qPrintable(f.form.noticeText()));  // nothing says "sent"
            }
            sim::ControllerPort::withController([&](sim::Controller& ctl) {
                ctl.setIdentity(c.identity);
                ctl.faults().silent = c.silent;
            });
            f.wiring->controller().choosePort(QString::fromLatin1(c.port));
            sim::ControllerPort::withController([](sim::Controller& ctl) { ctl.faults().silent = false; });
            f.setP204(60);
            const Image before = f.controller();
            f.prompts.choices = {0};  // another controller: sent all the same
            f.prompts.uploadAnswers = {{false, false, false}};
            f.run("UPLOAD");
            sim::ControllerPort::withController(
                [](sim::Controller& ctl) { ctl.setIdentity(sim::Controller::kDefaultIdentity); });
            QVERIFY2(f.prompts.lastChangeTexts.rejectIsDefault == c.unknown, c.name);
            QVERIFY2(f.prompts.lastChangeTexts.warning == (!c.unknown ? QString()
                                                                      : text(c.cut ? texts::Message::UnknownAfterCutOff
                                                                                   : texts::Message::UnknownController)),
                     c.name);
            QVERIFY2(f.controller() == before, c.name);  // Cancel sent nothing
            QVERIFY2((before == sampleBuildingImage()) != c.cut, c.name);
        }
    }

    // The origin of the working image against the controller connected at
    // the upload: a download of this run or a file the register knows.
    void anImageFromAnotherBuildingIsWarnedBeforeTheUpload() {
        if (!registry::Register::available()) QSKIP("the building register is not part of this build");
        const sim::Controller::Identity other = {0x00, 0x02, 0x39, 0x30, 0x05, 0x01, 0x00, 0x00};
        enum Origin { Downloaded, SavedFile, UnknownFile };
        const struct {
            const char* name;
            Origin origin;
            sim::Controller::Identity connected;
            bool warned;
        } cases[] = {
            {"downloaded, another controller", Downloaded, other, true},
            {"downloaded, the same controller", Downloaded, sim::Controller::kDefaultIdentity, false},
            {"saved from it, another controller", SavedFile, other, true},
            {"a file the register does not know", UnknownFile, sim::Controller::kDefaultIdentity, true},
        };
        const auto setIdentity = [](const sim::Controller::Identity& identity) {
            sim::ControllerPort::withController([&](sim::Controller& ctl) { ctl.setIdentity(identity); });
        };
        for (const auto& c : cases) {
            Fixture f;
            f.run("DOWNLOAD");
            const registry::ControllerKey origin = f.connected();
            {
                registry::Register reg;
                QVERIFY(reg.open(f.registerPath().toStdString()));
                QVERIFY(reg.describe(origin, "Lipowa 5", ""));
            }
            const QString path = f.dir.filePath(QStringLiteral("lipowa.kvd"));
            if (c.origin == SavedFile) {
                f.prompts.files = {path};
                f.form.action("SAVE")->trigger();
            } else if (c.origin == UnknownFile) {
                Image elsewhere = sampleBuildingImage();
                elsewhere[mem::kParams + 22] = 90;
                QVERIFY(saveDataFileTo(QFile::encodeName(path).toStdString(), elsewhere, ""));
            }
            setIdentity(c.connected);
            if (c.origin != Downloaded) {
                f.wiring->controller().choosePort(QStringLiteral("Symulator"));
                QVERIFY(f.form.loadDataFile(path));
            }
            f.setP204(60);
            f.prompts.shown.clear();
            f.prompts.uploadAnswers = {{false, false, false}};
            f.run("UPLOAD");  // the guard's default: Cancel
            const bool warned = !f.prompts.shown.isEmpty() && f.prompts.shown[0].kind == QStringLiteral("choice") &&
                                f.prompts.shown[0].title == text(texts::Message::WrongBuildingTitle);
            QVERIFY2(warned == c.warned, c.name);
            QVERIFY2(f.controller() == sampleBuildingImage(), c.name);  // nothing sent
            if (c.warned) {
                const QString& warning = f.prompts.shown[0].text;
                // It names the port and what to do; another building by name, or why it cannot tell.
                QVERIFY2(warning.contains(QStringLiteral("<b>Symulator</b>")) &&
                             warning.contains(QStringLiteral("(F4)")) && warning.contains(QStringLiteral("color:")) &&
                             (c.origin == UnknownFile
                                  ? warning.contains(text(texts::Message::GuardOriginUnknown))
                                  : warning.contains(QStringLiteral("Lipowa 5")) &&
                                        warning.contains(QString::fromStdString(registry::keyText(f.connected())))),
                         qPrintable(warning));
                QCOMPARE(f.form.statusText(), text(texts::Message::UploadCancelled));
                QCOMPARE(f.prompts.shown.size(), 1);
                // Confirmed: the other controller's contents are unknown, so the question follows with Cancel default.
                f.prompts.choices = {0};
                f.prompts.uploadAnswers = {{true, false, false}};
                f.run("UPLOAD");
                // What this run read from the connected controller still stands for it.
                QVERIFY2(f.prompts.lastChangeTexts.rejectIsDefault == (c.origin != UnknownFile), c.name);
                QVERIFY2(f.controller()[mem::kParams + 22] == 60, c.name);
            } else {
                QVERIFY2(f.prompts.shown[0].kind == QStringLiteral("changes"), c.name);  // the usual question
            }
            setIdentity(sim::Controller::kDefaultIdentity);
        }
    }

    // A file saved from this controller, meanwhile a code changed at the
    // keypad: the next download says so, and the file's upload keeps it.
    void theRegisterTellsWhatChangedSinceAndGivesTheFilesBase() {
        if (!registry::Register::available()) QSKIP("the building register is not part of this build");
        Fixture f;
        f.run("DOWNLOAD");
        QVERIFY(f.form.noticeText().isEmpty());  // the first visit has nothing to compare with
        f.setP204(60);
        const QString path = f.dir.filePath(QStringLiteral("lipowa.kvd"));
        f.prompts.files = {path};
        f.form.action("SAVE")->trigger();
        const std::size_t open13 = residentOffset(ResidentCode::Open, 1, 3);
        sim::ControllerPort::withController([&](sim::Controller& c) { writeBcdCode(c.image(), open13, 4242); });

        f.run("DOWNLOAD");
        QCOMPARE(f.form.statusText(), text(texts::Message::DownloadDone));
        const QString today = QDate::currentDate().toString(QStringLiteral("d.MM.yyyy"));
        QVERIFY2(f.form.noticeText().contains(text(texts::Message::SinceLastVisit)
                                                  .replace(QLatin1String("%s"), today)
                                                  .replace(QLatin1String("%d"), QStringLiteral("1"))
                                                  .toHtmlEscaped()),
                 qPrintable(f.form.noticeText()));
        emit f.form.findChild<QLabel*>(QStringLiteral("NoticeLabel"))->linkActivated(QStringLiteral("changes"));
        QCOMPARE(f.prompts.shown.last().kind, QStringLiteral("changes"));
        QVERIFY2(f.prompts.shown.last().text.contains(QStringLiteral("1.3")), qPrintable(f.prompts.shown.last().text));

        // The file's base is the first download: 1.3 changed at the controller only, and is kept.
        // That visit was a colleague's (as a sync brings it): the title names him.
        {
            auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("colleague"));
            db.setDatabaseName(f.registerPath());
            QVERIFY(db.open() &&
                    QSqlQuery(db).exec(QStringLiteral(
                        "UPDATE visits SET technician = 'Jan Kowalski' WHERE id = (SELECT min(id) FROM visits)")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("colleague"));
        QVERIFY(f.form.loadDataFile(path));
        QString tree;
        f.prompts.dialogs = {[&](QDialog* d) {
            auto* view = d->findChild<QTreeWidget*>(QStringLiteral("MergeTree"));
            for (QTreeWidgetItemIterator it(view); *it; ++it) tree += (*it)->text(0) + "\n";
            return int(QDialog::Accepted);
        }};
        f.run("UPLOAD");
        QVERIFY2(tree.contains(text(texts::Message::MergeKept).replace(QLatin1String("%s"), QString()).left(20)) &&
                     tree.contains(QStringLiteral(" (Jan K.)")),
                 qPrintable(tree));
        QCOMPARE(f.controller()[mem::kParams + 22], 60);
        QCOMPARE(DecodeBcdCode(f.controller().data() + open13), 4242);
        registry::Register reg;
        QVERIFY(reg.open(f.registerPath().toStdString()));
        const auto visits = reg.visits(f.connected());
        QVERIFY(!visits.empty() && visits.front().kind == registry::VisitKind::Upload);
        // The menu's Register window lists this building.
        int buildings = 0;
        f.prompts.dialogs = {[&](QDialog* d) {
            buildings = d->findChild<QTreeWidget*>(QStringLiteral("RegisterBuildings"))->topLevelItemCount();
            return int(QDialog::Rejected);
        }};
        f.form.action("REGISTER")->trigger();
        QCOMPARE(buildings, 1);
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
#ifndef _WIN32
        const mode_t umaskBefore = ::umask(022);
#endif
        Fixture f;
        const QString folder = f.wiring->safetyNet().backupFolder();
        f.run("DOWNLOAD");
        f.run("DOWNLOAD");  // within the same second
        f.setP204(60);
        f.run("UPLOAD");
        const std::vector<BackupEntry> list = listBackups(folder);
        QCOMPARE(list.size(), std::size_t{3});
        // Sealed with the data key (the test's key file) where the build can seal.
        const QString kind = sealingAvailable() ? QStringLiteral(".kvs") : QStringLiteral(".kvd");
        QCOMPARE(QFileInfo(list[2].path).fileName(), QStringLiteral("2026-12-08_203015") + kind);
        QCOMPARE(QFileInfo(list[0].path).fileName(), QStringLiteral("2026-12-08_203015_3") + kind);
        QCOMPARE(list[2].port, QStringLiteral("Symulator"));
        QCOMPARE(list[2].description, backupDescription(false, list[2].when, QStringLiteral("Symulator"), 0));
        QCOMPARE(list[2].residents, 72);
        QCOMPARE(list[2].source, BackupEntry::Source::Download);
        QCOMPARE(list[0].source, BackupEntry::Source::Upload);
        const auto downloaded = loadDataFileFrom(QFile::encodeName(list[2].path).toStdString());
        QVERIFY(downloaded && downloaded->image == sampleBuildingImage());
        const auto uploaded = loadDataFileFrom(QFile::encodeName(list[0].path).toStdString());
        QVERIFY(uploaded && uploaded->image == f.controller());
#ifndef _WIN32
        // They hold every code and the service password: the folder and the
        // files are the user's alone, and ones left open are closed at start-up.
        namespace fs = std::filesystem;
        const auto others = fs::perms::group_all | fs::perms::others_all;
        const auto open = [&](const QString& p) {
            return (fs::status(p.toStdString()).permissions() & others) != fs::perms::none;
        };
        QVERIFY(!open(folder) && !open(list[0].path));
        fs::permissions(folder.toStdString(),
                        fs::perms::group_read | fs::perms::others_read | fs::perms::group_exec | fs::perms::others_exec,
                        fs::perm_options::add);
        fs::permissions(list[0].path.toStdString(), fs::perms::group_read | fs::perms::others_read, fs::perm_options::add);
        QVERIFY(open(folder) && open(list[0].path));
        makeBackupsPrivate(folder);
        QVERIFY(!open(folder) && !open(list[0].path));
        ::umask(umaskBefore);
#endif

        // Opened like LOAD: the window and the working image, not the device image.
        const Image device = f.form.document().device;
        f.prompts.backups = {list[2].path};
        f.form.action("BACKUPS")->trigger();
        QVERIFY(f.form.document().working == sampleBuildingImage());
        QVERIFY(f.form.document().device == device);
        QVERIFY(f.form.description().startsWith(list[2].description));
        // The status says what was opened, and the title names it.
        QCOMPARE(f.form.statusText(), QStringLiteral("Wczytano plik 2026-12-08_203015") + kind);
        QVERIFY(f.form.windowTitle().contains(QStringLiteral("2026-12-08_203015") + kind));

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

    void backupsOfAnEarlierFolderMoveWithoutOverwritingOne() {
        QTemporaryDir dir;
        const QString from = dir.filePath(QStringLiteral("old")), to = dir.filePath(QStringLiteral("new"));
        QVERIFY(QDir().mkpath(from) && QDir().mkpath(to));
        const auto write = [](const QString& path, const QByteArray& bytes) {
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        const auto read = [](const QString& path) {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        struct Case {
            const char* name;
            bool takenThere;  // today's folder already has that name
            bool moves;
        } const cases[] = {
            {"2026-12-08_203015.kvd", false, true},
            {"2026-12-08_203016.kvs", false, true},
            {"2026-12-08_203017.kvd", true, false},
            {"notes.txt", false, false},
        };
        for (const Case& c : cases) {
            QVERIFY(write(from + QLatin1Char('/') + QLatin1String(c.name), c.name));
            if (c.takenThere) QVERIFY(write(to + QLatin1Char('/') + QLatin1String(c.name), "today's"));
        }
        QCOMPARE(MoveBackups(from, to), 2);
        for (const Case& c : cases) {
            const QString old = from + QLatin1Char('/') + QLatin1String(c.name);
            const QString now = to + QLatin1Char('/') + QLatin1String(c.name);
            QVERIFY2(QFileInfo::exists(old) != c.moves, c.name);
            if (c.moves) QCOMPARE(read(now), QByteArray(c.name));
            if (c.takenThere) QCOMPARE(read(now), QByteArray("today's"));
        }
        QCOMPARE(MoveBackups(dir.filePath(QStringLiteral("none")), to), 0);
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
        QVERIFY(f.form.document().working == sampleBuildingImage());              // both images untouched
        QVERIFY(f.form.document().device == sampleBuildingImage());
        sim::ControllerPort::withController([](sim::Controller& c) { c.image() = sampleBuildingImage(); });
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
        const auto saved = loadDataFileFrom(QFile::encodeName(path).toStdString());
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
        const auto saved = loadDataFileFrom(QFile::encodeName(path).toStdString());
        QVERIFY(saved);
        QCOMPARE(QString::fromStdString(saved->description), QStringLiteral("Klatka ? ? ł"));
    }

    void savingWithTheRegisterBrokenSaysTheBuildingIsNotNoted() {
        if (!registry::Register::available()) QSKIP("the building register is not part of this build");
        QTemporaryDir office;
        const QString reg = office.filePath(QStringLiteral("register.sqlite"));
        QFile broken(reg);
        QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
        broken.write("random bytes, no database");
        broken.close();
        Fixture f(reg);
        f.prompts.files = {f.dir.filePath(QStringLiteral("lipowa.kvd"))};
        f.form.action("SAVE")->trigger();
        QVERIFY2(f.form.noticeText().startsWith(QStringLiteral("Rejestr budynków nie zanotował")),
                 qPrintable(f.form.noticeText()));
    }

    // The visit report: offered on the notice once the register recorded an
    // upload, and made from the Register window's button for a chosen visit;
    // each asks masked or shown, then where, and the register notes it.
    void theVisitReportIsOfferedAfterAnUploadAndMadeFromTheRegister() {
        if (!registry::Register::available()) QSKIP("the building register is not part of this build");
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) QSKIP("pdftotext is missing");
        Fixture f;
        f.run("DOWNLOAD");
        f.setP204(60);
        f.prompts.uploadAnswers = {{true, false, false}};
        f.run("UPLOAD");
        const QString command = QString::fromUtf8(texts::reportText(texts::ReportText::Command, texts::kPolish));
        QVERIFY2(f.form.noticeText().contains(command.toHtmlEscaped()), qPrintable(f.form.noticeText()));
        const auto words = [](const QString& pdf) {
            QProcess p;
            p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
            p.waitForFinished();
            return QString::fromUtf8(p.readAllStandardOutput()).simplified();
        };
        const QString offered = f.dir.filePath(QStringLiteral("offered.pdf"));
        const QString chosen = f.dir.filePath(QStringLiteral("chosen.pdf"));
        f.prompts.choices = {1};  // the codes shown
        f.prompts.files = {offered};
        emit f.form.findChild<QLabel*>(QStringLiteral("NoticeLabel"))->linkActivated(QStringLiteral("report"));
        QVERIFY2(QFile::exists(offered), qPrintable(f.prompts.shown.last().kind + ": " + f.prompts.shown.last().text));
        f.prompts.dialogs = {[](QDialog* d) {
            auto* dialog = static_cast<RegisterDialog*>(d);
            dialog->buildings()->setCurrentItem(dialog->buildings()->topLevelItem(0));
            // Newest first: the report, the upload it reports on, the download.
            if (dialog->visits()->topLevelItemCount() != 3) return int(QDialog::Rejected);
            dialog->visits()->topLevelItem(2)->setSelected(true);
            auto* button = dialog->findChild<QPushButton*>(QStringLiteral("RegisterReport"));
            if (button && button->isEnabled()) button->click();
            return int(QDialog::Rejected);
        }};
        f.prompts.choices = {0};  // masked, the default
        f.prompts.files = {chosen};
        f.form.action("REGISTER")->trigger();
        const QString upload = words(offered), download = words(chosen);
        QVERIFY2(upload.contains(QStringLiteral("p204 Długość rozmowy: 120 → 60")), qPrintable(upload));
        QVERIFY(!upload.contains(QStringLiteral("zamaskowane")));
        QVERIFY2(download.contains(QStringLiteral("zamaskowane")), qPrintable(download));
        QVERIFY(!download.contains(QStringLiteral("p204")));
        QVERIFY(f.form.statusText().contains(QStringLiteral("chosen.pdf")));
        registry::Register reg;
        QVERIFY(reg.open(f.registerPath().toStdString()));
        const auto visits = reg.visits(f.connected());
        QCOMPARE(std::count_if(visits.begin(), visits.end(),
                               [](const registry::Visit& v) { return v.kind == registry::VisitKind::Report; }),
                 2L);
    }
};

QTEST_MAIN(SafetyNetTest)
#include "safety_net_test.moc"
