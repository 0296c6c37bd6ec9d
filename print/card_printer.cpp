#include "print/card_printer.h"

#include "print/qt_path.h"

#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include <filesystem>

namespace kelvane {

void printCardPages(QPrinter& printer, const std::vector<CardPage>& pages) {
    printer.setDocName(QString::fromLatin1(kCardJobName));
    if (printer.printRange() != QPrinter::PageRange) {
        renderCardPages(printer, pages);
        return;
    }
    const QPageRanges ranges = printer.pageRanges();
    std::vector<CardPage> chosen;
    for (std::size_t i = 0; i < pages.size(); ++i)
        if (ranges.isEmpty() || ranges.contains(static_cast<int>(i) + 1)) chosen.push_back(pages[i]);
    renderCardPages(printer, chosen);
}

bool askPrintDialog(QWidget* parent, QPrinter& printer, int pageCount) {
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

bool printResidentCards(QWidget* parent, const Image& image, const CardTexts& texts, const QString& cardText) {
    return printResidentCards(parent, image, texts, cardText, askPrintDialog);
}

bool printResidentCards(QWidget* parent, const Image& image, const CardTexts& texts, const QString& cardText,
                        const PrintDialogFunction& askDialog) {
    // Laid out before the dialog: the cards show the image as it was when
    // the command was given.
    const std::vector<CardPage> pages = layoutCardPages(image, texts, cardText.toStdString());
    if (pages.empty()) return false;
    QPrinter printer(QPrinter::HighResolution);
    if (!askDialog(parent, printer, static_cast<int>(pages.size()))) return false;
    printCardPages(printer, pages);
    return true;
}

void setUpCardPdf(QPrinter& printer, const QString& path) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
    printer.setFullPage(true);
}

bool hasResidentCards(const Image& image) {
    const CardTexts none{};
    return !layoutCardPages(image, none, std::string()).empty();
}

bool previewResidentCards(QWidget* parent, const Image& image, const CardTexts& texts, const QString& cardText,
                          const PreviewDialogFunction& run) {
    const std::vector<CardPage> pages = layoutCardPages(image, texts, cardText.toStdString());
    if (pages.empty()) return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromLatin1(kCardJobName));
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("PrintPreviewDialog"));
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [&pages](QPrinter* target) { printCardPages(*target, pages); });
    if (run)
        run(dialog);
    else
        dialog.exec();
    return true;
}

bool saveResidentCardsPdf(const QString& path, const Image& image, const CardTexts& texts, const QString& cardText,
                          WriteFault* fault) {
    if (fault) *fault = WriteFault::Failed;
    const std::vector<CardPage> pages = layoutCardPages(image, texts, cardText.toStdString());
    if (pages.empty() || path.isEmpty()) return false;
    return writeCardPdf(fsPath(path), pages, fault);
}

}  // namespace kelvane
