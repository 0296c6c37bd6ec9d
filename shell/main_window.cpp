#include "shell/main_window.h"

#include "files/description_text.h"
#include "shell/about_box.h"
#include "shell/check_dialog.h"
#include "shell/code_grid.h"
#include "shell/program_state.h"
#include "shell/settings_controls.h"
#include "shell/window_font.h"

#include <QAction>
#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QTextDocument>
#include <QToolTip>

namespace kelvane::shell {

const char* const kApplicationTitle = "Kelvane Studio Mini";

namespace {
constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kFirstPanelWidth = 600;
constexpr int kSecondPanelWidth = 50;
const char kDataFileFilter[] = "KelvaneMini data file (*.kvd)";
}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KelvaneMINI"));
    // Small caption with a close button only; the size never changes.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kWidth, kHeight);
    setFont(WindowFont());
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());

    ownPrompts_ = std::make_unique<WidgetPrompts>();
    prompts_ = ownPrompts_.get();

    buildMenu();
    buildPages();
    buildStatusBar();

    OpenDialog1 = new QFileDialog(this, QStringLiteral("Open file"), QString(), QString::fromLatin1(kDataFileFilter));
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setFileMode(QFileDialog::AnyFile);  // a missing file fails on opening
    OpenDialog1->setDefaultSuffix(QStringLiteral("kvd"));
    SaveDialog1 = new QFileDialog(this, QStringLiteral("Save file"), QString(), QString::fromLatin1(kDataFileFilter));
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
    SaveDialog1->setDefaultSuffix(QStringLiteral("kvd"));

    indexNamedObjects();
    FormCreate();
}

TForm1::~TForm1() { delete wiring_.data(); }

void TForm1::FormCreate() {
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::ToolTipBase, QColor(0, 255, 0));
    tips.setColor(QPalette::ToolTipText, Qt::black);
    QToolTip::setPalette(tips);
    workingImage() = initialImage();
    ProgressBar->hide();
    DisplayData();
    ApplyLanguage(0);
    edits_.imageKept(workingImage());
    edits_.descriptionKept(description().toStdString());
}

void TForm1::buildMenu() {
    struct Entry {
        const char* name;
        const char* design;
        QKeySequence key;
        void (TForm1::*handler)();
        bool checkable = false;
    };
    const Entry menu[] = {
        {"LOAD", "Wczytaj plik", QKeySequence(Qt::CTRL | Qt::Key_O), &TForm1::LOADClick},
        {"SAVE", "Zapisz plik", QKeySequence(Qt::CTRL | Qt::Key_S), &TForm1::SAVEClick},
        {"PRINT", "Drukuj", QKeySequence(Qt::CTRL | Qt::Key_P), &TForm1::PRINTClick},
        {"PREVIEW", "Podgląd wydruku", QKeySequence(), &TForm1::PREVIEWClick},
        {"SAVE_PDF", "Zapisz karty jako PDF…", QKeySequence(), &TForm1::SAVE_PDFClick},
        {"UPLOAD", "Wyslij dane", QKeySequence(Qt::Key_F6), &TForm1::UPLOADClick},
        {"VERIFY", "Weryfikacja", QKeySequence(Qt::Key_F5), &TForm1::VERIFYClick},
        {"CHECK", "Sprawdź konfigurację", QKeySequence(), &TForm1::CHECKClick},
        {"DOWNLOAD", "Pobierz dane", QKeySequence(Qt::Key_F4), &TForm1::DOWNLOADClick},
        {"COMPARE", "Porównaj z zasilaczem", QKeySequence(Qt::Key_F7), &TForm1::COMPAREClick},
        {"READBACK", "Sprawdź zasilacz", QKeySequence(Qt::Key_F8), &TForm1::READBACKClick},
        {"BACKUPS", "Kopie zapasowe…", QKeySequence(), &TForm1::BACKUPSClick},
        {"ASKUPLOAD", "Pytaj przed wysłaniem", QKeySequence(), nullptr, true},
        {"PORT", "Port", QKeySequence(Qt::Key_F3), &TForm1::PORTClick},
        {"ABORT", "Przerwij", QKeySequence(Qt::Key_Escape), &TForm1::ABORTClick},
        {"ABOUT", "O programie", QKeySequence(), &TForm1::ABOUTClick},
        {"Pomoc1", "Pomoc", QKeySequence(), &TForm1::Pomoc1Click},
        {"EXIT", "Wyjscie", QKeySequence(), &TForm1::EXITClick},
    };
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto fill = [this](QMenu* m, const Entry* first, const Entry* last) {
        for (const Entry* e = first; e != last; ++e) {
            auto* a = new QAction(QString::fromUtf8(e->design), this);
            a->setObjectName(QString::fromLatin1(e->name));
            a->setShortcut(e->key);
            a->setShortcutContext(Qt::WindowShortcut);
            a->setCheckable(e->checkable);
            if (e->handler) connect(a, &QAction::triggered, this, e->handler);
            m->addAction(a);
            addAction(a);  // shortcuts work with the menu closed, from every page
        }
    };
    QMenu* menu1 = bar->addMenu(QStringLiteral("Menu"));
    menu1->setObjectName(QStringLiteral("Menu1"));
    fill(menu1, std::begin(menu), std::end(menu));
    buildCsvMenus(menu1, findChild<QAction*>(QStringLiteral("PRINT")));
    QMenu* polski1 = bar->addMenu(QStringLiteral("Lang"));
    polski1->setObjectName(QStringLiteral("Polski1"));
    for (int language = 0; language < lang::kLanguageCount; ++language) {
        auto* a = new QAction(QString::fromUtf8(lang::kLanguages[language].name), this);
        a->setObjectName(QString::fromLatin1(lang::kLanguages[language].action));
        connect(a, &QAction::triggered, this, [this, language] { ApplyLanguage(language); });
        polski1->addAction(a);
        addAction(a);
    }
    setTransferRunning(false);
}

