// Draws the programs' pictures and icons into the resources folder:
//   pictures/splash.png   599 x 359, the splash window (pure black = see-through)
//   pictures/about.png    137 x 136, the aboutPicture dialog's picture
//   icons/kelvanemini-N.png, icons/orva-N.png for N = 16 32 48 64 128 256,
//   icons/kelvanemini.png and icons/orva.png (the 256 px ones).
//
// Run it after changing the art and commit the PNGs:
//   cmake --build <build> --target kelvane_draw_pictures
//   QT_QPA_PLATFORM=offscreen <build>/resources/kelvane_draw_pictures <repo>/resources
#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QTextStream>

#include <cstdio>

namespace {

const QColor kNavyTop(0x1d, 0x3b, 0x66);
const QColor kNavyBottom(0x0c, 0x1b, 0x33);
const QColor kSteelLight(0xe4, 0xe9, 0xef);
const QColor kSteelDark(0x9a, 0xa6, 0xb4);
const QColor kKeyFace(0x3a, 0x44, 0x52);
const QColor kKeyText(0xf2, 0xf5, 0xf8);
const QColor kAccent(0x3d, 0xd6, 0x8c);  // the green of the door-open lamp
const QColor kAmber(0xff, 0xb0, 0x2e);
const QColor kOrange(0xf0, 0x7a, 0x1a);

QFont uiFont(double pixelSize, int weight = QFont::Normal) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(qMax(1, qRound(pixelSize)));
    f.setWeight(QFont::Weight(weight));
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

// The largest font up to pixelSize in which text fits into width.
QFont fittingFont(const QString& text, double width, double pixelSize, int weight) {
    QFont f = uiFont(pixelSize, weight);
    while (f.pixelSize() > 6 && QFontMetricsF(f).horizontalAdvance(text) > width) f.setPixelSize(f.pixelSize() - 1);
    return f;
}

// An entrance keypad panel drawn in the rectangle r: brushed-steel plate, a
// speaker grille, a small display, a 3 x 4 keypad and a touch-key reader.
// `detail` drops the fine parts for small sizes (0 = tiny icon, 2 = full).
void drawPanel(QPainter& p, const QRectF& r, int detail, const QString& display) {
    const double w = r.width();
    const double h = r.height();
    const double radius = w * 0.09;

    QLinearGradient plate(r.topLeft(), r.bottomRight());
    plate.setColorAt(0, kSteelLight);
    plate.setColorAt(1, kSteelDark);
    p.setPen(detail > 0 ? QPen(QColor(0x5a, 0x66, 0x74), qMax(1.0, w * 0.015)) : Qt::NoPen);
    p.setBrush(plate);
    p.drawRoundedRect(r, radius, radius);

    // Speaker grille: short slotCount near the top.
    const double slotTop = r.top() + h * 0.06;
    if (detail > 0) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x4a, 0x55, 0x63));
        const int slotCount = detail > 1 ? 5 : 3;
        const double slotW = w * 0.09;
        const double gap = w * 0.045;
        const double total = slotCount * slotW + (slotCount - 1) * gap;
        for (int i = 0; i < slotCount; ++i) {
            QRectF s(r.center().x() - total / 2 + i * (slotW + gap), slotTop, slotW, h * 0.025);
            p.drawRoundedRect(s, s.height() / 2, s.height() / 2);
        }
    }

    // Display.
    QRectF disp(r.left() + w * 0.14, r.top() + h * (detail > 0 ? 0.12 : 0.08), w * 0.72, h * 0.13);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x2a, 0x22));
    p.drawRoundedRect(disp, w * 0.03, w * 0.03);
    if (detail > 1 && !display.isEmpty()) {
        p.setPen(kAccent);
        p.setFont(uiFont(disp.height() * 0.62, QFont::Bold));
        p.drawText(disp, Qt::AlignCenter, display);
    } else if (detail > 0) {
        p.setBrush(kAccent);
        p.drawRect(QRectF(disp.left() + disp.width() * 0.2, disp.center().y() - disp.height() * 0.12,
                          disp.width() * 0.6, disp.height() * 0.24));
    }

    // Keypad, 3 columns x 4 rows.
    static const char* const kKeys[12] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "*", "0", "#"};
    const double padTop = disp.bottom() + h * 0.05;
    const double padBottom = r.top() + h * (detail > 0 ? 0.80 : 0.90);
    const double keyGapX = w * 0.06;
    const double keyW = (w * 0.72 - 2 * keyGapX) / 3;
    const double keyGapY = h * 0.025;
    const double keyH = (padBottom - padTop - 3 * keyGapY) / 4;
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 3; ++col) {
            QRectF k(r.left() + w * 0.14 + col * (keyW + keyGapX), padTop + row * (keyH + keyGapY), keyW, keyH);
            p.setPen(Qt::NoPen);
            p.setBrush(kKeyFace);
            p.drawRoundedRect(k, keyW * 0.18, keyW * 0.18);
            if (detail > 1) {
                p.setPen(kKeyText);
                p.setFont(uiFont(keyH * 0.62, QFont::Bold));
                p.drawText(k, Qt::AlignCenter, QString::fromLatin1(kKeys[row * 3 + col]));
            }
        }
    }

    // Touch-key reader: a round contact with a lit ring.
    if (detail > 0) {
        const double d = h * 0.11;
        QPointF c(r.center().x(), r.top() + h * 0.89);
        p.setPen(QPen(kAccent, qMax(1.0, d * 0.14)));
        p.setBrush(QColor(0x2c, 0x33, 0x3d));
        p.drawEllipse(c, d / 2, d / 2);
        if (detail > 1) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xb8, 0xc2, 0xcc));
            p.drawEllipse(c, d * 0.22, d * 0.22);
        }
    }
}

