#pragma once
// Drawing the residents' cards with Qt Gui alone: the card fonts, the laid-out
// pages onto any paged device, and a PDF file. Needs a QGuiApplication (the
// offscreen platform will do), no window and no printer.
#include "files/atomic_file.h"
#include "files/card_layout.h"

#include <QFont>
#include <QString>

#include <filesystem>
#include <vector>

class QPagedPaintDevice;

namespace kelvane {

// Name of the print job.
inline constexpr const char* kCardJobName = "IKO";

// The fixed-pitch family the cards are printed in: "Courier CE" where it is
// installed, else the first fixed-pitch family with the Polish letters.
QString cardFontFamily();

// One of the three card fonts, sized so its character cell (ascent plus
// descent) is kCardFontHeight logical units high.
QFont cardQFont(CardFont kind);

// Draws the pages onto the device, starting on its current page and calling
// newPage() between pages: the printable area is filled white and the
// 2,100 x 2,970 logical page is stretched onto it. Draws nothing when there is
// no page.
void renderCardPages(QPagedPaintDevice& device, const std::vector<CardPage>& pages);

// Writes the pages to an A4 PDF titled with the job's name, whole or not at
// all, through the one file writer; false, with the reason in `fault` when
// given, when it could not.
bool writeCardPdf(const std::filesystem::path& path, const std::vector<CardPage>& pages, WriteFault* fault = nullptr);

}  // namespace kelvane