void TForm1::buildStatusBar() {
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFixedHeight(22);
    setStatusBar(StatusBar1);
    statusPanel_ = new QLabel(StatusBar1);
    statusPanel_->setObjectName(QStringLiteral("StatusBar1_Panel0"));
    statusPanel_->setFixedWidth(kFirstPanelWidth);
    StatusBar1->addWidget(statusPanel_);
    auto* second = new QLabel(StatusBar1);
    second->setObjectName(QStringLiteral("StatusBar1_Panel1"));
    second->setFixedWidth(kSecondPanelWidth);
    StatusBar1->addWidget(second);

    ProgressBar = new QProgressBar(StatusBar1);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setTextVisible(false);
    ProgressBar->setGeometry(2, 4, kFirstPanelWidth - 4, 13);
    ProgressBar->hide();
}

void TForm1::indexNamedObjects() {
    named_.clear();
    for (QObject* o : findChildren<QObject*>()) {
        const QString name = o->objectName();
        if (!name.isEmpty() && !named_.contains(name)) named_.insert(name, o);
    }
}

void TForm1::setPrompts(Prompts* prompts) { prompts_ = prompts ? prompts : ownPrompts_.get(); }
Prompts& TForm1::prompts() const { return *prompts_; }

void TForm1::showMessage(const QString& text, const QString& detail) {
    prompts().message(this, QString::fromLatin1(kApplicationTitle), text, detail);
}
void TForm1::setAboutBox(QDialog* about) { about_ = about; }

QAction* TForm1::action(const char* name) const {
    return qobject_cast<QAction*>(named_.value(QString::fromLatin1(name)));
}

void TForm1::setStatusText(const QString& text) { statusPanel_->setText(text); }
QString TForm1::statusText() const { return statusPanel_->text(); }

void TForm1::setTransferRunning(bool running) {
    findChild<QAction*>(QStringLiteral("LOAD"))->setEnabled(!running);
    findChild<QAction*>(QStringLiteral("VERIFY"))->setEnabled(!running);
    findChild<QAction*>(QStringLiteral("CHECK"))->setEnabled(!running);
    // Compare rewrites the working image, a backup replaces it, as LOAD and VERIFY do.
    findChild<QAction*>(QStringLiteral("COMPARE"))->setEnabled(!running);
    findChild<QAction*>(QStringLiteral("BACKUPS"))->setEnabled(!running);
    findChild<QAction*>(QStringLiteral("ABORT"))->setEnabled(running);
}

QString TForm1::cardText() const { return Edit1->text(); }

QString TForm1::description() const {
    // The raw text: the plain one would turn no-break spaces into spaces.
    QString text = Memo1->document()->toRawText();
    for (const QChar lineBreak : {QChar(QChar::ParagraphSeparator), QChar(QChar::LineSeparator)})
        text.replace(lineBreak, QLatin1Char('\n'));
    return QString::fromStdString(DescriptionFromBox(text.toStdString()));
}

void TForm1::setDescription(const QString& crlfText) {
    Memo1->setPlainText(QString::fromStdString(DescriptionForBox(crlfText.toStdString())));
}

int TForm1::CurrentLanguage() const { return currentLanguage(); }

