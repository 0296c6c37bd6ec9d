// The main window offscreen: verification with its row messages, the grids'
// "+" and "-" buttons, and saving and loading data files.
#include "shell/check_dialog.h"
#include "shell/code_grid.h"
#include "texts/configuration_warnings.h"
#include "image/codecs.h"
#include "shell/main_window.h"
#include "image/parameters.h"
#include "shell/document.h"
#include "tests/shell/scripted_prompts.h"
#include "files/data_file.h"
#include "sim/sample_building.h"
#include "shell/csv_import_dialog.h"
#include "shell/flat_menu.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTableWidget>

using namespace kelvane;
using namespace kelvane::shell;

namespace {

// A key text with a correct check byte for the given serial.
QString keyText(int serial) {
    const std::uint8_t record[8] = {
        0, 1, static_cast<std::uint8_t>(serial >> 8), static_cast<std::uint8_t>(serial), 0x33, 0x44, 0x55, 0x66};
    return QString::fromStdString(FormatKeyText(record));
}

void setRows(CodeGrid* grid, const QList<QStringList>& rows) {
    Grid plain = grid->toGrid();
    plain.rows.resize(1);
    for (const QStringList& r : rows) {
        Grid::Row row;
        for (const QString& cell : r) row.push_back(cell.toStdString());
        plain.append(row);
    }
    grid->setGrid(plain);
}

QPushButton* button(MainWindow& w, const char* name) { return w.findChild<QPushButton*>(QString::fromLatin1(name)); }

QByteArray readAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

}  // namespace

class ShellDataTest : public QObject {
    Q_OBJECT
private slots:
    void checkListsTheWarningsOfWhatIsStoredAndGoesToTheirPlaces() {
        MainWindow w;
        ScriptedPrompts prompts;
        w.setPrompts(&prompts);
        w.ApplyLanguage(texts::kEnglish);
        // Typed unsorted: the check stores first, so its rows are the sorted ones.
        setRows(w.grid(GridId::Residents), {{"2.1", "7", "1234", ""}, {"1.3", "5", "5829", ""}});
        w.pages_->setCurrentIndex(3);
        w.onCheck();
        CheckDialog* d = w.checkDialog();
        QVERIFY(d && d->isVisible());
        QCOMPARE(w.CurrentLanguage(), texts::kEnglish);
        QCOMPARE(w.grid(GridId::Residents)->cell(1, 0), QStringLiteral("1.3"));
        QTableWidget* list = d->list();
        QCOMPARE(list->rowCount(), 2);  // the factory password, the open code of 2.1
        QCOMPARE(d->windowTitle(), QStringLiteral("Check configuration"));
        QCOMPARE(list->item(1, 1)->text(), QStringLiteral("Users, row 2"));
        QCOMPARE(list->item(1, 2)->text().toStdString(), texts::warningText(d->warnings()[1], texts::kEnglish));
        // A double-click goes to the grid row, or to the page of the control.
        const auto activate = [&](int row) {
            QTableWidgetItem* item = list->item(row, 2);
            list->scrollToItem(item);
            const QPoint at = list->visualItemRect(item).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        };
        activate(1);
        QCOMPARE(w.pages_->currentIndex(), 0);
        QCOMPARE(w.grid(GridId::Residents)->currentRow(), 1);
        activate(0);
        QVERIFY(w.pages_->currentWidget()->isAncestorOf(w.findChild<QWidget*>(QStringLiteral("p101_MaskEdit"))));
        // The open list follows the language.
        w.ApplyLanguage(texts::kPolish);
        QCOMPARE(list->item(1, 1)->text(), QStringLiteral("Lokatorzy, wiersz 2"));
        QCOMPARE(d->windowTitle(), QStringLiteral("Sprawdź konfigurację"));
        // A row that stops the conversion leaves the list as it was.
        setRows(w.grid(GridId::Keys), {{"0", keyText(1)}});
        prompts.abortAnswers = {true};
        w.onCheck();
        QCOMPARE(prompts.shown.size(), 1);
        QCOMPARE(list->rowCount(), 2);
        // Nothing to say is said.
        setRows(w.grid(GridId::Keys), {});
        setRows(w.grid(GridId::Residents), {});
        w.findChild<QLineEdit*>(QStringLiteral("p101_MaskEdit"))->setText(QStringLiteral("20571938"));
        w.onCheck();
        QCOMPARE(list->rowCount(), 0);
        QVERIFY(d->findChild<QWidget*>(QStringLiteral("CheckEmpty"))->isVisible());
        // A setting loaded out of range stays named, check after check, until it is set.
        w.document().working[0x3F40 + 19] = 45;  // p201, as a file made elsewhere holds it
        w.DisplayData();
        for (int i = 0; i < 2; ++i) {
            w.onCheck();
            QCOMPARE(list->rowCount(), 1);
            QCOMPARE(list->item(0, 1)->text(), QStringLiteral("p201"));
        }
        w.findChild<QSpinBox*>(QStringLiteral("p201_UpDown"))->setValue(20);
        w.onCheck();
        QCOMPARE(list->rowCount(), 0);
    }
    void abortStopsAndLeavesTheWorkingImageWithTheExactMessage() {
        MainWindow w;
        ScriptedPrompts prompts;
        w.setPrompts(&prompts);
        prompts.abortAnswers = {true};
        setRows(w.grid(GridId::Keys), {{"1", keyText(1)}, {"2", keyText(2)}, {"3", keyText(3)}, {"0", keyText(4)}});
        const Image before = w.document().working;
        QCOMPARE(w.GetData(), 0);
        QVERIFY(w.document().working == before);
        QCOMPARE(prompts.shown.size(), 1);
        QCOMPARE(prompts.shown[0].kind, QStringLiteral("warning"));
        QCOMPARE(prompts.shown[0].text,
                 QStringLiteral("W zakładce: \"Kody, hasła, klucze\"\nW tabeli: \"Klucze\"\nWpis nr: 4\nLokal= 0\n"
                                "Klucz= ") +
                     keyText(4) + QStringLiteral("\n\nJest nieprawidłowy!\n\nNaciśnij \"Abort\" aby przerwać."));
        // Under it, the cell and its rule.
        QCOMPARE(prompts.shown[0].detail, QStringLiteral("Kolumna \"Lokal\": wymagana liczba od 1 do 9999"));
        // The same row in English.
        w.ApplyLanguage(texts::kEnglish);
        prompts.abortAnswers = {true};
        QCOMPARE(w.GetData(), 0);
        QCOMPARE(prompts.shown.last().text,
                 QStringLiteral("In the tab: \"Codes, passwords, keys\"\nIn table: \"Keys\"\nRecord no: 4\nLocal= 0\n"
                                "Key= ") +
                     keyText(4) + QStringLiteral("\n\nIs invalid!\n\nPress \"Abort\" to cancel."));
        QCOMPARE(prompts.shown.last().detail, QStringLiteral("Column \"Local\": a number from 1 to 9999 is required"));
        QCOMPARE(w.grid(GridId::Keys)->plainRowCount(), 5);  // the grid is not touched
    }

