// The wired main window offscreen against the built-in simulated controller:
// port choice, download, edit, upload, cancel key state, printing and help.
#include "diagnostics/diagnostics.h"
#include "diagnostics/support_bundle.h"
#include "shell/diagnostics_dialogs.h"
#include "shell/form_wiring.h"
#include "shell/safety_net.h"
#include "shell/help_window.h"
#include "shell/link_controller.h"
#include "link/port.h"
#include "shell/port_dialog.h"
#include "shell/main_window.h"
#include "shell/document.h"
#include "sim/sample_building.h"
#include "tests/shell/scripted_prompts.h"
#include "shell/code_grid.h"
#include "files/data_file.h"
#include "sim/controller_port.h"
#include "files/sealing.h"
#include "registry/company_connection.h"
#include "registry/key_store.h"
#include "texts/language_table.h"
#include "tests/print/pdf_words.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace kelvane;
using namespace kelvane::shell;

class ShellWiringTest : public QObject {
    Q_OBJECT

    bool finished(FormWiring& wiring) {
        return QTest::qWaitFor(
            [&] { return !wiring.controller().transferRunning() && !wiring.safetyNet().uploadRunning(); }, 20000);
    }

private slots:
    // Backups and remembered answers go to the test locations.
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Tools and the support bundle through the menu, in the window's language.
    void diagnosticsFromTheMenu() {
        diagnostics::setTracing({"KelvaneMini", "test", true, nullptr});
        MainWindow form;
        ScriptedPrompts prompts;
        form.setPrompts(&prompts);
        FormWiring* wiring = wireKelvaneMini(form);
        auto* tools = form.findChild<QMenu*>(QStringLiteral("ToolsMenu"));
        QVERIFY(tools);
        for (const char* name : {"LINETEST", "FINDADAPTER", "SUPPORTBUNDLE"})  // all three diagnostics in one menu
            QVERIFY2(tools->actions().contains(form.findChild<QAction*>(QLatin1String(name))), name);
        const struct {
            std::function<void()> step;
            const char* tools;
            const char* bundle;
        } languages[] = {{[&] { form.ApplyLanguage(1); }, "Tools", "Save support bundle…"},
                         {[&] { form.DisplayData(); }, "Narzędzia", "Zapisz paczkę dla serwisu…"}};
        for (const auto& l : languages) {
            l.step();
            QCOMPARE(tools->title(), QString::fromUtf8(l.tools));
            QCOMPARE(form.findChild<QAction*>(QStringLiteral("SUPPORTBUNDLE"))->text(), QString::fromUtf8(l.bundle));
        }

        wiring->controller().choosePort(QStringLiteral("Symulator"));
        QString report;
        prompts.dialogs.push_back([&](QDialog* d) {
            auto* test = qobject_cast<LineTestDialog*>(d);
            if (test && QTest::qWaitFor([test] { return test->finished(); }, 20000)) report = test->reportText();
            return int(QDialog::Rejected);
        });
        form.findChild<QAction*>(QStringLiteral("LINETEST"))->trigger();
        QVERIFY2(report.contains(QStringLiteral("Łącze działa\n")), qPrintable(report));  // the verdict, then the figures
        QVERIFY2(report.contains(QStringLiteral("Odpowiedzi: 20 z 20")), qPrintable(report));

        QTemporaryDir dir;
        const QString zip = dir.filePath(QStringLiteral("bundle.zip"));
        QStringList names;
        prompts.dialogs.push_back([&](QDialog* d) {
            auto* bundle = qobject_cast<SupportBundleDialog*>(d);
            if (!bundle) return int(QDialog::Rejected);
            for (const auto& e : bundle->entries()) names << QString::fromStdString(e.name);
            return bundle->saveTo(zip) ? int(QDialog::Accepted) : int(QDialog::Rejected);
        });
        form.findChild<QAction*>(QStringLiteral("SUPPORTBUNDLE"))->trigger();
        QVERIFY2(names.contains(QStringLiteral("image-masked.kvd")), qPrintable(names.join(u' ')));
        QVERIFY(names.filter(QStringLiteral("traces/")).size() >= 2);  // the probe and the line test
        // A build without the ZIP library refuses the bundle and leaves no file.
        QCOMPARE(QFile::exists(zip), diagnostics::supportBundleAvailable());
        diagnostics::stopTracing();
    }

