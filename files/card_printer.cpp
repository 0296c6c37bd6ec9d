#include "files/card_printer.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QFile>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <cmath>
#include <filesystem>

namespace kelvane {

namespace {

const char16_t kPolishLetters[] = u"ąćęłńóśźżĄĆĘŁŃÓŚŹŻ";

bool isCardFamily(const QString& family) {
    QFont font(family);
    font.setStyleHint(QFont::TypeWriter);
    const QFontInfo info(font);
    if (info.family().compare(family, Qt::CaseInsensitive) != 0 || !info.fixedPitch())
        return false;
    const QFontMetricsF metrics(font);
    for (const char16_t* c = kPolishLetters; *c; ++c)
        if (!metrics.inFont(QChar(*c))) return false;
    return true;
}

QString findCardFamily() {
    const QStringList installed = QFontDatabase::families();
    // Courier look-alikes first, then whatever fixed-pitch family will do.
    for (const char* name : {"Courier CE", "Courier New", "Liberation Mono", "DejaVu Sans Mono",
                             "Nimbus Mono PS", "FreeMono"}) {
        const QString family = QString::fromLatin1(name);
        if (installed.contains(family, Qt::CaseInsensitive) && isCardFamily(family))
            return family;
    }
    for (const QString& family : installed)
        if (QFontDatabase::isFixedPitch(family) && isCardFamily(family)) return family;
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

QFont styledFont(CardFont kind, int pixelSize) {
    QFont font(CardFontFamily());
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setWeight(kind == CardFont::Normal ? QFont::Normal : QFont::Bold);
    font.setItalic(kind == CardFont::BoldItalic);
    font.setPixelSize(pixelSize);
    return font;
}

}  // namespace

QString CardFontFamily() {
    static const QString family = findCardFamily();
    return family;
}

QFont CardQFont(CardFont kind) {
    // Measure at a large size to keep rounding out of the ratio.
    constexpr int kProbe = 1000;
    const QFontMetricsF probe(styledFont(kind, kProbe));
    const qreal cell = probe.ascent() + probe.descent();
    int pixelSize = kCardFontHeight;
    if (cell > 0) pixelSize = static_cast<int>(std::floor(kCardFontHeight * kProbe / cell));
    return styledFont(kind, pixelSize > 0 ? pixelSize : kCardFontHeight);
}

void RenderCardPages(QPagedPaintDevice& device, const std::vector<CardPage>& pages) {
    if (pages.empty()) return;
    QPainter painter;
    if (!painter.begin(&device)) return;
    const int width = device.width();
    const int height = device.height();

    struct FontUse {
        QFont font;
        qreal ascent;
    };
    FontUse fonts[3];
    for (CardFont kind : {CardFont::Bold, CardFont::Normal, CardFont::BoldItalic}) {
        FontUse& use = fonts[static_cast<int>(kind)];
        use.font = CardQFont(kind);
        use.ascent = QFontMetricsF(use.font).ascent();
    }
    QPen pen(Qt::black);
    pen.setWidth(0);
    pen.setCosmetic(true);

    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i > 0) device.newPage();
        painter.setViewTransformEnabled(false);
        painter.fillRect(0, 0, width, height, Qt::white);
        // 1,050 units onto half the width, 1,485 onto half the height.
        painter.setWindow(0, 0, kCardPageWidth, kCardPageHeight);
        painter.setViewport(0, 0, width / 2 * 2, height / 2 * 2);
        painter.setPen(pen);
        for (const Card& card : pages[i].cards) {
            for (const CardLine& line : card.lines)
                painter.drawLine(line.from.x, line.from.y, line.to.x, line.to.y);
            for (const CardText& text : card.texts) {
                const FontUse& use = fonts[static_cast<int>(text.font)];
                painter.setFont(use.font);
                painter.drawText(QPointF(text.topLeft.x, text.topLeft.y + use.ascent),
                                 QString::fromStdString(text.text));
            }
        }
    }
    painter.end();
}

void PrintCardPages(QPrinter& printer, const std::vector<CardPage>& pages) {
    printer.setDocName(QString::fromLatin1(kCardJobName));
    if (printer.printRange() != QPrinter::PageRange) {
        RenderCardPages(printer, pages);
        return;
    }
    const QPageRanges ranges = printer.pageRanges();
    std::vector<CardPage> chosen;
    for (std::size_t i = 0; i < pages.size(); ++i)
        if (ranges.isEmpty() || ranges.contains(static_cast<int>(i) + 1)) chosen.push_back(pages[i]);
    RenderCardPages(printer, chosen);
}

bool AskPrintDialog(QWidget* parent, QPrinter& printer, int pageCount) {
    printer.setCopyCount(1);
    printer.setFromTo(1, 1);
    printer.setPrintRange(QPrinter::AllPages);
    QPrintDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("PrintDialog"));
    dialog.setMinMax(1, pageCount);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setOption(QAbstractPrintDialog::PrintCollateCopies, true);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    return dialog.exec() == QDialog::Accepted;
}

bool PrintResidentCards(QWidget* parent, const Image& image, const CardTexts& texts,
                        const QString& cardText) {
    return PrintResidentCards(parent, image, texts, cardText, AskPrintDialog);
}

bool PrintResidentCards(QWidget* parent, const Image& image, const CardTexts& texts,
                        const QString& cardText, const PrintDialogFunction& askDialog) {
    // Laid out before the dialog: the cards show the image as it was when
    // the command was given.
    const std::vector<CardPage> pages = LayoutCardPages(image, texts, cardText.toStdString());
    if (pages.empty()) return false;
    QPrinter printer(QPrinter::HighResolution);
    if (!askDialog(parent, printer, static_cast<int>(pages.size()))) return false;
    PrintCardPages(printer, pages);
    return true;
}

void SetUpCardPdf(QPrinter& printer, const QString& path) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    printer.setFullPage(true);
}

bool HasResidentCards(const Image& image) {
    const CardTexts none{};
    return !LayoutCardPages(image, none, std::string()).empty();
}

bool PreviewResidentCards(QWidget* parent, const Image& image, const CardTexts& texts, const QString& cardText,
                          const PreviewDialogFunction& run) {
    const std::vector<CardPage> pages = LayoutCardPages(image, texts, cardText.toStdString());
    if (pages.empty()) return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromLatin1(kCardJobName));
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("PrintPreviewDialog"));
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [&pages](QPrinter* target) { PrintCardPages(*target, pages); });
    if (run)
        run(dialog);
    else
        dialog.exec();
    return true;
}

bool SaveResidentCardsPdf(const QString& path, const Image& image, const CardTexts& texts, const QString& cardText) {
    const std::vector<CardPage> pages = LayoutCardPages(image, texts, cardText.toStdString());
    if (pages.empty() || path.isEmpty()) return false;
    const QString temp = path + QStringLiteral(".tmp");
    QFile::remove(temp);
    bool written = false;
    {
        QPrinter printer(QPrinter::HighResolution);
        SetUpCardPdf(printer, temp);
        printer.setDocName(QString::fromLatin1(kCardJobName));
        RenderCardPages(printer, pages);
        written = printer.printerState() != QPrinter::Error;
    }
    // A file that cannot be created leaves nothing behind to rename.
    std::error_code error;
    if (written && QFileInfo(temp).size() > 0)
        std::filesystem::rename(QFile::encodeName(temp).toStdString(), QFile::encodeName(path).toStdString(), error);
    else
        error = std::make_error_code(std::errc::io_error);
    if (error) {
        QFile::remove(temp);
        return false;
    }
    return true;
}

}  // namespace kelvane
