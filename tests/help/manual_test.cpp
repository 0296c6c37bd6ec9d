// The manual as the program carries it: every page loads from the resources,
// is titled with the program's name, every link and picture it names exists,
// and the pages describe the window's parameters with their ranges.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSet>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QtTest>

#include "shell/help_window.h"
#include "image/parameters.h"
#include "link/port.h"
#include "shell/settings_controls.h"
#include "shell/settings_groups.h"
#include "link/transfer.h"

using kelvane::shell::manualPageUrl;
using kelvane::shell::manualSections;

namespace {

QString ReadPage(const QString& file) {
    QFile f(QStringLiteral(":/manual/") + file);
    if (!f.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(f.readAll());
}

QStringList ManualFiles() {
    return QDir(QStringLiteral(":/manual")).entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name);
}

QStringList AttributeValues(const QString& html, const QString& attribute) {
    QStringList values;
    const QRegularExpression re(QStringLiteral("\\b%1\\s*=\\s*\"([^\"]*)\"").arg(attribute),
                                QRegularExpression::CaseInsensitiveOption);
    for (auto it = re.globalMatch(html); it.hasNext();) values << it.next().captured(1);
    return values;
}

QString Title(const QString& html) {
    QTextDocument doc;
    doc.setHtml(html);
    return doc.metaInformation(QTextDocument::DocumentTitle);
}

// A page's reference resolved against the page, as a resource path (":/..."),
// or an empty text for a link that leaves the program (web, mail).
QString ResourcePath(const QString& page, const QString& reference, QString* fragment = nullptr) {
    const QUrl target = manualPageUrl(page).resolved(QUrl(reference));
    if (fragment) *fragment = target.fragment();
    if (target.scheme() != QLatin1String("qrc")) return QString();
    return QLatin1Char(':') + target.path();
}

// Table rows of a page that hold a cell with exactly this text.
QStringList RowsWithCell(const QString& html, const QString& cell) {
    QStringList rows;
    for (const QString& row : html.split(QStringLiteral("<tr>")))
        if (row.contains(QStringLiteral("<td>") + cell + QStringLiteral("</td>"))) rows << row;
    return rows;
}

}  // namespace

