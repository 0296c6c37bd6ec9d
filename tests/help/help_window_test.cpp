// The in-program help window: one window however often help is asked for,
// the contents list and the page's links lead to the manual's sections, and
// the window's title names the program.
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QtTest>

#include <memory>

#include "shell/help_window.h"

using kelvane::shell::HelpWindow;
using kelvane::shell::manualSections;
using kelvane::shell::showHelp;

namespace {

QTreeWidgetItem* ContentsItem(HelpWindow* w, const QString& number) {
    for (QTreeWidgetItemIterator it(w->contents()); *it; ++it)
        if ((*it)->text(0).startsWith(number + QLatin1Char(' '))) return *it;
    return nullptr;
}

// Clicks the link whose text is `text` on the page shown.
void ClickLink(QTextBrowser* browser, const QString& text) {
    const QTextCursor found = browser->document()->find(text);
    QVERIFY2(!found.isNull(), qPrintable(text));
    QTextCursor at(browser->document());
    at.setPosition((found.selectionStart() + found.selectionEnd()) / 2);
    browser->setTextCursor(at);
    browser->ensureCursorVisible();
    const QPoint point = browser->cursorRect(at).center();
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, point);
}

}  // namespace

class HelpWindowTest : public QObject {
    Q_OBJECT
private slots:
    void askingTwiceShowsTheOneWindowAgain() {
        auto owner = std::make_unique<QWidget>();
        HelpWindow* first = showHelp(owner.get());
        QVERIFY(first);
        QVERIFY(first->isVisible());
        QVERIFY(first->isWindow());
        QVERIFY(first->windowTitle().startsWith(QStringLiteral("KelvaneMini")));
        QCOMPARE(first->browser()->source().toString(), QStringLiteral("qrc:/manual/index.html"));

        first->showPage(QStringLiteral("kody.html"));
        HelpWindow* second = showHelp(owner.get());
        QCOMPARE(second, first);
        QCOMPARE(owner->findChildren<HelpWindow*>().size(), 1);
        // The window keeps the page the technician was reading.
        QCOMPARE(second->browser()->source().fileName(), QStringLiteral("kody.html"));

        first->close();
        QVERIFY(!first->isVisible());
        QCOMPARE(showHelp(owner.get()), first);
        QVERIFY(first->isVisible());

        first->showMinimized();
        QCOMPARE(showHelp(owner.get()), first);
        QVERIFY(!first->isMinimized());
    }

    void theWindowEndsWithItsOwner() {
        auto owner = std::make_unique<QWidget>();
        QPointer<HelpWindow> window = showHelp(owner.get());
        owner.reset();
        QVERIFY(window.isNull());

        auto next = std::make_unique<QWidget>();
        HelpWindow* again = showHelp(next.get());
        QVERIFY(again);
        QCOMPARE(again->parentWidget(), next.get());
        QVERIFY(again->isVisible());
    }

    void namedPageIsShown() {
        auto owner = std::make_unique<QWidget>();
        HelpWindow* w = showHelp(owner.get(), QStringLiteral("menu.html"));
        QCOMPARE(w->browser()->source().fileName(), QStringLiteral("menu.html"));
        QCOMPARE(w->windowTitle(), QStringLiteral("KelvaneMini – 2.1 Menu"));
        QCOMPARE(w->contents()->currentItem(), ContentsItem(w, QStringLiteral("2.1")));
    }

    void contentsListOpensEverySection() {
        auto owner = std::make_unique<QWidget>();
        HelpWindow* w = showHelp(owner.get());
        for (const auto& s : manualSections()) {
            QTreeWidgetItem* item = ContentsItem(w, s.number);
            QVERIFY2(item, qPrintable(s.number));
            w->contents()->scrollToItem(item);
            const QRect shown = w->contents()->visualItemRect(item);  // the whole entry, none of it cut off
            QVERIFY2(shown.left() + w->contents()->fontMetrics().horizontalAdvance(item->text(0)) <=
                         w->contents()->viewport()->width(),
                     qPrintable(item->text(0)));
            QTest::mouseClick(w->contents()->viewport(), Qt::LeftButton, Qt::NoModifier,
                              w->contents()->visualItemRect(item).center());
            QCOMPARE(w->browser()->source().fileName(), s.file);
            QCOMPARE(w->windowTitle(), QStringLiteral("KelvaneMini – %1 %2").arg(s.number, s.title));
            QVERIFY(!w->browser()->toPlainText().isEmpty());
        }
        // The sections of chapters 2 and 3 sit under their chapter.
        QCOMPARE(ContentsItem(w, QStringLiteral("3.4"))->parent(), ContentsItem(w, QStringLiteral("3")));
        QCOMPARE(w->contents()->topLevelItemCount(), 9);  // chapters 1 to 9
    }

    void linksAndHistoryKeepTitleAndContentsInStep() {
        auto owner = std::make_unique<QWidget>();
        HelpWindow* w = showHelp(owner.get(), QStringLiteral("index.html"));
        QVERIFY(QTest::qWaitForWindowExposed(w));
        auto* back = w->findChild<QToolButton*>(QStringLiteral("HelpBack"));
        auto* home = w->findChild<QToolButton*>(QStringLiteral("HelpHome"));
        QVERIFY(back && home);

        ClickLink(w->browser(), QStringLiteral("3.1 Kody, hasła i klucze"));
        QCOMPARE(w->browser()->source().fileName(), QStringLiteral("kody.html"));
        QCOMPARE(w->contents()->currentItem(), ContentsItem(w, QStringLiteral("3.1")));
        QVERIFY(back->isEnabled());

        // A link inside a section: the page of the tab "Funkcje".
        ClickLink(w->browser(), QStringLiteral("„Funkcje”"));
        QCOMPARE(w->browser()->source().fileName(), QStringLiteral("funkcje.html"));
        QCOMPARE(w->windowTitle(), QStringLiteral("KelvaneMini – 3.3 Funkcje"));

        back->click();
        QCOMPARE(w->browser()->source().fileName(), QStringLiteral("kody.html"));
        QCOMPARE(w->contents()->currentItem(), ContentsItem(w, QStringLiteral("3.1")));

        home->click();
        QCOMPARE(w->browser()->source().fileName(), QStringLiteral("index.html"));
        QCOMPARE(w->windowTitle(), QStringLiteral("KelvaneMini – Pomoc"));
        QCOMPARE(w->contents()->currentItem(), nullptr);
    }
};

QTEST_MAIN(HelpWindowTest)
#include "help_window_test.moc"