    void ignoreLeavesTheRowOutAndVerificationShowsWhatWasStored() {
        MainWindow w;
        ScriptedPrompts prompts;
        w.setPrompts(&prompts);
        w.ApplyLanguage(texts::kEnglish);
        setRows(w.grid(GridId::Keys), {{"7", keyText(1)}, {"10000", keyText(2)}, {"9", keyText(3)}});
        prompts.abortAnswers = {false};
        w.onVerify();
        QCOMPARE(prompts.shown.size(), 1);
        QVERIFY(prompts.shown[0].text.contains(QStringLiteral("Record no: 2\n")));
        const Image& img = w.document().working;
        QCOMPARE(img[mem::kKeys + 1], std::uint8_t(7));
        QCOMPARE(img[mem::kKeys + 8 + 1], std::uint8_t(9));
        QCOMPARE(img[mem::kKeys + 16], std::uint8_t(0xFF));
        // The window shows the stored table, packed, and is Polish again.
        CodeGrid* keys = w.grid(GridId::Keys);
        QCOMPARE(keys->plainRowCount(), 3);
        QCOMPARE(keys->cell(1, 1), keyText(1));
        QCOMPARE(keys->cell(2, 0), QStringLiteral("9"));
        QCOMPARE(w.CurrentLanguage(), 0);
    }

