#pragma once
// Printing the residents' cards: the printer's page range, the print dialog,
// the preview and the menu commands.
#include "print/card_render.h"
#include "image/image.h"

#include <QString>

#include <functional>
#include <vector>

class QPrintPreviewDialog;
class QPrinter;
class QWidget;

namespace kelvane {

// Names the job and renders the pages the printer's page range selects (all
// pages unless the user chose a range in the dialog).
void printCardPages(QPrinter& printer, const std::vector<CardPage>& pages);

// Asks for the printer: copies 1, page range 1 to 1 preset (printing all pages
// stays selected). True when the user accepted.
using PrintDialogFunction = std::function<bool(QWidget* parent, QPrinter& printer, int pageCount)>;
bool askPrintDialog(QWidget* parent, QPrinter& printer, int pageCount);

// The menu command: one card for every resident slot of the image with a
// call code. With no such slot nothing happens; a cancelled dialog prints
// nothing. True when a job was printed.
bool printResidentCards(QWidget* parent, const Image& image, const CardTexts& texts, const QString& cardText);
bool printResidentCards(QWidget* parent, const Image& image, const CardTexts& texts, const QString& cardText,
                        const PrintDialogFunction& askDialog);

// Makes the printer write a PDF file: A4 portrait, the printable area the
// whole sheet, so a card measures exactly 85 x 51 mm.
void setUpCardPdf(QPrinter& printer, const QString& path);

// Shows the pages in a print preview dialog, drawn as printCardPages draws
// them for the printer; printing from the preview prints the job. With no
// card nothing is shown. `run` shows the dialog (exec unless a test runs it).
using PreviewDialogFunction = std::function<void(QPrintPreviewDialog& dialog)>;
bool previewResidentCards(QWidget* parent, const Image& image, const CardTexts& texts, const QString& cardText,
                          const PreviewDialogFunction& run);

// True when the image has at least one card to print.
bool hasResidentCards(const Image& image);

// Writes the cards to an A4 PDF file (writeCardPdf) in full or not at all,
// through the one file writer. False when there is no card or the file
// cannot be written (the reason in `fault` when given).
bool saveResidentCardsPdf(const QString& path, const Image& image, const CardTexts& texts, const QString& cardText,
                          WriteFault* fault = nullptr);

}  // namespace kelvane
