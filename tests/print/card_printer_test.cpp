// Rendering the residents' cards to PDF and the print command's flow.
#include "print/card_printer.h"
#include "image/codecs.h"
#include "tests/print/card_texts.h"
#include "tests/print/pdf_words.h"

#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>

using namespace kelvane;

namespace {

void putCode(Image& image, ResidentCode kind, int line, int local, int value) {
    const auto bcd = EncodeBcdCode(value);
    const std::size_t off = residentOffset(kind, line, local);
    image[off] = bcd[0];
    image[off + 1] = bcd[1];
}

// Ten cards on LU1 (call codes 101..110, open code 7 on the sixth), then one
// on LU2 with call code 42 and no other code.
Image elevenResidents() {
    Image image = erasedImage();
    for (int local = 1; local <= 10; ++local) putCode(image, ResidentCode::Logical, 1, local, 100 + local);
    putCode(image, ResidentCode::Open, 1, 6, 7);
    putCode(image, ResidentCode::Main, 1, 6, 5);
    putCode(image, ResidentCode::Logical, 2, 3, 42);
    return image;
}

}  // namespace

class CardPrinterTest : public QObject {
    Q_OBJECT

    QString pdftotext_;

    // The word's top-left corner stands at the logical position.
    void expectWordAt(const QList<Word>& words, const QString& text, int x, int y) {
        const Word* best = nullptr;
        for (const Word& w : words)
            if (w.text == text && (!best || std::abs(w.xMin - points(x)) + std::abs(w.yMin - points(y)) <
                                                std::abs(best->xMin - points(x)) + std::abs(best->yMin - points(y))))
                best = &w;
        QVERIFY2(best, qPrintable(QStringLiteral("no word ") + text));
        QVERIFY2(std::abs(best->xMin - points(x)) <= 0.5,
                 qPrintable(QStringLiteral("%1: x %2 pt, expected %3").arg(text).arg(best->xMin).arg(points(x))));
        QVERIFY2(std::abs(best->yMin - points(y)) <= 0.5,
                 qPrintable(QStringLiteral("%1: y %2 pt, expected %3").arg(text).arg(best->yMin).arg(points(y))));
    }

private slots:
    void initTestCase() { pdftotext_ = QStandardPaths::findExecutable(QStringLiteral("pdftotext")); }

    void fontsAreFixedPitchWithPolishLettersAndFitTheirCell() {
        QVERIFY(!cardFontFamily().isEmpty());
        for (CardFont kind : {CardFont::Bold, CardFont::Normal, CardFont::BoldItalic}) {
            const QFont font = cardQFont(kind);
            const QFontInfo info(font);
            QVERIFY(info.fixedPitch());
            QCOMPARE(info.bold(), kind != CardFont::Normal);
            QCOMPARE(info.italic(), kind == CardFont::BoldItalic);
            const QFontMetricsF metrics(font);
            for (QChar c : QStringLiteral("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ")) QVERIFY(metrics.inFont(c));
            const qreal cell = metrics.ascent() + metrics.descent();
            QVERIFY2(cell <= kCardFontHeight + 1 && cell >= kCardFontHeight - 3, qPrintable(QString::number(cell)));
            // The longest label stays left of the value column.
            QVERIFY(10 + metrics.horizontalAdvance(QStringLiteral("Kod wywołania z wejścia głównego")) < kCardValueColumn);
        }
    }