QString TForm1::messageText(lang::Message message) const {
    return QString::fromUtf8(lang::messageText(message, currentLanguage()));
}

// Menu commands.

// Cards show the codes the window shows.
void TForm1::PRINTClick() {
    if (hooks_.print && storeTypedEdits()) hooks_.print();
}
void TForm1::UPLOADClick() {
    // The upload hook checks the window itself (GetData) before it sends;
    // without one, the check alone runs.
    if (hooks_.upload)
        hooks_.upload();
    else
        GetData();
}
void TForm1::VERIFYClick() {
    if (GetData() != 1) return;
    keepSource_ = true;
    DisplayData();
    keepSource_ = false;
}
void TForm1::CHECKClick() {
    // Checks what the window holds, stored as Verification stores it; the
    // grids then show the image's rows, which the warnings count.
    const int language = currentLanguage();
    if (GetData() != 1) return;
    keepSource_ = true;
    DisplayData();
    keepSource_ = false;
    ApplyLanguage(language);  // the check keeps the language it was asked in
    if (!checkDialog_) {
        checkDialog_ = new CheckDialog(this);
        connect(checkDialog_, &CheckDialog::goTo, this,
                [this](int index) { showWarningPlace(checkDialog_->warnings()[static_cast<std::size_t>(index)]); });
    }
    checkDialog_->setWindowTitle(action("CHECK")->text());
    checkDialog_->setWarnings(configurationWarnings(), language);
    checkDialog_->show();
    checkDialog_->raise();
    checkDialog_->activateWindow();
}

CheckDialog* TForm1::checkDialog() const { return checkDialog_; }

std::vector<Warning> TForm1::configurationWarnings() const {
    return CheckStoredConfiguration(sourceImage_, workingImage());
}

void TForm1::showWarningPlace(const Warning& w) {
    QWidget* target = nullptr;
    if (w.grid) {
        CodeGrid* g = grid(*w.grid);
        const int row = w.row - 1;  // table rows start below the header
        if (row >= 0 && row < g->rowCount()) {
            g->setCurrentCell(row, 0);
            g->scrollToItem(g->item(row, 0));
        }
        target = g;
    } else {
        target = qobject_cast<QWidget*>(named_.value(QString::fromStdString(w.control)));
        // A radio group takes the focus on its chosen button.
        if (auto* box = qobject_cast<QGroupBox*>(target))
            if (QButtonGroup* buttons = radioButtons(box); buttons && !buttons->buttons().isEmpty())
                target = buttons->checkedButton() ? buttons->checkedButton() : buttons->buttons().first();
    }
    if (!target) return;
    for (int page = 0; page < PageControl1->count(); ++page)
        if (PageControl1->widget(page)->isAncestorOf(target)) PageControl1->setCurrentIndex(page);
    activateWindow();
    target->setFocus(Qt::OtherFocusReason);
}

void TForm1::DOWNLOADClick() {
    if (!hooks_.download || !confirmDiscard(lang::Message::UnsavedDownload)) return;
    hooks_.download();
}
void TForm1::PORTClick() {
    if (hooks_.port) hooks_.port();
}
void TForm1::ABORTClick() {
    if (hooks_.abort) hooks_.abort();
}
void TForm1::COMPAREClick() {
    if (hooks_.compare) hooks_.compare();
}
void TForm1::READBACKClick() {
    if (hooks_.readBack) hooks_.readBack();
}
void TForm1::BACKUPSClick() {
    if (hooks_.backups) hooks_.backups();
}
void TForm1::ABOUTClick() {
    if (!about_) about_ = new TAboutBox(this);
    about_->exec();
}
void TForm1::Pomoc1Click() {
    if (hooks_.help) hooks_.help();
}
void TForm1::EXITClick() {
    if (!confirmDiscard(lang::Message::UnsavedExit)) return;
    // Gone from the screen at once, whatever the program still finishes
    // (a running transfer ends with the program: the wiring cuts it off).
    hide();
    QCoreApplication::quit();
}
void TForm1::Polski2Click() { ApplyLanguage(lang::kPolish); }
void TForm1::English2Click() { ApplyLanguage(lang::kEnglish); }
void TForm1::Pyccknn1Click() { ApplyLanguage(lang::kThird); }

void TForm1::closeEvent(QCloseEvent* event) {
    // Closing the main window ends the program, once edits that would be
    // lost have been asked about.
    if (!confirmDiscard(lang::Message::UnsavedExit)) {
        event->ignore();
        return;
    }
    event->accept();
    QCoreApplication::quit();
}

}  // namespace kelvane::shell
