// The main window offscreen: start-up state, layout, languages, menu
// shortcuts, tooltips, splash and About.
#include "sim/sample_building.h"
#include "shell/about_box.h"
#include "shell/code_grid.h"
#include "texts/language_table.h"
#include "shell/main_window.h"
#include "shell/settings_groups.h"
#include "shell/document.h"
#include "tests/shell/scripted_prompts.h"
#include "shell/settings_controls.h"
#include "shell/splash.h"
#include "files/data_file.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <QToolTip>

using namespace kelvane;
using namespace kelvane::shell;

namespace {

template <class T>
T* child(QObject* parent, const char* name) {
    return parent->findChild<T*>(QString::fromLatin1(name));
}

// Every group box's caption as the language table gives it (a code table's
// box adds the count of its rows).
void compareGroupTitles(MainWindow& w, int language) {
    for (int g = 0; g < kSettingsGroupCount; ++g) {
        const auto group = static_cast<SettingsGroup>(g);
        QString title = child<QGroupBox>(&w, shell::groupObjectName(group))->title();
        title.remove(QRegularExpression(QStringLiteral(" \\(\\d+\\)$")));
        QCOMPARE(title, QString::fromUtf8(texts::groupCaption(group, language)));
    }
}

// What a window entry's target shows now.
QString targetText(MainWindow& w, const texts::WindowEntry& e) {
    const QString name = QString::fromLatin1(e.target);
    switch (e.kind) {
    case texts::TargetKind::MenuItem: return child<QAction>(&w, e.target)->text();
    case texts::TargetKind::TabPage: return w.pages_->tabText(w.pages_->indexOf(child<QWidget>(&w, e.target)));
    case texts::TargetKind::RadioGroup: return child<QGroupBox>(&w, e.target)->title();
    case texts::TargetKind::Label: return child<QLabel>(&w, e.target)->text();
    case texts::TargetKind::CheckBox: return child<QCheckBox>(&w, e.target)->text();
    case texts::TargetKind::LabeledEdit: return w.findChild<QLabel*>(editLabelName(name))->text();
    case texts::TargetKind::RadioButton: return radioButtons(child<QWidget>(&w, e.target))->button(e.index)->text();
    case texts::TargetKind::GridHeader: return child<CodeGrid>(&w, e.target)->cell(0, e.index);
    case texts::TargetKind::ComboItem: return child<QComboBox>(&w, e.target)->itemText(e.index);
    }
    return {};
}

}  // namespace

