#pragma once
// Drawing the visit report (files/report_sheet.h) on one A4 page with Qt Gui
// alone: a PDF without a display, or any paged device (a printer).
#include "files/atomic_file.h"
#include "files/report_sheet.h"

#include <filesystem>

class QPagedPaintDevice;

namespace kelvane {

// What the page shows of a sheet: the text shrinks from 10 to 7 points to
// fit, and when even 7 points do not, the longest sections lose their last
// lines and end with the sheet's "more" line instead.
struct ReportFit {
    double pointSize = 10;
    int linesLeftOut = 0;
};

// Draws the sheet on the device's current page, signatures at the bottom.
ReportFit RenderReport(QPagedPaintDevice& device, const ReportSheet& sheet);

// Writes the one-page A4 PDF, whole or not at all, through the one file
// writer; false, with the reason in `fault` when given, when it could not.
bool WriteReportPdf(const std::filesystem::path& path, const ReportSheet& sheet, WriteFault* fault = nullptr,
                    ReportFit* fit = nullptr);

}  // namespace kelvane
