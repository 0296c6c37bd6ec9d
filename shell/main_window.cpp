#include "shell/main_window.h"

#include "files/description_text.h"
#include "shell/about_box.h"
#include "shell/check_dialog.h"
#include "shell/code_grid.h"
#include "shell/settings_controls.h"
#include "shell/window_font.h"

#include <QAction>
#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>
#include <QTranslator>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvane::shell {

const char* const kApplicationTitle = "Kelvane Studio Mini";

namespace {
constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr int kFirstPanelWidth = 600;
constexpr int kSecondPanelWidth = 50;
const char kTitle[] = "KelvaneMINI";
constexpr int kModifiedCheckMs = 150;  // edits come in bursts: one check after them

// Qt's own translations (file and print dialogs, standard buttons) by the
// window's language; none for English, which Qt speaks itself.
const char* qtTranslationName(int language) { return language == texts::kPolish ? "qtbase_pl" : nullptr; }
}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kTitle) + QStringLiteral("[*]"));
    // Small caption with a close button only; the size never changes.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kWidth, kHeight);
    setFont(windowFont());
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());

    // Qt's own texts in the window's first language before any Qt dialog or
    // standard button exists: those made earlier keep English for good.
    applyQtTranslation(texts::kPolish);
    ownPrompts_ = std::make_unique<WidgetPrompts>();
    prompts_ = ownPrompts_.get();

    buildMenu();
    buildPages();
    buildStatusBar();

    // Captions and filter follow the language (ApplyLanguage).
    openDialog_ = new QFileDialog(this);
    openDialog_->setObjectName(QStringLiteral("OpenDialog1"));
    openDialog_->setAcceptMode(QFileDialog::AcceptOpen);
    openDialog_->setFileMode(QFileDialog::AnyFile);  // a missing file fails on opening
    openDialog_->setDefaultSuffix(QStringLiteral("kvd"));
    saveDialog_ = new QFileDialog(this);
    saveDialog_->setObjectName(QStringLiteral("SaveDialog1"));
    saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
    saveDialog_->setFileMode(QFileDialog::AnyFile);
    saveDialog_->setOption(QFileDialog::DontConfirmOverwrite);
    saveDialog_->setDefaultSuffix(QStringLiteral("kvd"));

    indexNamedObjects();
    fillFromInitialImage();
    watchEdits();
}

MainWindow::~MainWindow() { delete wiring_.data(); }

void MainWindow::fillFromInitialImage() {
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::ToolTipBase, QColor(0, 255, 0));
    tips.setColor(QPalette::ToolTipText, Qt::black);
    QToolTip::setPalette(tips);
    document_.working = initialImage();
    progressBar_->hide();
    DisplayData();
    ApplyLanguage(0);
    document_.edits.imageKept(document_.working);
    document_.edits.descriptionKept(description().toStdString());
    updateModified();
}

