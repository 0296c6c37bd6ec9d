// The pictures, icons and desktop files the programs carry.
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QSettings>
#include <QtTest>

#include "resources/kelvane_icon.h"
#include "resources/orva_icon.h"
#include "resources/resource_paths.h"

namespace {

bool IsPureBlack(QRgb c) { return (c & 0xFFFFFF) == 0; }

}  // namespace

class PicturesTest : public QObject {
    Q_OBJECT
private slots:
    void splashIsSeeThroughOnlyAroundItsCard() {
        // The splash window shows black pixels as see-through: the corners
        // outside the rounded card are black, nothing inside the card is.
        const QImage splash(QString::fromLatin1(kelvane::resources::kSplashPicture));
        QCOMPARE(splash.size(), QSize(599, 359));
        for (const QPoint corner : {QPoint(0, 0), QPoint(598, 0), QPoint(0, 358), QPoint(598, 358)})
            QVERIFY(IsPureBlack(splash.pixel(corner)));
        int blackInside = 0;
        for (int y = 20; y < 339; ++y)
            for (int x = 20; x < 579; ++x) blackInside += IsPureBlack(splash.pixel(x, y)) ? 1 : 0;
        QCOMPARE(blackInside, 0);
    }

    void aboutPictureHasTheSizeItIsShownAt() {
        const QImage about(QString::fromLatin1(kelvane::resources::kAboutPicture));
        QCOMPARE(about.size(), QSize(137, 136));
    }

    void everyIconSizeIsCarried_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<int>("size");
        for (int size : kelvane::resources::kIconSizes) {
            QTest::addRow("kelvanemini-%d", size) << QString::fromLatin1(kelvane::resources::kKelvaneIconPattern) << size;
            QTest::addRow("orva-%d", size) << QString::fromLatin1(kelvane::resources::kOrvaIconPattern) << size;
        }
    }
    void everyIconSizeIsCarried() {
        QFETCH(QString, pattern);
        QFETCH(int, size);
        const QImage icon(pattern.arg(size));
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.hasAlphaChannel());
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);                  // rounded corner
        QCOMPARE(qAlpha(icon.pixel(size / 2, size / 2)), 255);  // solid middle
    }

    void programIconsHoldAllSizes() {
        for (const QIcon& icon : {kelvane::resources::kelvaneMiniIcon(), kelvane::resources::orvaUpgradeIcon()}) {
            QCOMPARE(icon.availableSizes().size(), int(std::size(kelvane::resources::kIconSizes)));
            QCOMPARE(icon.pixmap(QSize(48, 48)).size(), QSize(48, 48));
        }
        QVERIFY(!QImage(QString::fromLatin1(kelvane::resources::kKelvaneIcon)).isNull());
        QVERIFY(!QImage(QString::fromLatin1(kelvane::resources::kOrvaIcon)).isNull());
    }

    void desktopFilesStartTheProgramsWithTheirIcons_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("icon");
        QTest::newRow("KelvaneMini") << "kelvanemini.desktop"
                                     << "KelvaneMini"
                                     << "kelvanemini";
        QTest::newRow("Orva_Upgrade") << "orva-upgrade.desktop"
                                      << "Orva_Upgrade"
                                      << "orva";
    }
    void desktopFilesStartTheProgramsWithTheirIcons() {
        QFETCH(QString, file);
        QFETCH(QString, program);
        QFETCH(QString, icon);
        const QString path = QStringLiteral(KELVANE_DESKTOP_DIR "/") + file;
        QVERIFY(QFile::exists(path));
        QSettings entry(path, QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Desktop Entry"));
        QCOMPARE(entry.value("Type").toString(), QStringLiteral("Application"));
        QCOMPARE(entry.value("Name").toString(), program);
        QCOMPARE(entry.value("Exec").toString(), program);
        QCOMPARE(entry.value("Icon").toString(), icon);
        QCOMPARE(entry.value("Terminal").toString(), QStringLiteral("false"));
        // The icon the desktop file names is the one the program carries.
        QVERIFY(QFile::exists(QStringLiteral(":/icons/%1.png").arg(icon)));
    }
};

QTEST_MAIN(PicturesTest)
#include "pictures_test.moc"
