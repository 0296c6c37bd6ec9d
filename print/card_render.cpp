#include "print/card_render.h"

#include <QBuffer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QMarginsF>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <cmath>

namespace kelvane {

namespace {

const char16_t kPolishLetters[] = u"ąćęłńóśźżĄĆĘŁŃÓŚŹŻ";

bool isCardFamily(const QString& family) {
    QFont font(family);
    font.setStyleHint(QFont::TypeWriter);
    const QFontInfo info(font);
    if (info.family().compare(family, Qt::CaseInsensitive) != 0 || !info.fixedPitch()) return false;
    const QFontMetricsF metrics(font);
    for (const char16_t* c = kPolishLetters; *c; ++c)
        if (!metrics.inFont(QChar(*c))) return false;
    return true;
}

QString findCardFamily() {
    const QStringList installed = QFontDatabase::families();
    // Courier look-alikes first, then whatever fixed-pitch family will do.
    for (const char* name :
         {"Courier CE", "Courier New", "Liberation Mono", "DejaVu Sans Mono", "Nimbus Mono PS", "FreeMono"}) {
        const QString family = QString::fromLatin1(name);
        if (installed.contains(family, Qt::CaseInsensitive) && isCardFamily(family)) return family;
    }
    for (const QString& family : installed)
        if (QFontDatabase::isFixedPitch(family) && isCardFamily(family)) return family;
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

QFont styledFont(CardFont kind, int pixelSize) {
    QFont font(cardFontFamily());
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setWeight(kind == CardFont::Normal ? QFont::Normal : QFont::Bold);
    font.setItalic(kind == CardFont::BoldItalic);
    font.setPixelSize(pixelSize);
    return font;
}

}  // namespace

QString cardFontFamily() {
    static const QString family = findCardFamily();
    return family;
}

QFont cardQFont(CardFont kind) {
    // Measure at a large size to keep rounding out of the ratio.
    constexpr int kProbe = 1000;
    const QFontMetricsF probe(styledFont(kind, kProbe));
    const qreal cell = probe.ascent() + probe.descent();
    int pixelSize = kCardFontHeight;
    if (cell > 0) pixelSize = static_cast<int>(std::floor(kCardFontHeight * kProbe / cell));
    return styledFont(kind, pixelSize > 0 ? pixelSize : kCardFontHeight);
}

void renderCardPages(QPagedPaintDevice& device, const std::vector<CardPage>& pages) {
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
        use.font = cardQFont(kind);
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
            for (const CardLine& line : card.lines) painter.drawLine(line.from.x, line.from.y, line.to.x, line.to.y);
            for (const CardText& text : card.texts) {
                const FontUse& use = fonts[static_cast<int>(text.font)];
                painter.setFont(use.font);
                painter.drawText(QPointF(text.topLeft.x, text.topLeft.y + use.ascent), QString::fromStdString(text.text));
            }
        }
    }
    painter.end();
}

bool writeCardPdf(const std::filesystem::path& path, const std::vector<CardPage>& pages, WriteFault* fault) {
    WriteFault result = WriteFault::Failed;
    // Drawn into memory first, then written by the one file writer, so a failed
    // run never leaves half a PDF under the name asked for.
    QBuffer buffer;
    if (buffer.open(QIODevice::WriteOnly)) {
        {
            QPdfWriter pdf(&buffer);
            pdf.setTitle(QString::fromLatin1(kCardJobName));
            pdf.setPageSize(QPageSize(QPageSize::A4));
            pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
            pdf.setResolution(600);
            renderCardPages(pdf, pages);
        }
        const QByteArray& bytes = buffer.data();
        if (!bytes.isEmpty()) result = writeFileSafely(path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    if (fault) *fault = result;
    return result == WriteFault::None;
}

}  // namespace kelvane