void MainWindow::buildMenu() {
    struct Entry {
        const char* name;
        const char* design;
        QKeySequence key;
        void (MainWindow::*handler)();
        bool checkable = false;
    };
    const Entry menu[] = {
        {"LOAD", "Wczytaj plik", QKeySequence(Qt::CTRL | Qt::Key_O), &MainWindow::onLoadFile},
        {"SAVE", "Zapisz plik", QKeySequence(Qt::CTRL | Qt::Key_S), &MainWindow::onSaveFile},
        {"PRINT", "Drukuj", QKeySequence(Qt::CTRL | Qt::Key_P), &MainWindow::onPrint},
        {"PREVIEW", "Podgląd wydruku", QKeySequence(), &MainWindow::onPrintPreview},
        {"SAVE_PDF", "Zapisz karty jako PDF…", QKeySequence(), &MainWindow::onSaveCardsPdf},
        {"UPLOAD", "Wyslij dane", QKeySequence(Qt::Key_F6), &MainWindow::onUpload},
        {"VERIFY", "Weryfikacja", QKeySequence(Qt::Key_F5), &MainWindow::onVerify},
        {"CHECK", "Sprawdź konfigurację", QKeySequence(), &MainWindow::onCheck},
        {"DOWNLOAD", "Pobierz dane", QKeySequence(Qt::Key_F4), &MainWindow::onDownload},
        {"COMPARE", "Porównaj z zasilaczem", QKeySequence(Qt::Key_F7), &MainWindow::onCompare},
        {"READBACK", "Sprawdź zasilacz", QKeySequence(Qt::Key_F8), &MainWindow::onReadBack},
        {"BACKUPS", "Kopie zapasowe…", QKeySequence(), &MainWindow::onBackups},
        {"REGISTER", "Rejestr budynków…", QKeySequence(), &MainWindow::onRegister},
        {"KEY", "Klucz danych…", QKeySequence(), &MainWindow::onDataKey},
        {"TECHNICIAN", "Serwisant…", QKeySequence(), &MainWindow::onTechnician},
        {"COMPANYSERVER", "Serwer rejestru firmy…", QKeySequence(), &MainWindow::onCompanyServer},
        {"ASKUPLOAD", "Pytaj przed wysłaniem", QKeySequence(), nullptr, true},
        {"PORT", "Port", QKeySequence(Qt::Key_F3), &MainWindow::onChoosePort},
        {"ABORT", "Przerwij", QKeySequence(Qt::Key_Escape), &MainWindow::onAbort},
        {"ABOUT", "O programie", QKeySequence(), &MainWindow::onAbout},
        {"Pomoc1", "Pomoc", QKeySequence(), &MainWindow::onHelp},
        {"EXIT", "Wyjscie", QKeySequence(), &MainWindow::onExit},
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
    for (int language = 0; language < texts::kLanguageCount; ++language) {
        auto* a = new QAction(QString::fromUtf8(texts::kLanguages[language].name), this);
        a->setObjectName(QString::fromLatin1(texts::kLanguages[language].action));
        connect(a, &QAction::triggered, this, [this, language] { ApplyLanguage(language); });
        polski1->addAction(a);
        addAction(a);
    }
    setTransferRunning(false);
}

void MainWindow::buildStatusBar() {
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QStringLiteral("StatusBar1"));
    statusBar_->setSizeGripEnabled(false);
    statusBar_->setFixedHeight(22);
    setStatusBar(statusBar_);
    statusPanel_ = new QLabel(statusBar_);
    statusPanel_->setObjectName(QStringLiteral("StatusBar1_Panel0"));
    statusPanel_->setFixedWidth(kFirstPanelWidth);
    statusBar_->addWidget(statusPanel_);
    auto* second = new QLabel(statusBar_);
    second->setObjectName(QStringLiteral("StatusBar1_Panel1"));
    second->setFixedWidth(kSecondPanelWidth);
    statusBar_->addWidget(second);
    companyPanel_ = new QLabel(statusBar_);
    companyPanel_->setObjectName(QStringLiteral("CompanyRegisterPanel"));
    companyPanel_->hide();
    statusBar_->addPermanentWidget(companyPanel_);
    // The notice takes a line of its own above the status bar, wrapped to the
    // window's width: beside the panels it had 150 px and was cut off.
    notice_ = new QLabel(centralWidget());
    notice_->setObjectName(QStringLiteral("NoticeLabel"));
    notice_->setTextFormat(Qt::RichText);
    notice_->setWordWrap(true);
    notice_->setContentsMargins(6, 3, 6, 3);
    notice_->setStyleSheet(QStringLiteral("QLabel#NoticeLabel { background: #fff4c2; border-top: 1px solid #d8c77a; }"));
    notice_->hide();
    connect(notice_, &QLabel::linkActivated, this, [this] {
        if (openNotice_) openNotice_();
    });
    if (auto* central = qobject_cast<QVBoxLayout*>(centralWidget()->layout())) central->addWidget(notice_);

    progressBar_ = new QProgressBar(statusBar_);
    progressBar_->setObjectName(QStringLiteral("ProgressBar"));
    progressBar_->setTextVisible(true);  // blocks done and the time left
    progressBar_->setAlignment(Qt::AlignCenter);
    progressBar_->setGeometry(2, 4, kFirstPanelWidth - 4, 13);
    progressBar_->hide();
}