// A rounded square with a navy gradient, the background of the KelvaneMini icon.
void drawTile(QPainter& p, const QRectF& r, const QColor& top, const QColor& bottom) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    const double radius = r.width() * 0.2;
    p.drawRoundedRect(r, radius, radius);
}

QImage kelvaneIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const double s = size;
    const QRectF tile(s * 0.02, s * 0.02, s * 0.96, s * 0.96);
    drawTile(p, tile, kNavyTop, kNavyBottom);

    const int detail = size >= 128 ? 2 : (size >= 32 ? 1 : 0);
    if (size <= 16) {
        // At 16 px only the shape reads: a light plate, the display and a 3 x 3
        // key grid, each on whole pixels.
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(Qt::NoPen);
        p.setBrush(kSteelLight);
        p.drawRect(3, 1, 10, 14);
        p.setBrush(QColor(0x10, 0x2a, 0x22));
        p.drawRect(4, 2, 8, 3);
        p.setBrush(kAccent);
        p.drawRect(5, 3, 6, 1);
        p.setBrush(kKeyFace);
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col) p.drawRect(4 + col * 3, 6 + row * 3, 2, 2);
        return img;
    }
    const QRectF panel(s * 0.25, s * 0.08, s * 0.50, s * 0.84);
    drawPanel(p, panel, detail, QStringLiteral("OPEN"));
    return img;
}

QImage orvaIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    drawTile(p, QRectF(s * 0.02, s * 0.02, s * 0.96, s * 0.96), QColor(0x3b, 0x2a, 0x14), QColor(0x1f, 0x15, 0x0a));

    // A microcontroller: dark body with pins on both sides.
    const QRectF chip(s * 0.22, s * 0.30, s * 0.56, s * 0.56);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xc9, 0xcf, 0xd6));
    const int pins = size >= 48 ? 5 : (size >= 32 ? 4 : 3);
    const double pinLen = s * 0.10;
    const double pinW = qMax(1.0, chip.height() / (pins * 2.0));
    for (int i = 0; i < pins; ++i) {
        const double y = chip.top() + chip.height() * (i + 0.5) / pins - pinW / 2;
        p.drawRect(QRectF(chip.left() - pinLen, y, pinLen, pinW));
        p.drawRect(QRectF(chip.right(), y, pinLen, pinW));
    }
    p.setBrush(QColor(0x2b, 0x31, 0x3a));
    p.drawRoundedRect(chip, s * 0.05, s * 0.05);

    // The upward arrow of an upgrade, in amber, rising out of the chip.
    QPainterPath arrow;
    const double cx = s * 0.5;
    const double shaftW = s * 0.14;
    const double headW = s * 0.40;
    const double tipY = s * 0.08;
    const double headBase = s * 0.36;
    const double shaftBottom = s * 0.74;
    arrow.moveTo(cx, tipY);
    arrow.lineTo(cx + headW / 2, headBase);
    arrow.lineTo(cx + shaftW / 2, headBase);
    arrow.lineTo(cx + shaftW / 2, shaftBottom);
    arrow.lineTo(cx - shaftW / 2, shaftBottom);
    arrow.lineTo(cx - shaftW / 2, headBase);
    arrow.lineTo(cx - headW / 2, headBase);
    arrow.closeSubpath();
    QLinearGradient g(QPointF(cx, tipY), QPointF(cx, shaftBottom));
    g.setColorAt(0, kAmber);
    g.setColorAt(1, kOrange);
    p.setBrush(g);
    p.setPen(size >= 32 ? QPen(QColor(0x1f, 0x15, 0x0a), s * 0.02) : Qt::NoPen);
    p.drawPath(arrow);
    return img;
}