    void pdfHasOnePagePerSheetAndTextsAtTheirPositions() {
        if (pdftotext_.isEmpty()) QSKIP("pdftotext is not installed");
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("cards.pdf"));
        const auto pages = layoutCardPages(elevenResidents(), polishCardTexts(),
                                           "Łąkowa 5, administracja osiedla Zielone Wzgórze: tel. 123-456-789");
        QCOMPARE(pages.size(), std::size_t(2));
        {
            QPrinter printer(QPrinter::HighResolution);
            setUpCardPdf(printer, pdf);
            printCardPages(printer, pages);
        }
        const auto words = readWords(pdftotext_, pdf);
        QCOMPARE(words.size(), 2);
        // First sheet: the first card top left, the sixth at the top of the right column.
        expectWordAt(words[0], QStringLiteral("Numer"), 210, 215);
        expectWordAt(words[0], QStringLiteral("101"), 850, 266);
        expectWordAt(words[0], QStringLiteral("brak"), 850, 317);
        expectWordAt(words[0], QStringLiteral("Kod"), 1060, 266);
        QVERIFY(containsWord(words[0], QStringLiteral("wywołania")));
        QVERIFY(containsWord(words[0], QStringLiteral("głównego")));
        expectWordAt(words[0], QStringLiteral("1060007"), 1700, 317);
        expectWordAt(words[0], QStringLiteral("50007"), 1700, 419);
        expectWordAt(words[0], QStringLiteral("110"), 1700, 2250 + 56);
        expectWordAt(words[0], QStringLiteral("Łąkowa"), 210, 2250 + 464);
        // Second sheet: the LU2 card at the top of the left column.
        expectWordAt(words[1], QStringLiteral("42"), 850, 266);
        expectWordAt(words[1], QStringLiteral("Aby"), 210, 470);
        expectWordAt(words[1], QStringLiteral("Łąkowa"), 210, 674);
        QCOMPARE(std::count_if(words[1].begin(), words[1].end(),
                               [](const Word& w) { return w.text == QStringLiteral("Łąkowa"); }),
                 1);
        // A card text wider than the card runs on past its right edge, whole.
        const auto last = std::find_if(words[1].begin(), words[1].end(),
                                       [](const Word& w) { return w.text == QStringLiteral("123-456-789"); });
        QVERIFY(last != words[1].end());
        QVERIFY2(last->xMin > points(200 + kCardWidth), qPrintable(QString::number(last->xMin)));
        QCOMPARE(std::abs(last->yMin - points(674)) <= 0.5, true);
        // ... and is drawn there, not clipped at the card's edge.
        const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
        if (pdftoppm.isEmpty()) return;
        const QString prefix = dir.filePath(QStringLiteral("sheet2"));
        QCOMPARE(QProcess::execute(pdftoppm, {"-f", "2", "-l", "2", "-singlefile", "-r", "100", "-png", pdf, prefix}), 0);
        const QImage sheet(prefix + QStringLiteral(".png"));
        QVERIFY(!sheet.isNull());
        const auto px = [](int logical) { return logical * 100 / 254; };  // 100 dpi, tenths of a millimetre
        int ink = 0;
        for (int y = px(674); y < px(674 + kCardFontHeight); ++y)
            for (int x = px(200 + kCardWidth + 20); x < px(200 + kCardWidth + 120); ++x)
                ink += qGray(sheet.pixel(x, y)) < 128 ? 1 : 0;
        QVERIFY2(ink > 20, qPrintable(QString::number(ink)));
    }

    void chosenPageRangePrintsOnlyThosePages() {
        if (pdftotext_.isEmpty()) QSKIP("pdftotext is not installed");
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("range.pdf"));
        {
            QPrinter printer(QPrinter::HighResolution);
            setUpCardPdf(printer, pdf);
            printer.setPrintRange(QPrinter::PageRange);
            printer.setFromTo(2, 2);
            printCardPages(printer, layoutCardPages(elevenResidents(), polishCardTexts(), ""));
        }
        const auto words = readWords(pdftotext_, pdf);
        QCOMPARE(words.size(), 1);
        expectWordAt(words[0], QStringLiteral("42"), 850, 266);
    }

    void noResidentAsksNothingAndPrintsNothing() {
        int asked = 0;
        const bool printed = printResidentCards(nullptr, initialImage(), polishCardTexts(), QStringLiteral("x"),
                                                [&](QWidget*, QPrinter&, int) {
                                                    ++asked;
                                                    return true;
                                                });
        QVERIFY(!printed);
        QCOMPARE(asked, 0);
    }

    void cancelledDialogPrintsNothing() {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("cancel.pdf"));
        const bool printed = printResidentCards(nullptr, elevenResidents(), polishCardTexts(), QString(),
                                                [&](QWidget*, QPrinter& printer, int) {
                                                    setUpCardPdf(printer, pdf);
                                                    return false;
                                                });
        QVERIFY(!printed);
        QVERIFY(!QFile::exists(pdf));
    }

    void acceptedDialogPrintsTheJob() {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("job.pdf"));
        int pageCount = 0;
        const bool printed = printResidentCards(nullptr, elevenResidents(), polishCardTexts(), QString(),
                                                [&](QWidget*, QPrinter& printer, int count) {
                                                    pageCount = count;
                                                    setUpCardPdf(printer, pdf);
                                                    return true;
                                                });
        QVERIFY(printed);
        QCOMPARE(pageCount, 2);
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("%PDF"));
        // The job name is the document title, plain or as UTF-16 with a byte-order mark.
        static const char utf16[] = "/Title (\xFE\xFF\0I\0K\0O)";
        QVERIFY(bytes.contains("/Title (IKO)") || bytes.contains(QByteArray(utf16, sizeof utf16 - 1)));
    }

    void dialogIsPresetToOneCopyAndFirstPage() {
#ifdef Q_OS_WIN
        QSKIP("the print dialog is the system's own on Windows");
#endif
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            seen = true;
            QCOMPARE(dialog->printer()->copyCount(), 1);
            QCOMPARE(dialog->printer()->fromPage(), 1);
            QCOMPARE(dialog->printer()->toPage(), 1);
            QCOMPARE(dialog->printRange(), QAbstractPrintDialog::AllPages);
            QCOMPARE(dialog->maxPage(), 2);
            dialog->reject();
        });
        QPrinter printer(QPrinter::HighResolution);
        QVERIFY(!askPrintDialog(nullptr, printer, 2));
        QVERIFY(seen);
    }
};

QTEST_MAIN(CardPrinterTest)
#include "card_printer_test.moc"