void MainWindow::setNotice(const QString& text, std::function<void()> open) {
    noticeMaker_ = nullptr;
    openNotice_ = std::move(open);
    notice_->setText(text);
    notice_->setVisible(!text.isEmpty());
}

void MainWindow::setNotice(std::function<QString(int)> make, std::function<void()> open) {
    const QString text = make(CurrentLanguage());
    setNotice(text, std::move(open));
    noticeMaker_ = std::move(make);
}

QString MainWindow::noticeText() const { return notice_->text(); }

void MainWindow::setCompanyStatus(std::function<QString(int)> make) {
    companyMaker_ = std::move(make);
    refreshCompanyStatus();
}

void MainWindow::refreshCompanyStatus() {
    const QString text = companyMaker_ ? companyMaker_(CurrentLanguage()) : QString();
    companyPanel_->setText(text);
    companyPanel_->setToolTip(text);  // whole, where the fixed window cuts a long reason short
    companyPanel_->setVisible(!text.isEmpty());
    // The fixed window leaves 150 px beside the first panel: the first panel
    // (and the progress bar in it) gives the company register's text the
    // room it needs, keeping enough for the probe's and the transfers' texts.
    constexpr int kLeastFirstPanelWidth = 380;
    constexpr int kStatusMargins = 24;
    const int need = text.isEmpty() ? 0 : companyPanel_->fontMetrics().horizontalAdvance(text) + kStatusMargins;
    const int first = std::clamp(kWidth - kSecondPanelWidth - need, kLeastFirstPanelWidth, kFirstPanelWidth);
    statusPanel_->setFixedWidth(first);
    progressBar_->setGeometry(2, 4, first - 4, 13);
}

QString MainWindow::companyStatusText() const { return companyPanel_->isHidden() ? QString() : companyPanel_->text(); }

void MainWindow::indexNamedObjects() {
    named_.clear();
    for (QObject* o : findChildren<QObject*>()) {
        const QString name = o->objectName();
        if (!name.isEmpty() && !named_.contains(name)) named_.insert(name, o);
    }
}

void MainWindow::setPrompts(Prompts* prompts) { prompts_ = prompts ? prompts : ownPrompts_.get(); }
Prompts& MainWindow::prompts() const { return *prompts_; }

void MainWindow::showMessage(const QString& text, const QString& detail) {
    prompts().message(this, QString::fromLatin1(kApplicationTitle), text, detail);
}
void MainWindow::setAboutBox(QDialog* about) { about_ = about; }

QAction* MainWindow::action(const char* name) const {
    return qobject_cast<QAction*>(named_.value(QString::fromLatin1(name)));
}

void MainWindow::setStatusText(const QString& text) {
    statusMaker_ = nullptr;
    statusPanel_->setText(text);
    statusPanel_->setToolTip(text);  // the whole text where the panel cuts it
}

void MainWindow::setStatus(std::function<QString(int)> make) {
    statusMaker_ = std::move(make);
    statusPanel_->setText(statusMaker_(CurrentLanguage()));
    statusPanel_->setToolTip(statusPanel_->text());
}

QString MainWindow::formatMessage(texts::Message message, const QStringList& fields) const {
    const QString format = messageText(message);
    static const QRegularExpression field(QStringLiteral("%[sd]"));
    QString text;
    int from = 0;
    int next = 0;
    for (auto it = field.globalMatch(format); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        text += format.mid(from, m.capturedStart() - from);
        text += next < fields.size() ? fields[next++] : QString();
        from = m.capturedEnd();
    }
    return text + format.mid(from);
}