    void findingAnAdapterChoosesThePortThatAppeared() {
        const link::PortInfo s0{"ttyS0", "/dev/ttyS0", "", "", "", false, ""};
        const link::PortInfo usb{"ttyUSB0", "/dev/ttyUSB0", "FT232R", "FTDI", "A1", true, "0403:6001"};
        std::vector<std::vector<link::PortInfo>> lists = {{s0}, {s0}, {s0, usb}};
        std::size_t call = 0;
        FindAdapterDialog dialog(0, [&] { return lists[std::min(call++, lists.size() - 1)]; });
        dialog.next();  // unplugged
        dialog.next();  // nothing new yet
        QVERIFY(dialog.stepText().startsWith(QStringLiteral("Nie pojawił się")));
        QCOMPARE(dialog.result(), 0);
        dialog.next();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosenPort(), std::string("ttyUSB0"));
    }

    void downloadEditAndUploadThroughTheMenu() {
        MainWindow form;
        ScriptedPrompts prompts;
        form.setPrompts(&prompts);
        FormWiring* wiring = wireKelvaneMini(form);
        QVERIFY(!form.action("ABORT")->isEnabled());

        // Before any port choice the port is COM8, which is not there.
        form.action("DOWNLOAD")->trigger();
        QCOMPARE(prompts.shown.size(), 1);
        QCOMPARE(prompts.shown[0].text, QStringLiteral("Błąd otwarcia portu COM"));
        // It names the port tried and where another is chosen.
        QCOMPARE(prompts.shown[0].detail,
                 QStringLiteral("Port: COM8\nNie ma takiego portu.\nWybierz port poleceniem \"Port\" (F3)."));

        wiring->controller().choosePort(QStringLiteral("Symulator"));
        // The port as it is opened: on Windows with the device-namespace prefix.
        const QString opened = QString::fromStdString(link::PortName("Symulator"));
        QVERIFY2(form.statusText().startsWith(QStringLiteral("Port %1, zasilacz ID ").arg(opened)),
                 qPrintable(form.statusText()));

        form.ApplyLanguage(1);
        form.action("DOWNLOAD")->trigger();
        QVERIFY(wiring->controller().transferRunning());
        QVERIFY(!form.action("LOAD")->isEnabled());
        QVERIFY(!form.action("VERIFY")->isEnabled());
        QVERIFY(form.action("ABORT")->isEnabled());
        QVERIFY(finished(*wiring));
        // The refill is Polish, and the status bar with it: one language in the window.
        QCOMPARE(form.CurrentLanguage(), 0);
        QCOMPARE(form.statusText(), QStringLiteral("Dane pobrane"));
        QVERIFY(form.action("LOAD")->isEnabled());
        QVERIFY(form.document().working == sampleBuildingImage());
        QVERIFY(form.document().device == form.document().working);
        QCOMPARE(form.grid(GridId::Residents)->toGrid().rowCount(), 1 + 72);

        auto* p204 = form.findChild<QSpinBox*>(QStringLiteral("p204_UpDown"));
        QVERIFY(p204);
        p204->setValue(60);
        form.action("UPLOAD")->trigger();
        QVERIFY(finished(*wiring));
        QCOMPARE(form.statusText(), QStringLiteral("Dane wysłane"));
        QCOMPARE(form.document().working[mem::kParams + 22], 60);
        QVERIFY(form.document().device == form.document().working);

        // What the simulator now holds comes back with the next download.
        form.document().working[mem::kParams + 22] = 1;
        form.action("DOWNLOAD")->trigger();
        QVERIFY(finished(*wiring));
        QCOMPARE(form.document().working[mem::kParams + 22], 60);

        // An upload after LOAD compares with the device image, not with the
        // file: the file's blocks that differ from the controller's go out.
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("initial.kvd"));
        QVERIFY(saveDataFileTo(QFile::encodeName(file).toStdString(), initialImage(), ""));
        prompts.files = {file};
        form.action("LOAD")->trigger();
        QVERIFY(form.document().device != form.document().working);
        prompts.choices = {0};  // the register does not know the file: sent all the same
        form.action("UPLOAD")->trigger();
        QVERIFY(finished(*wiring));
        QCOMPARE(form.statusText(), QStringLiteral("Dane wysłane"));
        Image held{};
        QVERIFY(sim::ControllerPort::withController([&](sim::Controller& c) { held = c.image(); }));
        QVERIFY(held == form.document().working);
        QVERIFY(held != sampleBuildingImage());
    }

    void startsOnTheRememberedPortAndRemembersEveryPortThatOpens() {
        MainWindow form;
        ScriptedPrompts prompts;
        form.setPrompts(&prompts);
        FormWiring* wiring = wireKelvaneMini(form);
        wiring->portDialog().setPortSource([] { return QStringList{"ttyS0"}; });
        std::vector<std::string> stored;
        wiring->rememberPorts(
            {[] { return std::string("Symulator"); }, [&](const std::string& p) { stored.push_back(p); }});
        QCOMPARE(wiring->controller().portName(), link::PortName("Symulator"));
        QCOMPARE(wiring->portDialog().chosenText(), QStringLiteral("Symulator"));

        wiring->controller().choosePort(QStringLiteral("/nonexistent/port"));  // does not open: not kept
        wiring->controller().choosePort(QStringLiteral("Symulator"));
        QCOMPARE(stored, std::vector<std::string>{"Symulator"});
    }

    void invalidWindowStartsNoUpload() {
        MainWindow form;
        ScriptedPrompts prompts;
        form.setPrompts(&prompts);
        FormWiring* wiring = wireKelvaneMini(form);
        wiring->controller().choosePort(QStringLiteral("Symulator"));
        Grid keys = form.grid(GridId::Keys)->toGrid();
        keys.rows[1] = {"5", "not a key"};
        form.grid(GridId::Keys)->setGrid(keys);
        prompts.abortAnswers = {true};
        form.action("UPLOAD")->trigger();
        QCOMPARE(prompts.shown.size(), 1);
        QCOMPARE(prompts.shown[0].kind, QStringLiteral("warning"));
        QVERIFY(!wiring->controller().transferRunning());
    }

    void theWiringGoesWhileTheWindowIsWhole() {
        // A hook that owns heap state: the wiring clears the hooks as it goes,
        // which must happen before the window's own members are gone.
        auto counted = std::make_shared<int>(0);
        auto* form = new MainWindow;
        wireKelvaneMini(*form);
        form->hooks().help = [counted] { ++*counted; };
        QCOMPARE(counted.use_count(), 2);
        delete form;
        QCOMPARE(counted.use_count(), 1);
    }

    // The cards show the working image, not grid edits not yet verified, in
    // the language chosen at the moment of printing.
    void cardsPrintTheWorkingImageInTheCurrentLanguage() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) QSKIP("pdftotext is missing");
        MainWindow form;
        ScriptedPrompts prompts;
        form.setPrompts(&prompts);
        FormWiring* wiring = wireKelvaneMini(form);
        QTemporaryDir dir;
        int pages = 0;
        QString pdf;
        wiring->setPrintDialog([&](QWidget*, QPrinter& printer, int pageCount) {
            pages = pageCount;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        });
        const auto words = [&] {
            QProcess p;
            p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
            p.waitForFinished();
            return QString::fromUtf8(p.readAllStandardOutput()).split(QRegularExpression(QStringLiteral("\\s+")));
        };

        form.document().working = sampleBuildingImage();
        form.DisplayData();
        Grid residents = form.grid(GridId::Residents)->toGrid();
        residents.rows[1][1] = "9876";  // typed, not verified: checked and stored before printing
        form.grid(GridId::Residents)->setGrid(residents);
        form.ApplyLanguage(1);
        pdf = dir.filePath(QStringLiteral("english.pdf"));
        form.action("PRINT")->trigger();
        QCOMPARE(pages, 8);  // 72 residents, ten to a sheet
        QStringList text = words();
        QVERIFY(text.contains(QStringLiteral("Call")));
        QVERIFY(text.contains(QStringLiteral("9876")));

        form.DisplayData();  // a refill brings Polish back
        pdf = dir.filePath(QStringLiteral("polish.pdf"));
        form.action("PRINT")->trigger();
        text = words();
        QVERIFY(text.contains(QStringLiteral("wywołania")));
        QVERIFY(!text.contains(QStringLiteral("Call")));

        // One flat's cards from the residents' menu, printed and as a PDF:
        // that flat's open code only (a card shows it after the call code).
        CodeGrid* grid = form.grid(GridId::Residents);
        QCOMPARE(grid->cell(5, 0), QStringLiteral("1.5"));
        const QString own = grid->cell(5, 1) + grid->cell(5, 2), other = grid->cell(6, 1) + grid->cell(6, 2);
        QVERIFY(!own.isEmpty() && !other.isEmpty() && own != other);
        const auto fromMenu = [&](int item) {
            QTimer::singleShot(0, [item] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                QVERIFY(menu && menu->objectName() == QStringLiteral("FlatMenu"));
                QList<QAction*> actions = menu->actions();
                actions.erase(std::remove_if(actions.begin(), actions.end(), [](QAction* a) { return a->isSeparator(); }),
                              actions.end());
                menu->close();
                actions.value(item)->trigger();
            });
            emit grid->customContextMenuRequested(QPoint(5, grid->rowViewportPosition(4) + 2));
        };
        for (const bool asPdf : {false, true}) {
            pdf = dir.filePath(asPdf ? QStringLiteral("flat.pdf") : QStringLiteral("printed.pdf"));
            pages = 0;
            prompts.files = {pdf};
            fromMenu(asPdf ? 4 : 3);  // after moved out, new resident, new resident with a main code
            QVERIFY2(QFile::exists(pdf), qPrintable(pdf));
            if (!asPdf) QCOMPARE(pages, 1);
            text = words();
            QVERIFY2(text.contains(own), qPrintable(own + " in " + text.join(QLatin1Char(' '))));
            QVERIFY(!text.contains(other));
        }
    }

    void printingWithoutResidentsAndHelp() {
        MainWindow form;
        ScriptedPrompts prompts;
        form.setPrompts(&prompts);
        wireKelvaneMini(form);
        form.document().working = initialImage();
        form.ApplyLanguage(1);
        form.action("PRINT")->trigger();  // no resident: no dialog, the technician is told
        QCOMPARE(prompts.shown.size(), 1);
        QCOMPARE(prompts.shown[0].kind, QStringLiteral("message"));
        QCOMPARE(prompts.shown[0].text, form.messageText(texts::Message::NothingToPrint));
        QVERIFY(prompts.shown[0].text.startsWith(QStringLiteral("Nothing")));
        form.action("Pomoc1")->trigger();
        auto* help = form.findChild<HelpWindow*>();
        QVERIFY(help);
        QVERIFY(help->isVisible());
        form.action("Pomoc1")->trigger();
        QCOMPARE(form.findChildren<HelpWindow*>().size(), 1);
    }

    // The preview and the PDF file show the pages printing prints: the same
    // words at the same places; the preview can be shown and counts the pages.
    void previewAndPdfShowThePagesOfPrinting() {
        const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
        if (pdftotext.isEmpty()) QSKIP("pdftotext is missing");
        MainWindow form;
        ScriptedPrompts prompts;
        form.setPrompts(&prompts);
        FormWiring* wiring = wireKelvaneMini(form);
        QTemporaryDir dir;
        const QString printed = dir.filePath(QStringLiteral("printed.pdf"));
        const QString previewed = dir.filePath(QStringLiteral("previewed.pdf"));
        form.document().working = sampleBuildingImage();
        form.cardTextEdit_->setText(QStringLiteral("ul. Łąkowa 5"));
        wiring->setPrintDialog([&](QWidget*, QPrinter& printer, int) {
            setUpCardPdf(printer, printed);
            return true;
        });
        int previewPages = 0;
        QString jobName;
        wiring->setPreviewDialog([&](QPrintPreviewDialog& dialog) {
            dialog.show();
            auto* view = dialog.findChild<QPrintPreviewWidget*>();
            QVERIFY(QTest::qWaitFor([&] { return view && view->pageCount() > 0; }, 10000));
            previewPages = view->pageCount();
            jobName = dialog.printer()->docName();
            dialog.close();
            // What the preview's print button prints, onto a PDF.
            setUpCardPdf(*dialog.printer(), previewed);
            emit dialog.paintRequested(dialog.printer());
        });
        form.action("PRINT")->trigger();
        form.action("PREVIEW")->trigger();
        prompts.files = {dir.filePath(QStringLiteral("cards"))};  // the suffix is added
        form.action("SAVE_PDF")->trigger();
        QCOMPARE(previewPages, 8);
        QCOMPARE(jobName, QString::fromLatin1(kCardJobName));
        const auto reference = readWords(pdftotext, printed);
        QCOMPARE(reference.size(), 8);
        QVERIFY(containsWord(reference[0], QStringLiteral("Łąkowa")));
        for (const QString& other : {previewed, dir.filePath(QStringLiteral("cards.pdf"))}) {
            const auto pages = readWords(pdftotext, other);
            QCOMPARE(pages.size(), reference.size());
            for (int p = 0; p < pages.size(); ++p) {
                QCOMPARE(pages[p].size(), reference[p].size());
                for (int i = 0; i < pages[p].size(); ++i) {
                    QCOMPARE(pages[p][i].text, reference[p][i].text);
                    QVERIFY(std::abs(pages[p][i].xMin - reference[p][i].xMin) < 0.01);
                    QVERIFY(std::abs(pages[p][i].yMin - reference[p][i].yMin) < 0.01);
                }
            }
        }
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("cards.pdf.tmp"))));

        // A file that cannot be written: the save error, nothing left behind.
        prompts.files = {dir.filePath(QStringLiteral("no/such/folder/cards.pdf"))};
        form.action("SAVE_PDF")->trigger();
        QCOMPARE(prompts.shown.last().text, form.messageText(texts::Message::SaveError));
        // No resident with a call code: neither command asks anything.
        form.document().working = initialImage();
        prompts.shown.clear();
        previewPages = 0;
        form.action("PREVIEW")->trigger();
        form.action("SAVE_PDF")->trigger();
        QVERIFY(prompts.shown.isEmpty());
        QCOMPARE(previewPages, 0);
    }

    // The data key under the menu: export asks the passphrase twice and
    // refuses a weak one; an import with a wrong passphrase or a damaged file
    // says why and leaves the key as it was.
    void dataKeyFromTheMenu() {
        if (!sealingAvailable() || !registry::dataKey().key) QSKIP("a build or machine without a data key");
        MainWindow form;
        ScriptedPrompts prompts;
        form.setPrompts(&prompts);
        wireKelvaneMini(form);
        form.ApplyLanguage(texts::kEnglish);
        const std::string keyId = registry::dataKey().key->id();
        QTemporaryDir dir;
        const QString exported = dir.filePath(QStringLiteral("key.kvk")),
                      damaged = dir.filePath(QStringLiteral("bad.kvk"));
        const auto text = [&](texts::Message m) { return QString::fromUtf8(texts::messageText(m, texts::kEnglish)); };
        const struct {
            const char* button;
            QString file;
            const char *pass, *again;
            const char* shown;  // "error" or "message"
            QString says;       // the start of what it says
        } steps[] = {
            {"KeyExportButton", exported, "short", "short", "error", text(texts::Message::KeyPassphraseShort).left(20)},
            {"KeyExportButton", exported, "passphrase1", "passphrase2", "error", text(texts::Message::KeyPassphrasesDiffer)},
            {"KeyExportButton", exported, "passphrase1", "passphrase1", "message", QStringLiteral("Key ")},
            {"KeyImportButton", exported, "wrong-passphrase", "", "error", text(texts::Message::KeyWrongPassphrase)},
            {"KeyImportButton", damaged, "passphrase1", "", "error", text(texts::Message::KeyWrongPassphrase)},
            {"KeyImportButton", exported, "passphrase1", "", "message", QStringLiteral("Key ")},
        };
        for (const auto& step : steps) {
            if (QFile::exists(exported) && !QFile::exists(damaged)) {
                QFile in(exported);
                QVERIFY(in.open(QIODevice::ReadOnly));
                QByteArray bytes = in.readAll();
                bytes[bytes.size() - 1] = char(bytes[bytes.size() - 1] ^ 1);
                QFile out(damaged);
                QVERIFY(out.open(QIODevice::WriteOnly));
                out.write(bytes);
            }
            QString status;
            prompts.dialogs.push_back([&](QDialog* d) {
                status = d->findChild<QLabel*>(QStringLiteral("KeyStatusLabel"))->text();
                d->findChild<QPushButton*>(QLatin1String(step.button))->click();
                return int(QDialog::Rejected);
            });
            prompts.dialogs.push_back([&](QDialog* d) {
                d->findChild<QLineEdit*>(QStringLiteral("PassphraseEdit"))->setText(QString::fromUtf8(step.pass));
                if (auto* again = d->findChild<QLineEdit*>(QStringLiteral("PassphraseAgainEdit")))
                    again->setText(QString::fromUtf8(step.again));
                return int(QDialog::Accepted);
            });
            prompts.files = {step.file};
            prompts.shown.clear();
            form.action("KEY")->trigger();
            QVERIFY2(status.contains(QString::fromStdString(keyId)), qPrintable(status));
            QCOMPARE(prompts.shown.last().kind, QString::fromLatin1(step.shown));
            QVERIFY2(prompts.shown.last().text.startsWith(step.says), qPrintable(prompts.shown.last().text));
            QCOMPARE(registry::dataKey().key->id(), keyId);
            QCOMPARE(QFile::exists(exported),
                     step.button != std::string("KeyExportButton") || step.shown == std::string("message"));
        }
    }

    // The company register's server from the menu: refused with libpq's
    // reason, kept without its password (the user told where it goes), left.
    void companyServerFromTheMenu() {
        registry::setServerUrl({});
        MainWindow form;
        ScriptedPrompts prompts;
        form.setPrompts(&prompts);
        wireKelvaneMini(form);
        form.ApplyLanguage(texts::kEnglish);
        const struct {
            const char* typed;
            const char* shown;  // "error", "message" or nothing
            const char* says;   // the start of what it says
            const char* kept;   // the setting after (nullptr: none)
            bool unverified;    // the status says the server is not verified
        } steps[] = {
            {"host=db.example frobnicate=1", "error", "Server not kept: the server's string: invalid connection option",
             nullptr, false},
            {"host=127.0.0.1 port=1 dbname=company password=se/cr@t", "message",
             "The server is kept without its password", "dbname='company' host='127.0.0.1' port='1'", false},
            {"host=company-db.test hostaddr=127.0.0.1 port=1 sslmode=require", "message",
             "The company register's server was not verified (sslmode=require)",
             "host=company-db.test hostaddr=127.0.0.1 port=1 sslmode=require", true},
            {"", "", "", nullptr, false},
        };
        for (const auto& step : steps) {
            QString offered;
            prompts.dialogs.push_back([&](QDialog* d) {
                auto* input = qobject_cast<QInputDialog*>(d);
                offered = input->textValue();
                input->setTextValue(QString::fromUtf8(step.typed));
                return int(QDialog::Accepted);
            });
            prompts.shown.clear();
            form.action("COMPANYSERVER")->trigger();
            QString kind, says;  // of the last box (the dialog's run is noted too)
            for (const auto& box : prompts.shown)
                if (box.kind == QLatin1String("error") || box.kind == QLatin1String("message")) {
                    kind = box.kind;
                    says = box.text;
                }
            QCOMPARE(kind, QString::fromLatin1(step.shown));
            if (*step.shown) QVERIFY2(says.startsWith(QString::fromUtf8(step.says)), qPrintable(says));
            QCOMPARE(QString::fromStdString(registry::serverUrl().value_or("(none)")),
                     QString::fromLatin1(step.kept ? step.kept : "(none)"));
            QVERIFY(!offered.contains(QStringLiteral("cr@t")));
            QCOMPARE(form.companyStatusText().contains(QStringLiteral("server not verified")), step.unverified);
        }
    }

    // The key in the user's own key file: the window says so and what
    // protects it; the move to a keychain is offered only where one answers
    // without a key, and a move that fails says why and keeps the key.
    void dataKeyInTheOwnKeyFile() {
        if (!sealingAvailable() || !registry::dataKey().key) QSKIP("a build or machine without a data key");
        const registry::KeyState before = registry::dataKey();
        // A refused move reads the key again from where it really is: the
        // case needs it in the own key file (no keychain here).
        if (!before.inOwnFile) QSKIP("the data key is in a keychain on this machine");
        MainWindow form;
        ScriptedPrompts prompts;
        form.setPrompts(&prompts);
        wireKelvaneMini(form);
        form.ApplyLanguage(texts::kEnglish);
        const auto text = [](texts::Message m) { return QString::fromUtf8(texts::messageText(m, texts::kEnglish)); };
        // Never the user's keychain: the move is refused as switched off.
        qputenv("KELVANE_NO_KEYCHAIN", "1");
        for (const bool keychainFree : {false, true}) {
            registry::KeyState own = before;
            own.inOwnFile = true;
            own.keychainFree = keychainFree;
            registry::setDataKey(own);
            QString status;
            bool offered = false;
            prompts.dialogs.push_back([&](QDialog* d) {
                status = d->findChild<QLabel*>(QStringLiteral("KeyStatusLabel"))->text();
                auto* move = d->findChild<QPushButton*>(QStringLiteral("KeyMoveButton"));
                offered = !move->isHidden();
                if (offered) move->click();
                return int(QDialog::Rejected);
            });
            prompts.shown.clear();
            form.action("KEY")->trigger();
            QVERIFY2(status.contains(QString::fromStdString(registry::ownKeyFile())), qPrintable(status));
            QVERIFY2(status.contains(QStringLiteral("Only the file's rights (0600) protect it")), qPrintable(status));
            QCOMPARE(status.contains(text(texts::Message::KeyMoveOffer)), keychainFree);
            QCOMPARE(offered, keychainFree);
            if (keychainFree) {  // the move refused: said, and nothing changed
                QCOMPARE(prompts.shown.last().kind, QStringLiteral("error"));
                QVERIFY2(prompts.shown.last().text.startsWith(text(texts::Message::KeyNotMoved).left(20)),
                         qPrintable(prompts.shown.last().text));
            }
            QCOMPARE(registry::dataKey().key, before.key);
        }
        qunsetenv("KELVANE_NO_KEYCHAIN");
        registry::setDataKey(before);
    }
};

QTEST_MAIN(ShellWiringTest)
#include "shell_wiring_test.moc"
