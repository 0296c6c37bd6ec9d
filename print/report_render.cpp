#include "print/report_render.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QMarginsF>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cstdio>

namespace kelvane {

namespace {

constexpr double kMarginMm = 18;
constexpr double kLabelColumnMm = 42;
constexpr double kSignatureBlockMm = 34;  // lines to sign, their captions and the footer
constexpr double kLargestPoints = 10;
constexpr double kSmallestPoints = 7;

QString q(const std::string& s) { return QString::fromStdString(s); }

std::string moreLine(const std::string& fmt, int count) {
    std::vector<char> buf(fmt.size() + 32);
    std::snprintf(buf.data(), buf.size(), fmt.c_str(), count);
    return buf.data();
}

struct Page {
    QPagedPaintDevice& device;
    double mm;  // device units per millimetre
    double left, top, width, bottom;

    explicit Page(QPagedPaintDevice& d)
        : device(d),
          mm(d.logicalDpiX() / 25.4),
          left(kMarginMm * mm),
          top(kMarginMm * mm),
          width(d.width() - 2 * kMarginMm * mm),
          bottom(d.height() - (kMarginMm + kSignatureBlockMm) * mm) {}

    QFont font(double points, bool bold = false) const {
        QFont f(QStringLiteral("DejaVu Sans"));
        f.setStyleHint(QFont::SansSerif);
        f.setPointSizeF(points);
        f.setBold(bold);
        // Letters one by one (no "fi" ligature): the manager's copy of a line
        // reads back as it was written.
        f.setLetterSpacing(QFont::AbsoluteSpacing, 0.01);
        return f;
    }
    double height(const QFont& f, double w, const std::string& text) const {
        return QFontMetricsF(f, &device).boundingRect(QRectF(0, 0, w, 1e7), Qt::TextWordWrap, q(text)).height();
    }
};

// Where each part goes at a size; drawing and measuring walk the same steps.
struct Layout {
    const Page& page;
    double points;
    QPainter* painter;  // null: measure only
    double y = 0;

    void text(const QFont& f, double x, double w, const std::string& s, double after = 0) {
        const double h = page.height(f, w, s);
        if (painter) {
            painter->setFont(f);
            painter->drawText(QRectF(x, y, w, h), Qt::TextWordWrap, q(s));
        }
        y += h + after;
    }

    double run(const ReportSheet& sheet) {
        const double mm = page.mm;
        y = page.top;
        text(page.font(points + 6, true), page.left, page.width, sheet.title, 4 * mm);
        const double labelW = kLabelColumnMm * mm;
        for (const auto& [label, value] : sheet.facts) {
            const double top = y;
            text(page.font(points, true), page.left, labelW - 2 * mm, label);
            const double labelEnd = y;
            y = top;
            text(page.font(points), page.left + labelW, page.width - labelW, value);
            y = std::max(y, labelEnd) + 0.8 * mm;
        }
        for (const ReportSection& section : sheet.sections) {
            y += 3 * mm;
            text(page.font(points + 1, true), page.left, page.width, section.heading, 1.5 * mm);
            if (section.lines.empty()) text(page.font(points), page.left + 3 * mm, page.width - 3 * mm, section.none);
            for (const std::string& line : section.lines) {
                const double top = y;
                text(page.font(points), page.left + 3 * mm, 3 * mm, "–");
                y = top;
                text(page.font(points), page.left + 6 * mm, page.width - 6 * mm, line, 0.6 * mm);
            }
        }
        return y;
    }
};

void drawSignatures(QPainter& painter, const Page& page, const ReportSheet& sheet) {
    const double mm = page.mm;
    const double lineY = page.device.height() - (kMarginMm + 14) * mm;
    const int n = static_cast<int>(sheet.signatures.size());
    const double gap = 12 * mm;
    const double w = n > 0 ? (page.width - gap * (n - 1)) / n : 0;
    QPen pen(Qt::black);
    pen.setWidthF(0.25 * mm);
    for (int i = 0; i < n; ++i) {
        const double x = page.left + i * (w + gap);
        painter.setPen(pen);
        painter.drawLine(QPointF(x, lineY), QPointF(x + w, lineY));
        painter.setFont(page.font(8));
        painter.drawText(QRectF(x, lineY + 1 * mm, w, 8 * mm), Qt::TextWordWrap | Qt::AlignHCenter,
                         q(sheet.signatures[static_cast<std::size_t>(i)]));
    }
    painter.setFont(page.font(7));
    painter.drawText(QRectF(page.left, page.device.height() - (kMarginMm + 4) * mm, page.width, 6 * mm),
                     Qt::TextWordWrap, q(sheet.footer));
}

}  // namespace

ReportFit RenderReport(QPagedPaintDevice& device, const ReportSheet& original) {
    const Page page(device);
    ReportSheet sheet = original;
    ReportFit fit;
    const auto fits = [&](double points) { return Layout{page, points, nullptr}.run(sheet) <= page.bottom; };
    fit.pointSize = kLargestPoints;
    while (fit.pointSize > kSmallestPoints && !fits(fit.pointSize)) fit.pointSize -= 0.5;
    // Still too long: the section showing the most lines gives up its last
    // ones, and one line says how many (so at least two go at once).
    std::vector<std::size_t> hidden(sheet.sections.size(), 0);
    const auto shown = [&](std::size_t i) { return sheet.sections[i].lines.size(); };
    while (!fits(fit.pointSize) && !sheet.sections.empty()) {
        std::size_t longest = 0;
        for (std::size_t i = 1; i < sheet.sections.size(); ++i)
            if (shown(i) > shown(longest)) longest = i;
        const auto& all = original.sections[longest].lines;
        const std::size_t next = hidden[longest] == 0 ? 2 : hidden[longest] + 1;
        if (next >= all.size()) break;  // one line and the count are the least a section shows
        hidden[longest] = next;
        auto& lines = sheet.sections[longest].lines;
        lines.assign(all.begin(), all.end() - static_cast<std::ptrdiff_t>(next));
        lines.push_back(moreLine(sheet.moreLines, static_cast<int>(next)));
    }
    for (std::size_t h : hidden) fit.linesLeftOut += static_cast<int>(h);
    QPainter painter(&device);
    painter.fillRect(QRectF(0, 0, device.width(), device.height()), Qt::white);
    painter.setPen(Qt::black);
    Layout{page, fit.pointSize, &painter}.run(sheet);
    drawSignatures(painter, page, sheet);
    painter.end();
    return fit;
}

bool WriteReportPdf(const std::filesystem::path& path, const ReportSheet& sheet, WriteFault* fault, ReportFit* fit) {
    WriteFault result = WriteFault::Failed;
    // Drawn into memory first, then written by the one file writer.
    QBuffer buffer;
    if (buffer.open(QIODevice::WriteOnly)) {
        {
            QPdfWriter pdf(&buffer);
            pdf.setTitle(QString::fromStdString(sheet.title));
            pdf.setPageSize(QPageSize(QPageSize::A4));
            pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
            pdf.setResolution(300);
            const ReportFit made = RenderReport(pdf, sheet);
            if (fit) *fit = made;
        }
        const QByteArray& bytes = buffer.data();
        if (!bytes.isEmpty()) result = writeFileSafely(path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    if (fault) *fault = result;
    return result == WriteFault::None;
}

}  // namespace kelvane