class ShellWindowTest : public QObject {
    Q_OBJECT
public slots:
    void mailOpened(const QUrl& url) { mailUrl = url; }

public:
    QUrl mailUrl;

private slots:
    void startsFilledInPolishWithStatusEmptyAndProgressHidden() {
        // A system locale that groups thousands with a comma ("3,150" reads as 3.15 in Polish).
        struct LocaleScope {
            LocaleScope() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
            ~LocaleScope() { QLocale::setDefault(QLocale::c()); }
        } english;
        MainWindow w;
        QVERIFY(w.document().working == initialImage());
        QVERIFY(std::all_of(w.document().device.begin(), w.document().device.end(), [](auto b) { return b == 0; }));
        QVERIFY(!w.document().deviceKnown);
        QCOMPARE(w.windowTitle(), QStringLiteral("KelvaneMINI[*]"));
        QVERIFY(!w.isWindowModified());
        QCOMPARE(w.CurrentLanguage(), 0);
        QCOMPARE(w.pages_->currentIndex(), 0);
        QCOMPARE(w.statusText(), QString());
        QVERIFY(w.progressBar()->isHidden());
        QCOMPARE(w.progressBar()->parentWidget(), static_cast<QWidget*>(w.statusBar_));
        QCOMPARE(w.progressBar()->geometry(), QRect(2, 4, 596, 13));
        QCOMPARE(child<QLabel>(&w, "StatusBar1_Panel0")->width(), 600);
        QCOMPARE(child<QLabel>(&w, "StatusBar1_Panel1")->width(), 50);
        // Each grid: its Polish header and one empty data row.
        for (int g = 0; g < kGridCount; ++g) {
            CodeGrid* grid = w.grid(static_cast<GridId>(g));
            QCOMPARE(grid->plainRowCount(), 2);
            for (int c = 0; c < grid->columnCount(); ++c) QCOMPARE(grid->cell(1, c), QString());
        }
        QCOMPARE(w.grid(GridId::Keys)->cell(0, 1), QStringLiteral("Klucz"));
        QCOMPARE(w.grid(GridId::Keys)->columnWidth(1), 231);
        QCOMPARE(w.grid(GridId::Residents)->cell(0, 3), QStringLiteral("Kod główny"));
        // Settings at the initial image's values.
        QCOMPARE(child<QSpinBox>(&w, "p001_UpDown")->value(), 3150);
        QCOMPARE(child<QSpinBox>(&w, "p001_UpDown")->text(), QStringLiteral("3150"));
        QCOMPARE(child<QSpinBox>(&w, "p003_UpDown")->value(), 1950);
        QCOMPARE(child<QSpinBox>(&w, "p801_ADR_UpDown")->value(), 66);
        QVERIFY(child<QCheckBox>(&w, "p801_M_CheckBox")->isChecked());
        QCOMPARE(child<QComboBox>(&w, "p110_ComboBox")->currentText(), QStringLiteral("7 Volt"));
        QCOMPARE(child<QComboBox>(&w, "p104_ComboBox")->currentText(), QStringLiteral("Wszystkie"));
        QCOMPARE(child<QComboBox>(&w, "p706_ComboBox")->currentText(), QStringLiteral("15"));
        QCOMPARE(child<QComboBox>(&w, "p805_ComboBox")->count(), 256);
        QCOMPARE(radioButtons(child<QWidget>(&w, "p114_RadioGroup"))->checkedId(), 1);
        QCOMPARE(child<QSlider>(&w, "p105_TrackBar")->value(), 1);
        QCOMPARE(child<QLineEdit>(&w, "p101_MaskEdit")->displayText(), QStringLiteral("12345678"));
        QCOMPARE(w.descriptionEdit_->toPlainText(), QStringLiteral("..."));
        QCOMPARE(w.cardText(), QString());
        // Nothing in the window differs from what the image gives back.
        QCOMPARE(w.GetData(), 1);
        Image expected = initialImage();
        std::fill(expected.begin() + mem::kHiddenWords, expected.begin() + mem::kHiddenWords + 8, 0xFF);
        QVERIFY(w.document().working == expected);
    }