class ManualTest : public QObject {
    Q_OBJECT
private slots:
    void everySectionLoadsWithItsNumberedTitle_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("title");
        QTest::newRow("index") << QStringLiteral("index.html") << QStringLiteral("KelvaneMini – Pomoc");
        for (const auto& s : manualSections())
            QTest::newRow(qPrintable(s.number)) << s.file << QStringLiteral("KelvaneMini – %1 %2").arg(s.number, s.title);
    }
    void everySectionLoadsWithItsNumberedTitle() {
        QFETCH(QString, file);
        QFETCH(QString, title);
        const QString html = ReadPage(file);
        QVERIFY2(!html.isEmpty(), qPrintable(file + " is not in the resources"));
        QCOMPARE(Title(html), title);
        QTextDocument doc;
        doc.setHtml(html);
        QVERIFY2(doc.toPlainText().size() > 300, qPrintable(file + " is nearly empty"));
    }

    void contentsAndPagesAgree() {
        // The help window's contents, the index page and the resource folder
        // list the same pages: no section without a page, no page left out.
        QStringList expected{QStringLiteral("index.html")};
        for (const auto& s : manualSections()) expected << s.file;
        QStringList carried = ManualFiles();
        expected.sort();
        QCOMPARE(carried, expected);

        const QStringList fromIndex = AttributeValues(ReadPage(QStringLiteral("index.html")), QStringLiteral("href"));
        for (const auto& s : manualSections())
            QVERIFY2(fromIndex.contains(s.file), qPrintable("index.html does not link " + s.file));

        // Every section's top and bottom links go to the sections before and after it.
        const auto& sections = manualSections();
        const QRegularExpression navLine(QStringLiteral("<p class=\"nav\">.*</p>"));
        for (std::size_t i = 0; i < sections.size(); ++i) {
            QStringList navs;
            for (auto it = navLine.globalMatch(ReadPage(sections[i].file)); it.hasNext();)
                navs << it.next().captured(0);
            QVERIFY2(navs.size() == 2 && navs[0] == navs[1], qPrintable(sections[i].file));
            for (std::size_t j : {i - 1, i + 1})
                if (j < sections.size())
                    QVERIFY2(navs[0].contains(QStringLiteral("href=\"%1\"").arg(sections[j].file)),
                             qPrintable(sections[i].file + " -> " + sections[j].file));
        }

        QSet<QString> numbers;
        for (const auto& s : manualSections()) numbers.insert(s.number);
        for (const char* n : {"1", "2", "2.1", "2.2", "3", "3.1", "3.2", "3.3", "3.4", "3.5", "3.6", "4"})
            QVERIFY2(numbers.contains(QLatin1String(n)), n);
    }

    void everyInternalLinkResolves() {
        for (const QString& page : ManualFiles()) {
            const QString html = ReadPage(page);
            for (const QString& href : AttributeValues(html, QStringLiteral("href"))) {
                QString fragment;
                const QString path = ResourcePath(page, href, &fragment);
                const QString where = page + " -> " + href;
                if (path.isEmpty()) {
                    const QString scheme = QUrl(href).scheme();
                    QVERIFY2(scheme == "http" || scheme == "https" || scheme == "mailto", qPrintable(where));
                    continue;
                }
                QVERIFY2(QFile::exists(path), qPrintable(where + " leads nowhere"));
                if (!fragment.isEmpty()) {
                    QFile f(path);
                    QVERIFY(f.open(QIODevice::ReadOnly));
                    const QString target = QString::fromUtf8(f.readAll());
                    QVERIFY2(target.contains("name=\"" + fragment + "\"") || target.contains("id=\"" + fragment + "\""),
                             qPrintable(where + " names a missing anchor"));
                }
            }
        }
    }

    void pagesTakeTheirLookFromTheSharedStyleSheet() {
        // Headings are coloured only by manual.css: a page that loses it
        // shows black headings.
        QTextBrowser browser;
        browser.setSource(manualPageUrl(QStringLiteral("lang.html")));
        const QTextDocument* doc = browser.document();
        bool sawHeading = false;
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
            if (b.blockFormat().headingLevel() != 1) continue;
            sawHeading = true;
            QCOMPARE(b.charFormat().foreground().color(), QColor(QStringLiteral("#1d3b66")));
        }
        QVERIFY(sawHeading);
    }

    void everyPictureAPageNamesIsCarried() {
        int pictures = 0;
        for (const QString& page : ManualFiles()) {
            for (const QString& src : AttributeValues(ReadPage(page), QStringLiteral("src"))) {
                const QString path = ResourcePath(page, src);
                QVERIFY2(!path.isEmpty(), qPrintable(page + " loads a picture from outside: " + src));
                QVERIFY2(QFile::exists(path), qPrintable(page + " names " + src + ", which is not in the resources"));
                QVERIFY2(!QImage(path).isNull(), qPrintable(src + " is not a readable picture"));
                ++pictures;
            }
        }
        QVERIFY(pictures >= 6);
    }

    void everyTabSectionShowsItsScreenshot() {
        const QStringList tabPages{"kody.html",         "unifony.html", "funkcje.html",
                                   "konfiguracja.html", "panele.html",  "opis.html"};
        for (int i = 0; i < tabPages.size(); ++i) {
            const QStringList sources = AttributeValues(ReadPage(tabPages[i]), QStringLiteral("src"));
            QVERIFY2(sources.contains(QStringLiteral("../screenshots/page%1.png").arg(i)),
                     qPrintable(tabPages[i] + " lacks the screenshot of page " + QString::number(i)));
        }
    }

    void menuSectionNamesEveryCommandAndShortcut() {
        const QString html = ReadPage(QStringLiteral("menu.html"));
        const QList<QPair<QString, QString>> entries{
            {"Wczytaj plik", "Ctrl+O"}, {"Zapisz plik", "Ctrl+S"}, {"Drukuj", "Ctrl+P"}, {"Wyślij plik", "F6"},
            {"Weryfikacja", "F5"},      {"Pobierz dane", "F4"},    {"Port", "F3"},       {"Przerwij", "Esc"}};
        for (const auto& [command, key] : entries) {
            const QStringList rows = RowsWithCell(html, command);
            QVERIFY2(!rows.isEmpty(), qPrintable(command));
            QVERIFY2(rows.first().contains("<td>" + key + "</td>"), qPrintable(command + " without " + key));
        }
        for (const char* entry : {"O programie", "Pomoc", "Wyjście"})
            QVERIFY2(!RowsWithCell(html, entry).isEmpty(), entry);

        const QString lang = ReadPage(QStringLiteral("lang.html"));
        QVERIFY(lang.contains(QStringLiteral("nie jest zapamiętywany")));
        QVERIFY(lang.contains(QStringLiteral("Każde uruchomienie programu zaczyna się po polsku")));
    }

    void workedExampleFollowsTheServiceOrder() {
        // Port, download, verify, save, upload, exit: in that order on the page.
        const QString html = ReadPage(QStringLiteral("przyklad.html"));
        int at = 0;
        for (const char* step : {"F3", "F4", "F5", "Ctrl+S", "F6", "Wyjście"}) {
            const int found = html.indexOf(QString::fromUtf8(step), at);
            QVERIFY2(found >= 0, qPrintable(QStringLiteral("%1 missing or out of order").arg(step)));
            at = found;
        }
    }

    void everyWindowParameterIsDescribedOnItsTab() {
        const QStringList tabPage{"", "unifony.html", "funkcje.html", "konfiguracja.html", "panele.html"};
        for (const auto& p : kelvane::parameterTable()) {
            const QString number = QString::fromLatin1(p.number);
            const int page = kelvane::shell::settingsPage(p.group);
            QVERIFY2(page >= 1 && page <= 4, p.number);
            const QString html = ReadPage(tabPage[page]);
            QVERIFY2(html.contains(number), qPrintable(number + " missing from " + tabPage[page]));

            if (p.kind != kelvane::ControlKind::UpDown && p.kind != kelvane::ControlKind::TrackBar) continue;
            // A spin edit's or slider's row gives its range and factory value.
            const QString range = QStringLiteral("%1–%2").arg(p.min).arg(p.max);
            const QRegularExpression def(QStringLiteral("<td>%1( s)?</td>").arg(p.def));
            bool described = false;
            for (const QString& row : RowsWithCell(html, number))
                described = described || (row.contains(range) && def.match(row).hasMatch());
            QVERIFY2(described, qPrintable(QStringLiteral("%1 (%2): no row with range %3 and default %4")
                                               .arg(number, QString::fromLatin1(p.control), range)
                                               .arg(p.def)));
        }
        const QString codes = ReadPage(QStringLiteral("kody.html"));
        for (const char* n : {"p501", "p502", "p503", "p504", "p505", "p506", "p507"})
            QVERIFY2(codes.contains(QLatin1String(n)), n);
        QVERIFY(ReadPage(QStringLiteral("konfiguracja.html")).contains(QLatin1String(kelvane::kFactoryPassword)));
    }

    void linkFactsAreTheProgramsOwn() {
        // The port used before any choice and the two give-up times of a transfer.
        QTextDocument page;
        page.setHtml(ReadPage(QStringLiteral("menu.html")));
        const QString menu = page.toPlainText().simplified();
        QVERIFY(menu.contains(QStringLiteral("program używa portu %1").arg(kelvane::link::kInitialPortName)));
        QVERIFY(menu.contains(
            QStringLiteral("Jeżeli przez %1 sekund nie nadejdzie żaden blok").arg(kelvane::link::kFrameTimeoutMs / 1000)));
        QVERIFY(menu.contains(
            QStringLiteral("Gdy zasilacz przez %1 sekund nie potwierdzi bloku").arg(kelvane::link::kAckTimeoutMs / 1000)));
    }

    void spinEditsBehaveAsTheManualSays() {
        // The window's spin edits take typed values only inside their range;
        // the manual must not send the technician to verification for that.
        QWidget parent;
        auto* spin = qobject_cast<QSpinBox*>(
            kelvane::shell::createSettingControl(*kelvane::findParameter("p001_UpDown"), &parent, nullptr));
        QVERIFY(spin);
        spin->setValue(3150);
        auto* edit = spin->findChild<QLineEdit*>();
        edit->selectAll();
        QTest::keyClicks(spin, QStringLiteral("12"));
        QFocusEvent leave(QEvent::FocusOut);
        QApplication::sendEvent(spin, &leave);
        QCOMPARE(spin->value(), 3150);
        edit->selectAll();
        QTest::keyClicks(spin, QStringLiteral("99999"));
        QCOMPARE(spin->value(), 9999);

        QTextDocument page;
        page.setHtml(ReadPage(QStringLiteral("pola.html")));
        const QString fields = page.toPlainText().simplified();
        QVERIFY(fields.contains(QStringLiteral("liczba mniejsza od dolnej granicy nie zostaje przyjęta")));
        QVERIFY(!fields.contains(QStringLiteral("sprawdzana przy weryfikacji")));
    }
};

QTEST_MAIN(ManualTest)
#include "manual_test.moc"
