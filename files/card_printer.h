#pragma once
// Printing the residents' cards with Qt: rendering the laid-out pages onto a
// printer or PDF, and the menu command that asks for the printer first.
#include "files/card_layout.h"
#include "image/image.h"

#include <QFont>
#include <QString>

#include <functional>
#include <vector>

class QPagedPaintDevice;
class QPrintPreviewDialog;
class QPrinter;
class QWidget;

namespace kelvane {

// Name of the print job.
inline constexpr const char* kCardJobName = "IKO";

// The fixed-pitch family the cards are printed in: "Courier CE" where it is
// installed, else the first fixed-pitch family with the Polish letters.
QString CardFontFamily();

// One of the three card fonts, sized so its character cell (ascent plus
// descent) is kCardFontHeight logical units high.
QFont CardQFont(CardFont kind);

// Draws the pages onto the device, starting on its current page and calling
// newPage() between pages: the printable area is filled white and the
// 2,100 x 2,970 logical page is stretched onto it. Draws nothing when there is
// no page.
void RenderCardPages(QPagedPaintDevice& device, const std::vector<CardPage>& pages);

// Names the job and renders the pages the printer's page range selects (all
// pages unless the user chose a range in the dialog).
void PrintCardPages(QPrinter& printer, const std::vector<CardPage>& pages);

// Asks for the printer: copies 1, page range 1 to 1 preset (printing all pages
// stays selected). True when the user accepted.
using PrintDialogFunction = std::function<bool(QWidget* parent, QPrinter& printer, int pageCount)>;
bool AskPrintDialog(QWidget* parent, QPrinter& printer, int pageCount);

// The menu command: one card for every resident slot of the image with a
// call code. With no such slot nothing happens; a cancelled dialog prints
// nothing. True when a job was printed.
bool PrintResidentCards(QWidget* parent, const Image& image, const CardTexts& texts,
                        const QString& cardText);
bool PrintResidentCards(QWidget* parent, const Image& image, const CardTexts& texts,
                        const QString& cardText, const PrintDialogFunction& askDialog);

// Makes the printer write a PDF file: A4 portrait, the printable area the
// whole sheet, so a card measures exactly 85 x 51 mm.
void SetUpCardPdf(QPrinter& printer, const QString& path);

// Shows the pages in a print preview dialog, drawn as PrintCardPages draws
// them for the printer; printing from the preview prints the job. With no
// card nothing is shown. `run` shows the dialog (exec unless a test runs it).
using PreviewDialogFunction = std::function<void(QPrintPreviewDialog& dialog)>;
bool PreviewResidentCards(QWidget* parent, const Image& image, const CardTexts& texts, const QString& cardText,
                          const PreviewDialogFunction& run);

// True when the image has at least one card to print.
bool HasResidentCards(const Image& image);

// Writes the cards to a PDF file (SetUpCardPdf, the job's title) in full or
// not at all: the file is written beside the path, then renamed over it.
// False when there is no card or the file cannot be written.
bool SaveResidentCardsPdf(const QString& path, const Image& image, const CardTexts& texts, const QString& cardText);

}  // namespace kelvane