    void windowIsFixedAndNamedControlsCarryTheirRanges() {
        MainWindow w;
        w.show();
        QCOMPARE(w.minimumSize(), QSize(800, 600));
        QCOMPARE(w.maximumSize(), QSize(800, 600));
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        w.resize(1000, 700);
        QCOMPARE(w.size(), QSize(800, 600));

        const char* pages[] = {"TabSheet1", "TabSheet2", "TabSheet5", "TabSheet3", "TabSheet4", "TabSheet6"};
        for (int i = 0; i < 6; ++i) QCOMPARE(w.pages_->widget(i)->objectName(), QString::fromLatin1(pages[i]));
        for (int i = 1; i <= 24; ++i)
            QVERIFY2(w.findChild<QGroupBox*>(QStringLiteral("GroupBox%1").arg(i)), qPrintable(QString::number(i)));
        for (int i = 1; i <= 23; ++i)
            QVERIFY2(w.findChild<QLabel*>(QStringLiteral("Label%1").arg(i)), qPrintable(QString::number(i)));
        for (int i = 1; i <= 7; ++i) QVERIFY(w.findChild<QWidget*>(QStringLiteral("GridPanel%1").arg(i)));
        for (const char* n :
             {"Memo1", "Edit1", "StatusBar1", "ProgressBar", "MainMenu1", "PageControl1", "OpenDialog1", "SaveDialog1"})
            QVERIFY2(child<QObject>(&w, n), n);

        for (const Parameter& p : parameterTable()) {
            QWidget* c = child<QWidget>(&w, p.control);
            QVERIFY2(c, p.control);
            QCOMPARE(c->toolTip(), QString::fromLatin1(p.number));
            if (p.kind == ControlKind::UpDown) {
                auto* spin = qobject_cast<QSpinBox*>(c);
                QVERIFY(spin);
                QCOMPARE(spin->minimum(), p.min);
                QCOMPARE(spin->maximum(), p.max);
                QVERIFY2(child<QLineEdit>(spin, p.edit), p.edit);
            }
        }
        // The arrows never step outside the range.
        auto* p003 = child<QSpinBox>(&w, "p003_UpDown");
        p003->setValue(2200);
        p003->stepUp();
        QCOMPARE(p003->value(), 2200);
        auto* p005 = child<QSpinBox>(&w, "p005_UpDown");
        p005->setValue(1);
        p005->stepDown();
        QCOMPARE(p005->value(), 1);
        // Fixed item lists and unchanging captions.
        QCOMPARE(child<QComboBox>(&w, "p706_ComboBox")->itemText(0), QStringLiteral("prąd stały"));
        QCOMPARE(child<QComboBox>(&w, "p706_ComboBox")->count(), 21);
        QCOMPARE(child<QCheckBox>(&w, "p714_3_CheckBox")->text(), QStringLiteral("OCB"));
        QCOMPARE(child<QSlider>(&w, "p105_TrackBar")->maximum(), 7);
        // The data-file dialogs speak the window's language.
        QCOMPARE(w.openDialog_->windowTitle(), QStringLiteral("Otwórz plik"));
        QCOMPARE(w.openDialog_->nameFilters(), QStringList{QStringLiteral("Plik danych KelvaneMini (*.kvd)")});
        w.ApplyLanguage(texts::kEnglish);
        QCOMPARE(w.openDialog_->windowTitle(), QStringLiteral("Open file"));
        QCOMPARE(w.saveDialog_->windowTitle(), QStringLiteral("Save file"));
        QCOMPARE(w.saveDialog_->defaultSuffix(), QStringLiteral("kvd"));
        QCOMPARE(w.openDialog_->nameFilters(), QStringList{QStringLiteral("KelvaneMini data file (*.kvd)")});
    }