void MainWindow::setShownSource(std::function<QString(int)> name) {
    openFile_.clear();
    sourceName_ = std::move(name);
    setWindowTitle(QString::fromLatin1(kTitle) + QStringLiteral(" — ") + sourceName_(CurrentLanguage()) +
                   QStringLiteral("[*]"));
}

void MainWindow::setOpenFile(const QString& path) {
    sourceName_ = nullptr;
    openFile_ = path;
    const QString name = QFileInfo(path).fileName();
    setWindowTitle(QString::fromLatin1(kTitle) + (name.isEmpty() ? QString() : QStringLiteral(" — ") + name) +
                   QStringLiteral("[*]"));
}

void MainWindow::watchEdits() {
    modifiedCheck_ = new QTimer(this);
    modifiedCheck_->setSingleShot(true);
    modifiedCheck_->setInterval(kModifiedCheckMs);
    connect(modifiedCheck_, &QTimer::timeout, this, &MainWindow::updateModified);
    auto* timer = modifiedCheck_;
    const auto check = [timer] { timer->start(); };
    for (QTableWidget* t : findChildren<QTableWidget*>()) connect(t, &QTableWidget::itemChanged, timer, check);
    for (CodeGrid* g : grids_) connect(g, &CodeGrid::rowsChanged, timer, check);
    for (QSpinBox* b : findChildren<QSpinBox*>()) connect(b, &QSpinBox::valueChanged, timer, check);
    for (QComboBox* b : findChildren<QComboBox*>()) {
        connect(b, &QComboBox::currentIndexChanged, timer, check);
        connect(b, &QComboBox::editTextChanged, timer, check);
    }
    for (QAbstractButton* b : findChildren<QAbstractButton*>()) connect(b, &QAbstractButton::toggled, timer, check);
    for (QSlider* b : findChildren<QSlider*>()) connect(b, &QSlider::valueChanged, timer, check);
    connect(descriptionEdit_, &QPlainTextEdit::textChanged, timer, check);
}

void MainWindow::applyQtTranslation(int language) {
    if (language == qtTextsLanguage_) return;
    qtTextsLanguage_ = language;
    if (qtTexts_) {
        QCoreApplication::removeTranslator(qtTexts_);
        delete qtTexts_;
        qtTexts_ = nullptr;
    }
    const char* name = qtTranslationName(language);
    if (!name) return;
    auto* translator = new QTranslator(this);
    // Without Qt's translation files Qt's dialogs stay in English. Qt's own
    // folder first, then the one a Windows deployment puts beside the program.
    for (const QString& folder : {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                  QCoreApplication::applicationDirPath() + QStringLiteral("/translations")}) {
        if (translator->load(QString::fromLatin1(name), folder) && QCoreApplication::installTranslator(translator)) {
            qtTexts_ = translator;
            return;
        }
    }
    delete translator;
}
QString MainWindow::statusText() const { return statusPanel_->text(); }

void MainWindow::setTransferRunning(bool running) {
    findChild<QAction*>(QStringLiteral("LOAD"))->setEnabled(!running);
    findChild<QAction*>(QStringLiteral("VERIFY"))->setEnabled(!running);
    findChild<QAction*>(QStringLiteral("CHECK"))->setEnabled(!running);
    // Compare rewrites the working image, a backup replaces it, as LOAD and VERIFY do.
    findChild<QAction*>(QStringLiteral("COMPARE"))->setEnabled(!running);
    findChild<QAction*>(QStringLiteral("BACKUPS"))->setEnabled(!running);
    findChild<QAction*>(QStringLiteral("REGISTER"))->setEnabled(!running);
    findChild<QAction*>(QStringLiteral("KEY"))->setEnabled(!running);
    findChild<QAction*>(QStringLiteral("ABORT"))->setEnabled(running);
}