QImage splashPicture() {
    const int W = 599;
    const int H = 359;
    QImage img(W, H, QImage::Format_RGB32);
    img.fill(Qt::black);  // black is the splash window's see-through colour
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The card: everything inside it avoids pure black, so only the corners
    // outside the rounded card let the desktop show through.
    const QRectF card(6, 6, W - 12, H - 12);
    QLinearGradient bg(card.topLeft(), card.bottomRight());
    bg.setColorAt(0, kNavyTop);
    bg.setColorAt(1, kNavyBottom);
    p.setPen(QPen(QColor(0x4b, 0x6f, 0xa3), 2));
    p.setBrush(bg);
    p.drawRoundedRect(card, 22, 22);

    // A soft light behind the panel.
    QRadialGradient glow(QPointF(140, 180), 150);
    glow.setColorAt(0, QColor(0x3a, 0x62, 0x9a, 150));
    glow.setColorAt(1, QColor(0x3a, 0x62, 0x9a, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(QPointF(140, 180), 150, 150);

    // The entrance panel on the left, on a wall bracket line.
    drawPanel(p, QRectF(78, 40, 126, 272), 2, QStringLiteral("OPEN"));

    // Text on the right.
    const double textLeft = 250;
    p.setPen(QColor(0xf4, 0xf7, 0xfb));
    const QString title = QStringLiteral("KelvaneMini");
    p.setFont(fittingFont(title, W - textLeft - 30, 52, QFont::Bold));
    p.drawText(QRectF(textLeft, 70, W - textLeft - 20, 70), Qt::AlignLeft | Qt::AlignVCenter, title);
    // The program has one name: no second one under it.
    p.setPen(QPen(kAccent, 3));
    p.drawLine(QPointF(textLeft + 2, 156), QPointF(textLeft + 120, 156));

    p.setPen(QColor(0xdc, 0xe5, 0xf0));
    p.setFont(uiFont(15));
    p.drawText(QRectF(textLeft, 176, W - textLeft - 24, 70), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               QString::fromUtf8("Konfiguracja zasilacza domofonowego: kody, klucze, digitalizery i parametry"));

    p.setPen(QColor(0xf4, 0xf7, 0xfb));
    p.setFont(uiFont(17, QFont::Bold));
    p.drawText(QRectF(textLeft, 270, 200, 28), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Wersja 0.9"));

    p.setPen(QColor(0x7f, 0x98, 0xb8));
    p.setFont(uiFont(12));
    p.drawText(QRectF(textLeft, 300, W - textLeft - 24, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8("Trwa uruchamianie…"));
    return img;
}

QImage aboutPicture() {
    const int W = 137;
    const int H = 136;
    QImage img(W, H, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QLinearGradient bg(QPointF(0, 0), QPointF(0, H));
    bg.setColorAt(0, kNavyTop);
    bg.setColorAt(1, kNavyBottom);
    p.fillRect(img.rect(), bg);

    drawPanel(p, QRectF(14, 12, 50, 108), 1, QString());

    p.setPen(QColor(0xf4, 0xf7, 0xfb));
    p.setFont(fittingFont(QStringLiteral("Kelvane"), 62, 15, QFont::Bold));
    p.drawText(QRectF(70, 30, 64, 22), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Kelvane"));
    p.setPen(kAccent);
    p.drawText(QRectF(70, 50, 64, 22), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Mini"));
    p.setPen(QColor(0xa9, 0xc4, 0xe6));
    p.setFont(uiFont(11));
    p.drawText(QRectF(70, 84, 64, 18), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("v 0.9"));
    return img;
}

// A review sheet: every icon size of both programs, each also enlarged
// without smoothing, so the pixels of the small sizes can be judged.
QImage iconSheet() {
    const int sizes[] = {16, 32, 48, 64, 128, 256};
    QImage sheet(1400, 620, QImage::Format_RGB32);
    sheet.fill(QColor(0xee, 0xee, 0xee));
    QPainter p(&sheet);
    int y = 10;
    for (int which = 0; which < 2; ++which) {
        int x = 10;
        for (int size : sizes) {
            const QImage icon = which == 0 ? kelvaneIcon(size) : orvaIcon(size);
            p.drawImage(x, y, icon);
            if (size <= 48) {
                const int factor = size == 16 ? 8 : 4;
                p.drawImage(QRect(x, y + size + 8, size * factor, size * factor), icon);
                x += size * factor + 16;
            } else {
                x += size + 16;
            }
        }
        y += 300;
    }
    return sheet;
}

bool savePng(const QImage& img, const QString& path) {
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s  %dx%d\n", qPrintable(path), img.width(), img.height());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc == 3 && QString::fromLatin1(argv[1]) == QLatin1String("--sheet"))
        return savePng(iconSheet(), QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <resources folder> | --sheet <review.png>\n", argv[0]);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    root.mkpath(QStringLiteral("pictures"));
    root.mkpath(QStringLiteral("icons"));
    bool ok = savePng(splashPicture(), root.filePath(QStringLiteral("pictures/splash.png")));
    ok = savePng(aboutPicture(), root.filePath(QStringLiteral("pictures/about.png"))) && ok;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        ok = savePng(kelvaneIcon(size), root.filePath(QStringLiteral("icons/kelvanemini-%1.png").arg(size))) && ok;
        ok = savePng(orvaIcon(size), root.filePath(QStringLiteral("icons/orva-%1.png").arg(size))) && ok;
    }
    ok = savePng(kelvaneIcon(256), root.filePath(QStringLiteral("icons/kelvanemini.png"))) && ok;
    ok = savePng(orvaIcon(256), root.filePath(QStringLiteral("icons/orva.png"))) && ok;
    return ok ? 0 : 1;
}
