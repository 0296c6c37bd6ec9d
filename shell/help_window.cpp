#include "shell/help_window.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QSplitter>
#include <QTextBrowser>
#include <QToolButton>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QVBoxLayout>

#include "resources/kelvane_icon.h"

namespace kelvane::shell {

namespace {

const QString kProgramName = QStringLiteral("KelvaneMini");
const QString kManualFolder = QStringLiteral("qrc:/manual/");
constexpr int kFileRole = Qt::UserRole;

}  // namespace

const std::vector<ManualSection>& manualSections() {
    static const std::vector<ManualSection> sections = {
        {QStringLiteral("1"), QStringLiteral("Wprowadzenie"), QStringLiteral("wstep.html")},
        {QStringLiteral("2"), QStringLiteral("Zakładki"), QStringLiteral("zakladki.html")},
        {QStringLiteral("2.1"), QStringLiteral("Menu"), QStringLiteral("menu.html")},
        {QStringLiteral("2.2"), QStringLiteral("Lang"), QStringLiteral("lang.html")},
        {QStringLiteral("3"), QStringLiteral("Pola edycyjne"), QStringLiteral("pola.html")},
        {QStringLiteral("3.1"), QStringLiteral("Kody, hasła i klucze"), QStringLiteral("kody.html")},
        {QStringLiteral("3.2"), QStringLiteral("Parametry unifonów"), QStringLiteral("unifony.html")},
        {QStringLiteral("3.3"), QStringLiteral("Funkcje"), QStringLiteral("funkcje.html")},
        {QStringLiteral("3.4"), QStringLiteral("Konfiguracja"), QStringLiteral("konfiguracja.html")},
        {QStringLiteral("3.5"), QStringLiteral("Parametry paneli"), QStringLiteral("panele.html")},
        {QStringLiteral("3.6"), QStringLiteral("Opis"), QStringLiteral("opis.html")},
        {QStringLiteral("4"), QStringLiteral("Przykład"), QStringLiteral("przyklad.html")},
        {QStringLiteral("5"), QStringLiteral("Bezpieczne zmiany w budynku"), QStringLiteral("bezpieczenstwo.html")},
        {QStringLiteral("5.1"), QStringLiteral("Przeprowadzki i zgubione klucze"), QStringLiteral("przeprowadzki.html")},
        {QStringLiteral("6"), QStringLiteral("Gdy coś nie działa"), QStringLiteral("problemy.html")},
        {QStringLiteral("7"), QStringLiteral("Rejestr budynków"), QStringLiteral("rejestr.html")},
        {QStringLiteral("7.1"), QStringLiteral("Rejestr firmy"), QStringLiteral("rejestr_firmy.html")},
        {QStringLiteral("7.2"), QStringLiteral("Klucz danych"), QStringLiteral("klucz.html")},
        {QStringLiteral("8"), QStringLiteral("Aktualizacja oprogramowania (Orva_Upgrade)"), QStringLiteral("orva.html")},
        {QStringLiteral("9"), QStringLiteral("Serwis zdalny"), QStringLiteral("zdalny.html")},
    };
    return sections;
}

QUrl manualPageUrl(const QString& file) { return QUrl(kManualFolder + file); }

QUrl manualIndexUrl() { return manualPageUrl(QStringLiteral("index.html")); }

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(kProgramName + QStringLiteral(" – Pomoc"));
    setWindowIcon(resources::kelvaneMiniIcon());
    setAttribute(Qt::WA_QuitOnClose, false);  // closing the help never ends the program
    resize(1120, 760);
    if (const QScreen* screen = QGuiApplication::primaryScreen())  // a laptop's 1366 x 768 holds it whole
        resize(size().boundedTo(screen->availableGeometry().size() - QSize(16, 48)));

    back_ = new QToolButton(this);
    back_->setObjectName(QStringLiteral("HelpBack"));
    back_->setText(QStringLiteral("◀ Wstecz"));
    back_->setEnabled(false);
    forward_ = new QToolButton(this);
    forward_->setObjectName(QStringLiteral("HelpForward"));
    forward_->setText(QStringLiteral("Dalej ▶"));
    forward_->setEnabled(false);
    home_ = new QToolButton(this);
    home_->setObjectName(QStringLiteral("HelpHome"));
    home_->setText(QStringLiteral("Spis treści"));

    contents_ = new QTreeWidget(this);
    contents_->setObjectName(QStringLiteral("HelpContents"));
    contents_->setHeaderHidden(true);
    contents_->setColumnCount(1);
    contents_->header()->setStretchLastSection(true);
    QTreeWidgetItem* chapter = nullptr;
    for (const ManualSection& s : manualSections()) {
        const QString text = s.number + QLatin1Char(' ') + s.title;
        QTreeWidgetItem* item = nullptr;
        if (!s.number.contains(QLatin1Char('.')) || !chapter) {
            item = new QTreeWidgetItem(contents_, QStringList(text));
            chapter = item;
        } else {
            item = new QTreeWidgetItem(chapter, QStringList(text));
        }
        item->setData(0, kFileRole, s.file);
    }
    contents_->expandAll();

    browser_ = new QTextBrowser(this);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenLinks(true);
    browser_->setOpenExternalLinks(true);  // mailto: and web links go to the system

    auto* splitter = new QSplitter(this);
    splitter->addWidget(contents_);
    splitter->addWidget(browser_);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    // The contents as wide as their longest entry ("8 Aktualizacja
    // oprogramowania (Orva_Upgrade)"), scroll bar included.
    const int contentsWidth = static_cast<QAbstractItemView*>(contents_)->sizeHintForColumn(0) +
                              2 * contents_->frameWidth() +
                              contents_->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
    splitter->setSizes({contentsWidth, width() - contentsWidth});

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back_);
    buttons->addWidget(forward_);
    buttons->addWidget(home_);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(buttons);
    layout->addWidget(splitter, 1);

    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(home_, &QToolButton::clicked, this, [this] { showPage(QStringLiteral("index.html")); });
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this, &HelpWindow::sourceChanged);
    connect(contents_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { contentsClicked(item); });
    connect(contents_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { contentsClicked(item); });

    browser_->setSource(manualIndexUrl());
}

void HelpWindow::showPage(const QString& file) { browser_->setSource(manualPageUrl(file)); }

void HelpWindow::contentsClicked(QTreeWidgetItem* item) {
    if (item) showPage(item->data(0, kFileRole).toString());
}

// Keeps the title and the contents list in step with the page shown,
// whichever way it was reached (link, contents, back, forward).
void HelpWindow::sourceChanged(const QUrl& url) {
    const QString title = browser_->documentTitle();
    setWindowTitle(title.isEmpty() ? kProgramName + QStringLiteral(" – Pomoc") : title);

    const QString file = url.fileName();
    QTreeWidgetItem* match = nullptr;
    for (QTreeWidgetItemIterator it(contents_); *it; ++it) {
        if ((*it)->data(0, kFileRole).toString() == file) {
            match = *it;
            break;
        }
    }
    QSignalBlocker block(contents_);
    contents_->setCurrentItem(match);
    if (!match) contents_->clearSelection();
}

HelpWindow* showHelp(QWidget* parent, const QString& page) {
    static QPointer<HelpWindow> window;
    if (!window) {
        window = new HelpWindow(parent);
        // Without an owner the window lives until the program ends.
        if (!parent && QCoreApplication::instance())
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, window.data(),
                             &QObject::deleteLater);
    }
    if (!page.isEmpty()) window->showPage(page);
    if (window->isMinimized()) window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
    return window.data();
}

}  // namespace kelvane::shell