QString MainWindow::cardText() const { return cardTextEdit_->text(); }

QString MainWindow::description() const {
    // The raw text: the plain one would turn no-break spaces into spaces.
    QString text = descriptionEdit_->document()->toRawText();
    for (const QChar lineBreak : {QChar(QChar::ParagraphSeparator), QChar(QChar::LineSeparator)})
        text.replace(lineBreak, QLatin1Char('\n'));
    return QString::fromStdString(descriptionFromBox(text.toStdString()));
}

void MainWindow::setDescription(const QString& crlfText) {
    descriptionEdit_->setPlainText(QString::fromStdString(descriptionForBox(crlfText.toStdString())));
}

int MainWindow::CurrentLanguage() const { return document_.language; }

QString MainWindow::messageText(texts::Message message) const {
    return QString::fromUtf8(texts::messageText(message, document_.language));
}

// Menu commands.

// Cards show the codes the window shows.
void MainWindow::onPrint() {
    if (hooks_.print && storeTypedEdits()) hooks_.print();
}
void MainWindow::onUpload() {
    // The upload hook checks the window itself (GetData) before it sends;
    // without one, the check alone runs.
    if (hooks_.upload)
        hooks_.upload();
    else
        GetData();
}
void MainWindow::onVerify() {
    if (GetData() != 1) return;
    keepSource_ = true;
    DisplayData();
    keepSource_ = false;
}
void MainWindow::onCheck() {
    // Checks what the window holds, stored as Verification stores it; the
    // grids then show the image's rows, which the warnings count.
    const int language = document_.language;
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

CheckDialog* MainWindow::checkDialog() const { return checkDialog_; }

std::vector<Warning> MainWindow::configurationWarnings() const {
    return checkStoredConfiguration(document_.base, document_.working);
}

void MainWindow::showWarningPlace(const Warning& w) {
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
    for (int page = 0; page < pages_->count(); ++page)
        if (pages_->widget(page)->isAncestorOf(target)) pages_->setCurrentIndex(page);
    activateWindow();
    target->setFocus(Qt::OtherFocusReason);
}

void MainWindow::onDownload() {
    if (!hooks_.download || !confirmDiscard(texts::Message::UnsavedDownload)) return;
    hooks_.download();
}
void MainWindow::onChoosePort() {
    // A notice about the last controller's visit does not outlive the choice
    // of the next port.
    setNotice(QString());
    if (hooks_.port) hooks_.port();
}
void MainWindow::onAbort() {
    if (hooks_.abort) hooks_.abort();
}
void MainWindow::onCompare() {
    if (hooks_.compare) hooks_.compare();
}
void MainWindow::onReadBack() {
    if (hooks_.readBack) hooks_.readBack();
}
void MainWindow::onBackups() {
    if (hooks_.backups) hooks_.backups();
}
void MainWindow::onRegister() {
    if (hooks_.buildings) hooks_.buildings();
}
void MainWindow::onDataKey() {
    if (hooks_.dataKey) hooks_.dataKey();
}
void MainWindow::onTechnician() {
    if (hooks_.technician) hooks_.technician();
}
void MainWindow::onCompanyServer() {
    if (hooks_.companyServer) hooks_.companyServer();
}
void MainWindow::onAbout() {
    if (!about_) about_ = new AboutBox(this);
    about_->exec();
}
void MainWindow::onHelp() {
    if (hooks_.help) hooks_.help();
}
void MainWindow::onExit() {
    if (!confirmDiscard(texts::Message::UnsavedExit)) return;
    // Gone from the screen at once, whatever the program still finishes
    // (a running transfer ends with the program: the wiring cuts it off).
    hide();
    QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // Closing the main window ends the program, once edits that would be
    // lost have been asked about.
    if (!confirmDiscard(texts::Message::UnsavedExit)) {
        event->ignore();
        return;
    }
    event->accept();
    QCoreApplication::quit();
}

}  // namespace kelvane::shell