    void repeatedResidentNamesTheSecondRowAndStops() {
        MainWindow w;
        ScriptedPrompts prompts;
        w.setPrompts(&prompts);
        setRows(w.grid(GridId::Residents),
                {{"1.7", "7", "0123", "17"}, {"2.3", "", "4444", ""}, {"1.7", "8", "5555", "18"}});
        const Image before = w.document().working;
        QCOMPARE(w.GetData(), 0);
        QVERIFY(w.document().working == before);
        QCOMPARE(prompts.shown.size(), 1);
        QCOMPARE(prompts.shown[0].kind, QStringLiteral("error"));
        QCOMPARE(prompts.shown[0].text,
                 QStringLiteral("W zakładce: \"Kody, hasła, klucze\"\nW tabeli: \"Lokatorzy\"\nWpis nr: 3\n"
                                "Kod fizyczny= 1.7\nKod logiczny= 8\nKod otwarcia= 5555\nKod główny= 18\n\n"
                                "Się powtarza!\n\nNaciśnij \"OK\" aby przerwać."));
        // A first row with an empty code leaves the slot free: the second replaces it.
        setRows(w.grid(GridId::Residents), {{"1.7", "7", "", "17"}, {"1.7", "8", "0123", "18"}});
        QCOMPARE(w.GetData(), 1);
        QCOMPARE(w.document().working[residentOffset(ResidentCode::Open, 1, 7)], std::uint8_t(0xF1));
        QCOMPARE(w.document().working[residentOffset(ResidentCode::Open, 1, 7) + 1], std::uint8_t(0x23));
    }

    void aFullKeyTableStopsWithItsOwnMessage() {
        MainWindow w;
        ScriptedPrompts prompts;
        w.setPrompts(&prompts);
        QList<QStringList> rows;
        for (int i = 0; i < 513; ++i) rows.append({QString::number(i % 100 + 1), keyText(i)});
        setRows(w.grid(GridId::Keys), rows);
        QCOMPARE(w.GetData(), 0);
        QCOMPARE(prompts.shown.size(), 1);
        QCOMPARE(prompts.shown[0].kind, QStringLiteral("error"));
        QVERIFY(prompts.shown[0].text.contains(QStringLiteral("Wpis nr: 513\n")));
        QVERIFY(prompts.shown[0].text.endsWith(
            QStringLiteral("\n\nTabela jest pełna: mieści najwyżej 512 wpisów.\n\nNaciśnij \"OK\" aby przerwać.")));
        rows.removeLast();
        setRows(w.grid(GridId::Keys), rows);
        QCOMPARE(w.GetData(), 1);
    }

    void plusStopsAtEachGridsLimit() {
        MainWindow w;
        struct Case {
            GridId id;
            const char* plus;
            int limit;
        };
        for (const Case& c : {Case{GridId::Residents, "Button4", 510}, Case{GridId::GeneralCodes, "Button6", 64},
                              Case{GridId::Digitizers, "Button8", 96}, Case{GridId::Keys, "Button1", 3072}}) {
            CodeGrid* grid = w.grid(c.id);
            Grid plain = grid->toGrid();
            plain.rows.resize(c.limit, Grid::Row(plain.rows[0].size()));  // header + limit - 1 data rows
            grid->setGrid(plain);
            button(w, c.plus)->click();
            QCOMPARE(grid->rowCount(), c.limit);
            QCOMPARE(grid->currentRow(), c.limit - 1);
            QCOMPARE(grid->currentColumn(), 0);
            button(w, c.plus)->click();
            QCOMPARE(grid->rowCount(), c.limit);
        }
    }

    void minusRemovesTheCurrentRowOrEmptiesTheLastOne() {
        MainWindow w;
        CodeGrid* codes = w.grid(GridId::GeneralCodes);
        setRows(codes, {{"1", "2", "0"}, {"3", "4", "1"}, {"5", "6", "0"}});
        codes->setCurrentCell(1, 0);  // plain row 2
        button(w, "Button5")->click();
        QCOMPARE(codes->plainRowCount(), 3);
        QCOMPARE(codes->cell(1, 0), QStringLiteral("1"));
        QCOMPARE(codes->cell(2, 0), QStringLiteral("5"));
        QCOMPARE(codes->cell(2, 2), QStringLiteral("0"));
        QCOMPARE(codes->cell(0, 2), QStringLiteral("Magistrala"));
        button(w, "Button5")->click();
        button(w, "Button5")->click();
        QCOMPARE(codes->plainRowCount(), 2);
        for (int c = 0; c < 3; ++c) QCOMPARE(codes->cell(1, c), QString());
    }