    void tooltipsNameTheParameterInGreen() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(QToolTip::palette().color(QPalette::ToolTipBase), QColor(0, 255, 0));
        QCOMPARE(w.grid(GridId::Keys)->toolTip(), QStringLiteral("p505, p506, p507"));
        QCOMPARE(w.grid(GridId::Residents)->toolTip(), QStringLiteral("p501, p502, p503"));
        // Over a cell of the key grid, as the pointer is.
        QWidget* cells = w.grid(GridId::Keys)->viewport();
        QHelpEvent overGrid(QEvent::ToolTip, QPoint(10, 10), cells->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(cells, &overGrid);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("p505, p506, p507"));
        QToolTip::hideText();
        w.pages_->setCurrentIndex(1);
        QLineEdit* edit = child<QLineEdit>(&w, "p005_LabeledEdit");
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), edit->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(edit, &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("p005"));
        QToolTip::hideText();
    }

    void languagesSwitchEveryTableTextAndKeepSelections() {
        MainWindow w;
        auto* p108 = child<QComboBox>(&w, "p108_ComboBox");
        auto* p904 = child<QComboBox>(&w, "p904_ComboBox");
        p108->setCurrentIndex(2);
        p904->setCurrentIndex(-1);
        child<QAction>(&w, "English2")->trigger();
        QCOMPARE(w.CurrentLanguage(), 1);
        QCOMPARE(p108->currentIndex(), 2);
        QCOMPARE(p108->currentText(), QStringLiteral("For relay output"));
        QCOMPARE(p108->count(), 4);
        QCOMPARE(p904->currentIndex(), -1);
        QCOMPARE(w.pages_->tabText(0), QStringLiteral("Codes, passwords, keys"));
        QCOMPARE(child<QAction>(&w, "PRINT")->text(), QStringLiteral("Print "));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("p001_LabeledEdit_EditLabel"))->text(), QStringLiteral("Stop time"));
        QCOMPARE(w.grid(GridId::Digitizers)->cell(0, 2), QStringLiteral("Pushbutton"));
        QCOMPARE(w.messageText(texts::Message::SaveError), QStringLiteral("File saving error!"));
        for (const auto& e : texts::windowEntries()) QCOMPARE(targetText(w, e), QString::fromUtf8(e.text[1]));
        compareGroupTitles(w, texts::kEnglish);

        child<QAction>(&w, "Pyccknn1")->trigger();
        for (const auto& e : texts::windowEntries()) QCOMPARE(targetText(w, e), QStringLiteral("...."));
        compareGroupTitles(w, texts::kThird);
        QCOMPARE(w.messageText(texts::Message::LoadError), QStringLiteral("..."));
        QCOMPARE(p108->currentIndex(), 2);
        // Texts outside the table read the same in every language.
        QCOMPARE(child<QMenu>(&w, "Menu1")->title(), QStringLiteral("Menu"));
        QCOMPARE(child<QMenu>(&w, "Polski1")->title(), QStringLiteral("Lang"));
        QCOMPARE(child<QAction>(&w, "English2")->text(), QStringLiteral("English"));
        QCOMPARE(child<QAction>(&w, "Pyccknn1")->text(), QStringLiteral("Pyccknn"));
        QCOMPARE(child<QComboBox>(&w, "p110_ComboBox")->itemText(0), QStringLiteral("12 Volt"));
        QCOMPARE(child<QCheckBox>(&w, "p714_1_CheckBox")->text(), QStringLiteral("EXI"));
        QCOMPARE(w.windowTitle(), QStringLiteral("KelvaneMINI[*]"));

        // Every refill of the window comes back in Polish.
        w.DisplayData();
        QCOMPARE(w.CurrentLanguage(), 0);
        QCOMPARE(w.document().language, 0);
        for (const auto& e : texts::windowEntries()) QCOMPARE(targetText(w, e), QString::fromUtf8(e.text[0]));
        compareGroupTitles(w, texts::kPolish);
    }

    // The status bar follows the Lang menu: a table message, one joined to
    // another, and one made with a file name; other text stays as it is.
    void statusFollowsTheLanguage() {
        MainWindow w;
        const struct {
            std::function<void()> set;
            QString polish, inEnglish;
        } cases[] = {
            {[&] { w.setStatusText(QStringLiteral("Dane pobrane")); }, QStringLiteral("Dane pobrane"),
             QStringLiteral("Data downloaded")},
            {[&] { w.setStatusText(QStringLiteral("Dane pobrane — /tmp/x")); }, QStringLiteral("Dane pobrane — /tmp/x"),
             QStringLiteral("Data downloaded — /tmp/x")},
            {[&] { w.setStatus([&w](int) { return w.formatMessage(texts::Message::FileOpened, {"a.kvd"}); }); },
             QStringLiteral("Wczytano plik a.kvd"), QStringLiteral("Opened the file a.kvd")},
            {[&] { w.setStatusText(QStringLiteral("Port COM3, zasilacz ID 7")); },
             QStringLiteral("Port COM3, zasilacz ID 7"), QStringLiteral("Port COM3, zasilacz ID 7")},
        };
        for (const auto& c : cases) {
            w.ApplyLanguage(texts::kPolish);
            c.set();
            w.ApplyLanguage(texts::kEnglish);
            QCOMPARE(w.statusText(), c.inEnglish);
            w.ApplyLanguage(texts::kPolish);
            QCOMPARE(w.statusText(), c.polish);
        }
    }

    // The notice since the last visit reads whole at the window's size and
    // follows the language; the next port choice takes it away.
    void noticeHasALineOfItsOwnUntilThePortIsChosen() {
        MainWindow w;
        w.show();
        auto* notice = child<QLabel>(&w, "NoticeLabel");
        const auto make = [](int language) {
            return QString::fromUtf8(texts::messageText(texts::Message::SinceLastVisit, language))
                       .replace(QLatin1String("%s"), QStringLiteral("30.12.2026"))
                       .replace(QLatin1String("%d"), QStringLiteral("120")) +
                   QStringLiteral(" <a href=\"changes\">") +
                   QString::fromUtf8(texts::messageText(texts::Message::SinceLastVisitShow, language)) +
                   QStringLiteral("</a>");
        };
        w.setNotice(make);
        for (int language : {texts::kEnglish, texts::kPolish}) {
            w.ApplyLanguage(language);
            QTest::qWait(0);
            QCOMPARE(w.noticeText(), make(language));
            QVERIFY(notice->isVisible());
            QCOMPARE(notice->width(), w.width());
            QVERIFY2(notice->heightForWidth(notice->width()) <= notice->height(), qPrintable(make(language)));
        }
        w.onChoosePort();
        QVERIFY(w.noticeText().isEmpty());
        QVERIFY(!notice->isVisible());
    }

    // The title names the open file and marks edits not yet saved; opening
    // a file says so in the status bar.
    void titleNamesTheFileAndMarksEdits() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("blok 7.kvd"));
        QVERIFY(saveDataFileTo(QFile::encodeName(path).toStdString(), initialImage(), "x"));
        MainWindow w;
        ScriptedPrompts prompts;
        w.setPrompts(&prompts);
        w.setStatusText(w.messageText(texts::Message::CheckSame));
        QVERIFY(w.loadDataFile(path));
        QCOMPARE(w.windowTitle(), QStringLiteral("KelvaneMINI — blok 7.kvd[*]"));
        QCOMPARE(w.statusText(), QStringLiteral("Wczytano plik blok 7.kvd"));
        QVERIFY(!w.isWindowModified());
        w.grid(GridId::GeneralCodes)->setCell(1, 0, QStringLiteral("4321"));
        QTRY_VERIFY(w.isWindowModified());
        w.grid(GridId::GeneralCodes)->setCell(1, 0, QString());
        QTRY_VERIFY(!w.isWindowModified());
    }

    // The grids scroll when their rows do not fit, and each box's title counts
    // the filled rows through edits, "+", refills and language switches.
    void gridBoxesCountTheirRowsAndGridsScroll() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        CodeGrid* residents = w.grid(GridId::Residents);
        QCOMPARE(w.gridBox(GridId::Residents)->title(), QStringLiteral("Lokatorzy (0)"));
        QVERIFY(!residents->verticalScrollBar()->isVisible());
        w.document().working = sampleBuildingImage();
        w.DisplayData();
        QCoreApplication::processEvents();
        QCOMPARE(w.gridBox(GridId::Residents)->title(), QStringLiteral("Lokatorzy (72)"));
        QTRY_VERIFY(residents->verticalScrollBar()->isVisible());
        QCOMPARE(residents->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        // The last column stays whole beside the scroll bar.
        int width = residents->verticalScrollBar()->width();
        for (int c = 0; c < residents->columnCount(); ++c) width += residents->columnWidth(c);
        QVERIFY2(width <= residents->width(), qPrintable(QString::number(width)));
        child<QPushButton>(&w, "Button4")->click();  // "+": an empty row counts nothing
        QCOMPARE(w.gridBox(GridId::Residents)->title(), QStringLiteral("Lokatorzy (72)"));
        residents->setCell(residents->plainRowCount() - 1, 0, QStringLiteral("2.200"));
        QCOMPARE(w.gridBox(GridId::Residents)->title(), QStringLiteral("Lokatorzy (73)"));
        w.ApplyLanguage(texts::kEnglish);
        QCOMPARE(w.gridBox(GridId::Residents)->title(), QStringLiteral("Users (73)"));
        // Row messages name the table by its caption alone.
        QVERIFY(w.entryMessage(texts::EntryProblem::Invalid, GridId::Residents, 1).contains(QStringLiteral("\"Users\"")));
        w.document().working = initialImage();
    }

    void gridHeadersFitTheirColumnsInPolishAndEnglish() {
        MainWindow w;
        w.show();
        for (int language : {texts::kPolish, texts::kEnglish}) {
            w.ApplyLanguage(language);
            for (int g = 0; g < kGridCount; ++g) {
                CodeGrid* grid = w.grid(static_cast<GridId>(g));
                for (int c = 0; c < grid->columnCount(); ++c)
                    QVERIFY2(grid->horizontalHeader()->sectionSizeHint(c) <= grid->columnWidth(c),
                             qPrintable(grid->cell(0, c)));
            }
        }
    }

    void shortcutsReachTheirCommandsFromEveryPage() {
        MainWindow w;
        ScriptedPrompts prompts;  // the file dialogs are cancelled
        w.setPrompts(&prompts);
        int port = 0, download = 0, upload = 0, print = 0, abort = 0;
        w.hooks().port = [&] { ++port; };
        w.hooks().download = [&] { ++download; };
        w.hooks().upload = [&] { ++upload; };
        w.hooks().print = [&] { ++print; };
        w.hooks().abort = [&] { ++abort; };
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        struct Key {
            const char* action;
            Qt::Key key;
            Qt::KeyboardModifiers mods;
        };
        const Key keys[] = {{"LOAD", Qt::Key_O, Qt::ControlModifier},  {"SAVE", Qt::Key_S, Qt::ControlModifier},
                            {"PRINT", Qt::Key_P, Qt::ControlModifier}, {"UPLOAD", Qt::Key_F6, Qt::NoModifier},
                            {"VERIFY", Qt::Key_F5, Qt::NoModifier},    {"DOWNLOAD", Qt::Key_F4, Qt::NoModifier},
                            {"PORT", Qt::Key_F3, Qt::NoModifier}};
        for (int page = 0; page < 6; ++page) {
            w.pages_->setCurrentIndex(page);
            QWidget* target = w.pages_->currentWidget();
            for (const Key& k : keys) {
                QSignalSpy spy(child<QAction>(&w, k.action), &QAction::triggered);
                QTest::keyClick(target, k.key, k.mods);
                QVERIFY2(spy.count() == 1, k.action);
            }
            // Esc aborts only while a transfer runs.
            QSignalSpy abortSpy(child<QAction>(&w, "ABORT"), &QAction::triggered);
            QTest::keyClick(target, Qt::Key_Escape);
            QCOMPARE(abortSpy.count(), 0);
            w.setTransferRunning(true);
            QVERIFY(!child<QAction>(&w, "LOAD")->isEnabled());
            QVERIFY(!child<QAction>(&w, "VERIFY")->isEnabled());
            QTest::keyClick(target, Qt::Key_Escape);
            QCOMPARE(abortSpy.count(), 1);
            w.setTransferRunning(false);
        }
        QCOMPARE(port, 6);
        QCOMPARE(download, 6);
        QCOMPARE(upload, 6);  // the initial image passes the checks
        QCOMPARE(print, 6);
        QCOMPARE(abort, 6);
        QCOMPARE(prompts.shown.size(), 12);  // the open and save dialogs, cancelled
        QCOMPARE(child<QAction>(&w, "LOAD")->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    }

    void splashShowsTheMainWindowWhenItsTimeIsUp() {
        MainWindow w;
        QPointer<SplashWindow> splash = new SplashWindow(&w);
        QVERIFY(splash->isVisible());
        QCOMPARE(splash->size(), QSize(599, 359));
        QVERIFY(splash->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(splash->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(splash->showTimer_->interval(), 2000);
        QVERIFY(splash->showTimer_->isActive());
        QVERIFY(!w.isVisible());
        splash->onShowTimeOver();
        QVERIFY(w.isVisible());
        QTRY_VERIFY(splash.isNull());
        QCOMPARE(w.CurrentLanguage(), 0);
        // Shown once: the main window hidden and shown again brings no splash back.
        w.hide();
        w.show();
        QTest::qWait(50);
        for (QWidget* top : QApplication::topLevelWidgets()) QVERIFY(!qobject_cast<SplashWindow*>(top));

        // Closing About, with OK or the window's close button, changes nothing.
        w.ApplyLanguage(texts::kEnglish);
        w.setStatusText(QStringLiteral("Dane pobrane"));
        const Image image = w.document().working;
        for (bool withOk : {true, false}) {
            QTimer::singleShot(100, [withOk] {
                auto* about = qobject_cast<AboutBox*>(QApplication::activeModalWidget());
                QVERIFY(about);
                if (withOk)
                    child<QPushButton>(about, "OKButton")->click();
                else
                    about->close();
            });
            w.onAbout();
            QVERIFY(w.isVisible());
            QCOMPARE(w.CurrentLanguage(), 1);
            QCOMPARE(w.statusText(), QStringLiteral("Dane pobrane"));
            QVERIFY(w.document().working == image);
        }
    }

    void exitAndClosingTheWindowEndTheProgram() {
        MainWindow w;
        QWidget other;  // another window still open (help) does not keep the program going
        w.show();
        other.show();
        QTimer never;
        never.setSingleShot(true);
        connect(&never, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        never.start(5000);
        QTimer::singleShot(0, &w, &MainWindow::onExit);
        QCOMPARE(QCoreApplication::exec(), 0);
        w.show();
        other.show();
        never.start(5000);
        QTimer::singleShot(0, &w, &QWidget::close);
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    void fileDialogLeavesNoCompletionListBehind() {
        // The file name box's completion list can come up just as Enter
        // closes the dialog; it must not stay on top of the main window.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile(dir.filePath("Kwiatowa12.kvd")).open(QIODevice::WriteOnly);
        QFileDialog dialog(nullptr, QStringLiteral("Open file"), dir.path());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        QWidget* popup = nullptr;
        QTimer::singleShot(50, &dialog, [&] {
            auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name && name->completer());
            name->setText(QStringLiteral("Kw"));
            name->completer()->setCompletionPrefix(QStringLiteral("Kw"));
            name->completer()->complete();
            popup = name->completer()->popup();
            name->setText(QStringLiteral("Kwiatowa12.kvd"));
            static_cast<QDialog&>(dialog).accept();
        });
        QTimer::singleShot(3000, &dialog, &QDialog::reject);
        WidgetPrompts prompts;
        QCOMPARE(prompts.chooseFile(&dialog), dir.filePath("Kwiatowa12.kvd"));
        QVERIFY(popup);
        QVERIFY(!popup->isVisible());
    }

    void invalidEntryBoxAbortsOnlyWithItsAbortButton() {
        // A Polish window puts Qt's own texts in Polish, but the box keeps the
        // button names its message asks for.
        MainWindow w;
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Anuluj"));
        WidgetPrompts prompts;
        auto answer = [&](auto act) {
            QTimer::singleShot(0, [act] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box);
                QCOMPARE(box->icon(), QMessageBox::Warning);
                act(box);
            });
            return prompts.abortOrIgnore(nullptr, QStringLiteral("Kelvane Studio Mini"), QStringLiteral("row"));
        };
        QVERIFY(answer([](QMessageBox* b) {
            QCOMPARE(b->button(QMessageBox::Ignore)->text(), QStringLiteral("Ignore"));
            b->button(QMessageBox::Abort)->click();
        }));
        QVERIFY(!answer([](QMessageBox* b) { b->button(QMessageBox::Ignore)->click(); }));
        QVERIFY(!answer([](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Escape); }));
        QVERIFY(!answer([](QMessageBox* b) { b->close(); }));
    }

    void aboutBoxTextsStandClearOfThePicture() {
        AboutBox about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QCOMPARE(about.size(), QSize(298, 213));
        QLabel* icon = child<QLabel>(&about, "ProgramIcon");
        QCOMPARE(icon->size(), QSize(137, 136));
        for (const char* name : {"ProductName", "Version", "Comments"}) {
            QLabel* label = child<QLabel>(&about, name);
            QVERIFY2(label->geometry().left() > icon->geometry().right(), name);
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width(), name);
        }
    }

    void aboutBoxOpensTheMailLink() {
        AboutBox about;
        QCOMPARE(about.windowTitle(), QStringLiteral("O programie"));
        QCOMPARE(child<QLabel>(&about, "ProductName")->text(), QStringLiteral("Program KelvaneMini"));
        QCOMPARE(child<QLabel>(&about, "Version")->text(), QStringLiteral("Wersja 0.9"));
        QVERIFY(child<QLabel>(&about, "ProgramIcon"));
        QVERIFY(child<QWidget>(&about, "OKButton"));
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), this, "mailOpened");
        about.show();
        QLabel* comments = child<QLabel>(&about, "Comments");
        QCOMPARE(comments->text(), QStringLiteral("TUTAJ UWAGI"));
        QTest::mouseClick(comments, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        QCOMPARE(mailUrl.scheme(), QStringLiteral("mailto"));
        QCOMPARE(mailUrl.path(), QString::fromLatin1(kSupportAddress));
        QCOMPARE(mailUrl.query(QUrl::FullyDecoded), QStringLiteral("subject=Program KelvaneMini"));
    }
};

QTEST_MAIN(ShellWindowTest)
#include "shell_window_test.moc"