    void maskedEditorsKeepAnUntouchedCellEmpty() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        CodeGrid* residents = w.grid(GridId::Residents);
        residents->setCurrentCell(0, 0);
        residents->edit(residents->model()->index(0, 0));
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QCOMPARE(editor->inputMask(), QStringLiteral("0.000"));
        QTest::keyClicks(editor, QStringLiteral("1x.27"));
        QCOMPARE(editor->text(), QStringLiteral("1.27"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(residents->cell(1, 0), QStringLiteral("1.27"));  // committed once the editor closes
        // Opening and leaving an empty masked cell stores nothing.
        residents->setCurrentCell(0, 1);
        residents->edit(residents->model()->index(0, 1));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_VERIFY(!residents->indexWidget(residents->model()->index(0, 1)));
        QCOMPARE(residents->cell(1, 1), QString());
        CodeGrid* keys = w.grid(GridId::Keys);
        keys->setCurrentCell(0, 1);
        keys->edit(keys->model()->index(0, 1));
        editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QTest::keyClicks(editor, QStringLiteral("0f"));
        QTest::keyClick(editor, Qt::Key_Backspace);
        QTest::keyClick(editor, Qt::Key_Backspace);
        keys->setCurrentCell(0, 0);  // leaving the cell closes the editor
        QTRY_VERIFY(!keys->indexWidget(keys->model()->index(0, 1)));
        QCOMPARE(keys->cell(1, 1), QString());
    }

    void aCellBeingEditedCountsForVerificationButNotForARefill() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        CodeGrid* codes = w.grid(GridId::GeneralCodes);
        codes->setCurrentCell(0, 0);
        codes->edit(codes->model()->index(0, 0));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("1357"));
        w.onVerify();  // F5 while still typing
        QCOMPARE(codes->cell(1, 0), QStringLiteral("1357"));
        QCOMPARE(codes->cell(1, 1), QStringLiteral("255"));

        codes->setCurrentCell(0, 1);
        codes->edit(codes->model()->index(0, 1));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("7"));
        w.DisplayData();  // a refill drops what was being typed
        QApplication::processEvents();
        w.grid(GridId::Keys)->setFocus();
        QApplication::processEvents();
        QCOMPARE(codes->cell(1, 1), QStringLiteral("255"));
    }

    void typedSettingsCountAsTheyShow() {
        MainWindow w;
        const Image& img = w.document().working;
        // F6 or F5 pressed while still typing into a combo box: the item of that text.
        auto* p805 = w.findChild<QComboBox*>(QStringLiteral("p805_ComboBox"));
        p805->lineEdit()->selectAll();
        QTest::keyClicks(p805->lineEdit(), QStringLiteral("12"));
        auto* p104 = w.findChild<QComboBox*>(QStringLiteral("p104_ComboBox"));
        p104->lineEdit()->selectAll();
        QTest::keyClicks(p104->lineEdit(), QStringLiteral("dla zaczepu"));
        auto* p904 = w.findChild<QComboBox*>(QStringLiteral("p904_ComboBox"));
        p904->lineEdit()->selectAll();
        QTest::keyClicks(p904->lineEdit(), QStringLiteral("abc"));  // no such item: no selection
        // A spin edit holding a number below its range keeps its value and shows it again.
        auto* p001 = w.findChild<QSpinBox*>(QStringLiteral("p001_UpDown"));
        QLineEdit* p001Edit = p001->findChild<QLineEdit*>();
        p001Edit->selectAll();
        QTest::keyClicks(p001Edit, QStringLiteral("450"));
        QCOMPARE(w.GetData(), 1);
        QCOMPARE(img[findParameter("p805_ComboBox")->offset], std::uint8_t(12));
        QCOMPARE(img[findParameter("p104_ComboBox")->offset], std::uint8_t(1));
        QCOMPARE(img[findParameter("p904_ComboBox")->offset], std::uint8_t(0xFF));
        QCOMPARE(p904->currentText(), QString());
        const int p001Stored = img[mem::kWords] | img[mem::kWords + 1] << 8;
        QCOMPARE(p001->locale().toInt(p001->cleanText()), p001Stored);
    }

    void descriptionKeepsEveryCharacter() {
        MainWindow w;
        // A no-break space (0xA0 in the file) stays one; a line typed with
        // Shift+Enter ends in CR LF like any other.
        const QString text = QStringLiteral("ul.\u00A0Słoneczna 12\r\nklatka A");
        w.setDescription(text);
        QCOMPARE(w.description(), text);
        w.descriptionEdit_->moveCursor(QTextCursor::End);
        QTest::keyClick(w.descriptionEdit_, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(w.descriptionEdit_, QStringLiteral("B"));
        QCOMPARE(w.description(), text + QStringLiteral("\r\nB"));
        // A CR or LF alone (a file made elsewhere) is no line break: it comes back as it was.
        for (const QString& alone : {QStringLiteral("line1\nline2\rline3"), QStringLiteral("\r\r\n\n\r")}) {
            w.setDescription(alone);
            QCOMPARE(w.description(), alone);
        }
    }

    void saveAndLoadRoundTripAddsOneLineBreak() {
        QTemporaryDir dir;
        MainWindow w;
        ScriptedPrompts prompts;
        w.setPrompts(&prompts);
        setRows(w.grid(GridId::GeneralCodes), {{"1357", "3", "0"}});
        QCOMPARE(w.GetData(), 1);
        w.descriptionEdit_->setPlainText(QStringLiteral("Klatka schodowa ł\nŻółć"));
        const QString first = dir.filePath(QStringLiteral("building"));  // typed without extension
        prompts.files = {first};
        w.onSaveFile();
        const QByteArray saved = readAll(first + QStringLiteral(".kvd"));
        QCOMPARE(saved.size(), 16384 + 23);
        QCOMPARE(saved.mid(16384), QByteArray("Klatka schodowa \xB3\r\n\xAF\xF3\xB3\xE6"));
        QVERIFY(std::equal(w.document().working.begin(), w.document().working.end(),
                           reinterpret_cast<const std::uint8_t*>(saved.constData())));

        // Loading refills the window, in Polish; the device image stays.
        w.document().device.fill(0);
        w.grid(GridId::GeneralCodes)->setCell(1, 0, QStringLiteral("9999"));
        w.descriptionEdit_->setPlainText(QStringLiteral("inny"));
        w.ApplyLanguage(texts::kEnglish);
        prompts.files = {first + QStringLiteral(".kvd")};
        prompts.choices = {1};  // the edits above are discarded
        w.onLoadFile();
        QCOMPARE(w.grid(GridId::GeneralCodes)->cell(1, 0), QStringLiteral("1357"));
        QCOMPARE(w.descriptionEdit_->toPlainText(), QStringLiteral("Klatka schodowa ł\nŻółć\n"));
        QCOMPARE(w.CurrentLanguage(), 0);
        QVERIFY(std::all_of(w.document().device.begin(), w.document().device.end(), [](auto b) { return b == 0; }));

        const QString second = dir.filePath(QStringLiteral("again.kvd"));
        prompts.files = {second};
        w.onSaveFile();
        QCOMPARE(readAll(second), saved + QByteArray("\r\n"));
        // Edits typed into the window are checked and go into the file; an
        // invalid row answered with Abort saves nothing.
        w.grid(GridId::GeneralCodes)->setCell(1, 0, QStringLiteral("2468"));
        w.findChild<QSpinBox*>(QStringLiteral("p204_UpDown"))->setValue(7);
        prompts.files = {second};
        w.onSaveFile();
        const QByteArray edited = readAll(second);
        QVERIFY(edited.left(16384) != saved.left(16384));
        QVERIFY(std::equal(w.document().working.begin(), w.document().working.end(),
                           reinterpret_cast<const std::uint8_t*>(edited.constData())));
        QCOMPARE(showImage(w.document().working).grid(GridId::GeneralCodes).rows[1][0], std::string("2468"));
        w.grid(GridId::GeneralCodes)->setCell(1, 0, QStringLiteral("0"));
        prompts.files = {second};
        prompts.abortAnswers = {true};
        w.onSaveFile();
        QCOMPARE(readAll(second), edited);
        QCOMPARE(prompts.files.size(), std::size_t(1));  // no file dialog
        w.grid(GridId::GeneralCodes)->setCell(1, 0, QStringLiteral("2468"));
        prompts.files.clear();

        // A file of the image alone: the box holds one line break.
        const QString bare = dir.filePath(QStringLiteral("bare.kvd"));
        QFile f(bare);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(saved.left(16384));
        f.close();
        prompts.files = {bare};
        w.onLoadFile();  // nothing unsaved: no question
        QCOMPARE(w.descriptionEdit_->toPlainText(), QStringLiteral("\n"));
        QCOMPARE(w.description(), QStringLiteral("\r\n"));
        QCOMPARE(prompts.shown.size(), 7);  // the first LOAD asked about the edits first
        QCOMPARE(prompts.shown[0].title, QStringLiteral("Zapisz plik"));
        // Saving over an existing file asks nothing: the save dialog does not confirm.
        QVERIFY(w.findChild<QFileDialog*>(QStringLiteral("SaveDialog1"))->testOption(QFileDialog::DontConfirmOverwrite));
        QCOMPARE(prompts.shown[1].kind, QStringLiteral("choice"));
        QCOMPARE(prompts.shown[2].title, QStringLiteral("Open file"));
    }

    // Cards are made from the working image: codes typed since the last
    // check are checked and stored first; Abort on an invalid row prints nothing.
    void cardsShowTheCodesTypedIntoTheWindow() {
        MainWindow w;
        ScriptedPrompts prompts;
        w.setPrompts(&prompts);
        std::string printed;
        const auto capture = [&] { printed = showImage(w.document().working).grid(GridId::Residents).rows[1][2]; };
        w.hooks().print = w.hooks().preview = w.hooks().pdf = capture;
        const char* const codes[] = {"1111", "2222", "3333"};
        void (MainWindow::*const clicks[])() = {&MainWindow::onPrint, &MainWindow::onPrintPreview,
                                                &MainWindow::onSaveCardsPdf};
        for (int i = 0; i < 3; ++i) {
            setRows(w.grid(GridId::Residents), {{"1.1", "1", codes[i], ""}});
            (w.*clicks[i])();
            QCOMPARE(printed, std::string(codes[i]));
            setRows(w.grid(GridId::Residents), {{"3.1", "1", "4444", ""}});
            prompts.abortAnswers = {true};
            printed.clear();
            (w.*clicks[i])();
            QVERIFY(printed.empty());
        }
    }

    void fileErrorsShowInTheCurrentLanguageAndChangeNothing() {
        QTemporaryDir dir;
        MainWindow w;
        ScriptedPrompts prompts;
        w.setPrompts(&prompts);
        const Image before = w.document().working;
        prompts.files = {dir.filePath(QStringLiteral("missing.kvd"))};
        w.onLoadFile();
        QCOMPARE(prompts.shown.last().kind, QStringLiteral("message"));
        QCOMPARE(prompts.shown.last().title, QStringLiteral("Kelvane Studio Mini"));
        QCOMPARE(prompts.shown.last().text, QStringLiteral("Błąd wczytywania pliku!"));

        // A file shorter than an image is refused whole.
        const QString shortFile = dir.filePath(QStringLiteral("short.kvd"));
        QFile f(shortFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(100, '\0'));
        f.close();
        w.ApplyLanguage(texts::kEnglish);
        prompts.files = {shortFile};
        w.onLoadFile();
        QCOMPARE(prompts.shown.last().text, QStringLiteral("File loading error!"));
        QVERIFY(w.document().working == before);
        QCOMPARE(w.CurrentLanguage(), 1);

        prompts.files = {dir.filePath(QStringLiteral("no/such/folder/x.kvd"))};
        w.onSaveFile();
        QCOMPARE(prompts.shown.last().text, QStringLiteral("File saving error!"));

        // A read-only file is named as such, kept, and another name asked for.
        const QString readOnly = dir.filePath(QStringLiteral("kept.kvd")),
                      other = dir.filePath(QStringLiteral("other.kvd"));
        QVERIFY(QFile(readOnly).open(QIODevice::WriteOnly));
        QFile::setPermissions(readOnly, QFileDevice::ReadOwner);
        prompts.files = {readOnly, other};
        w.onSaveFile();
        QCOMPARE(prompts.shown[prompts.shown.size() - 2].text,
                 QStringLiteral("File saving error! The file is read-only; choose another name."));
        QCOMPARE(QFileInfo(readOnly).size(), 0);
        QVERIFY(loadDataFileFrom(other.toStdString()));

        // Cancelled dialogs do nothing.
        const int shown = prompts.shown.size();
        w.onLoadFile();
        w.onSaveFile();
        QCOMPARE(prompts.shown.size(), shown + 2);
        QCOMPARE(prompts.shown.last().kind, QStringLiteral("dialog"));
    }

    // All four grids into a folder and back: the residents' file previewed,
    // cancelled (nothing changes), then imported with Replace; wrong files are
    // refused with a message and no preview.
    void spreadsheetFilesOfTheGridsThroughTheMenu() {
        MainWindow w;
        ScriptedPrompts prompts;
        w.setPrompts(&prompts);
        w.document().working = sampleBuildingImage();
        w.DisplayData();
        w.ApplyLanguage(texts::kEnglish);
        const Grid before = w.grid(GridId::Residents)->toGrid();
        QTemporaryDir dir;
        prompts.files = {dir.path()};
        w.action("EXPORT_CSV_ALL")->trigger();
        for (const char* name : {"keys.csv", "residents.csv", "general_codes.csv", "digitizers.csv"})
            QVERIFY2(QFile::exists(dir.filePath(QString::fromLatin1(name))), name);
        QVERIFY(readAll(dir.filePath(QStringLiteral("residents.csv"))).startsWith("\xEF\xBB\xBFPhysical code;"));
        QCOMPARE(
            w.statusText(),
            QStringLiteral("Saved the CSV files in the folder %1 (4 files)").arg(QDir::toNativeSeparators(dir.path())));

        // An edit, then the file: Append replaces the edited slot in place.
        Grid edited = before;
        edited.rows[1][1] = "4321";
        w.grid(GridId::Residents)->setGrid(edited);
        const QString residents = dir.filePath(QStringLiteral("residents.csv"));
        QString counts, refusedTitle;
        QStringList changed;
        prompts.files = {residents};
        prompts.dialogs = {[&](QDialog* d) {
            counts = d->findChild<QLabel*>(QStringLiteral("CsvCounts"))->text();
            auto* list = d->findChild<QListWidget*>(QStringLiteral("CsvChanged"));
            for (int i = 0; i < list->count(); ++i) changed << list->item(i)->text();
            return int(QDialog::Rejected);
        }};
        w.action("IMPORT_CSV_residents")->trigger();
        // Only the edited row changes; the other 71 come back as they are.
        QCOMPARE(counts, QStringLiteral("To add: 0\nTo replace: 1\nTo remove: 0"));
        const auto joined = [](const Grid::Row& row) {
            QStringList cells;
            for (const auto& c : row) cells << QString::fromStdString(c);
            return cells.join(QStringLiteral("; "));
        };
        QCOMPARE(changed, QStringList{joined(edited.rows[1]) + QStringLiteral(" → ") + joined(before.rows[1])});
        QCOMPARE(w.grid(GridId::Residents)->cell(1, 1), QStringLiteral("4321"));  // cancelled

        prompts.files = {residents};
        prompts.dialogs = {[&](QDialog* d) {
            static_cast<CsvImportDialog*>(d)->setMode(CsvImportMode::Replace);
            counts = d->findChild<QLabel*>(QStringLiteral("CsvCounts"))->text();
            return int(QDialog::Accepted);
        }};
        w.action("IMPORT_CSV_residents")->trigger();
        QCOMPARE(counts, QStringLiteral("To add: 0\nTo replace: 1\nTo remove: 0"));  // only what changes
        QCOMPARE(w.grid(GridId::Residents)->toGrid().rows, before.rows);
        QCOMPARE(w.statusText(), QStringLiteral("Table \"Users\": read the file residents.csv (72 rows)"));
        QCOMPARE(w.document().working, sampleBuildingImage());  // verification takes it in, not the import

        // Refused rows are listed by line in the window's language.
        QFile bad(dir.filePath(QStringLiteral("bad.csv")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("1.1;11;;\n9.9;1;;\n1.1;12;;\n");
        bad.close();
        QStringList refused;
        prompts.files = {bad.fileName()};
        prompts.dialogs = {[&](QDialog* d) {
            auto* list = d->findChild<QListWidget*>(QStringLiteral("CsvRefused"));
            for (int i = 0; i < list->count(); ++i) refused << list->item(i)->text();
            return int(QDialog::Rejected);
        }};
        w.action("IMPORT_CSV_residents")->trigger();
        QCOMPARE(refused, (QStringList{QStringLiteral("Line 2: invalid entry; Column \"Physical code\": L.N is required: line 1 or 2, "
                                                      "flat 1 to 255"),
                                       QStringLiteral("Line 3: repeats the entry of line 1")}));

        // A data file and the keys' file read as residents: a message, no preview.
        const QString kvd = dir.filePath(QStringLiteral("x.kvd"));
        QVERIFY(saveDataFileTo(kvd.toStdString(), sampleBuildingImage(), ""));
        prompts.shown.clear();
        prompts.files = {kvd, dir.filePath(QStringLiteral("keys.csv")), dir.filePath(QStringLiteral("none.csv"))};
        for (int i = 0; i < 3; ++i) w.action("IMPORT_CSV_residents")->trigger();
        QStringList messages;
        for (const auto& shown : prompts.shown) {
            QVERIFY(shown.kind != QStringLiteral("run"));
            if (shown.kind == QStringLiteral("message")) messages << shown.text;
        }
        QCOMPARE(messages, (QStringList{QString::fromUtf8(texts::messageText(texts::Message::CsvDataFile, 1)),
                                        QStringLiteral("The file holds the table \"Keys\", not \"Users\"."),
                                        w.messageText(texts::Message::LoadError)}));
        QCOMPARE(w.grid(GridId::Residents)->toGrid().rows, before.rows);

        // A folder that cannot be written: the save error.
        prompts.files = {dir.filePath(QStringLiteral("no/such/folder"))};
        prompts.shown.clear();
        w.action("EXPORT_CSV_ALL")->trigger();
        QCOMPARE(prompts.shown.last().text, w.messageText(texts::Message::SaveError));
        w.document().working = initialImage();
    }

    // The flat actions on the sample building (flat 1.3: call code 3, two
    // keys): the grids show the result, the working image does not hold it
    // yet, and the message names the codes made, which the grid now shows.
    void flatActionsAreEditsOfTheWindowAndNameTheNewCodes() {
        const struct {
            FlatAction action;
            int row;
            bool newMain;
            GridId grid;
            int filledChange;       // rows of `grid` added (+) or removed (-)
            const char* inMessage;  // a piece of the message's detail
            int codeColumn;         // the cell of `row` the detail names, or -1
        } cases[] = {
            {FlatAction::MovedOut, 3, false, GridId::Keys, -2, "Keys removed: 2", -1},
            {FlatAction::NewResident, 5, true, GridId::Residents, 0, "New open code of resident 1.5: ", 2},
            {FlatAction::LostKey, 1, false, GridId::Keys, 0, "New key: 3D 00 00 00 00 00 00 01", -1},
            {FlatAction::GeneralCode, 3, false, GridId::GeneralCodes, 0, "New general code: ", -1},
        };
        for (const auto& c : cases) {
            MainWindow w;
            ScriptedPrompts prompts;
            w.setPrompts(&prompts);
            w.loadImage(sampleBuildingImage());
            w.ApplyLanguage(texts::kEnglish);
            const int before = w.grid(c.grid)->filledRowCount();
            // The lost key's replacement is typed in a box that checks it as the keys' grid does.
            prompts.dialogs = {[](QDialog* d) {
                auto* edit = d->findChild<QLineEdit*>(QStringLiteral("NewKeyEdit"));
                auto* ok = d->findChild<QPushButton*>(QStringLiteral("NewKeyOk"));
                edit->setText(QStringLiteral("3D 00 00 00 00 00 00 02"));  // a wrong check byte
                ok->click();
                if (d->result() == QDialog::Accepted ||
                    d->findChild<QLabel*>(QStringLiteral("NewKeyProblem"))->text().isEmpty())
                    return int(QDialog::Rejected);
                edit->setText(QStringLiteral("3D 00 00 00 00 00 00 01"));
                ok->click();
                return d->result();
            }};
            QVERIFY(runFlatAction(w, c.action, c.row, c.newMain));
            QCOMPARE(w.grid(c.grid)->filledRowCount(), before + c.filledChange);
            QCOMPARE(w.document().working, sampleBuildingImage());
            QVERIFY(w.document().edits.windowEdited(w.readWindow()));
            QVERIFY2(prompts.shown.last().detail.contains(QString::fromLatin1(c.inMessage)),
                     qPrintable(prompts.shown.last().detail));
            if (c.codeColumn >= 0)
                QVERIFY(prompts.shown.last().detail.contains(w.grid(c.grid)->cell(c.row, c.codeColumn)));
            // The next store takes it like any typed edit.
            QCOMPARE(w.GetData(), 1);
            QVERIFY(w.document().working != sampleBuildingImage());
        }
    }
};

QTEST_MAIN(ShellDataTest)
#include "shell_data_test.moc"
