#include "shell/splash.h"

#include <QBitmap>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace kelvane::shell {

namespace {
constexpr int kWidth = 599;
constexpr int kHeight = 359;
}  // namespace

QPixmap splashPicture() {
    const QString path = QStringLiteral(":/pictures/splash.png");
    if (QFile::exists(path)) {
        QPixmap pm(path);
        if (!pm.isNull()) return pm.scaled(kWidth, kHeight);
    }
    QPixmap pm(kWidth, kHeight);
    pm.fill(Qt::black);  // the corners outside the card show what lies behind
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, kHeight);
    bg.setColorAt(0, QColor(28, 64, 112));
    bg.setColorAt(1, QColor(12, 28, 56));
    p.setBrush(bg);
    p.setPen(QPen(QColor(120, 170, 230), 3));
    p.drawRoundedRect(QRectF(4, 4, kWidth - 8, kHeight - 8), 24, 24);
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(54);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(235, 242, 250));
    p.drawText(QRect(0, 110, kWidth, 70), Qt::AlignCenter, QStringLiteral("KelvaneMini"));
    QFont sub = title;
    sub.setPixelSize(20);
    sub.setBold(false);
    p.setFont(sub);
    p.setPen(QColor(170, 200, 235));
    p.drawText(QRect(0, 290, kWidth, 30), Qt::AlignCenter, QStringLiteral("Wersja 0.9"));
    return pm;
}

SplashWindow::SplashWindow(QWidget* mainWindow)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::SplashScreen), mainWindow_(mainWindow) {
    setObjectName(QStringLiteral("Form2"));
    setFixedSize(kWidth, kHeight);
    const QPixmap picture = splashPicture();
    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("Image1"));
    picture_->setGeometry(0, 0, kWidth, kHeight);
    picture_->setPixmap(picture);
    // Black pixels let what lies behind show through (where the platform can).
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        setMask(picture.createMaskFromColor(Qt::black, Qt::MaskInColor));
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());

    showTimer_ = new QTimer(this);
    showTimer_->setObjectName(QStringLiteral("Timer1"));
    showTimer_->setInterval(kShowMs);
    connect(showTimer_, &QTimer::timeout, this, &SplashWindow::onShowTimeOver);
    showTimer_->start();
    show();
}

void SplashWindow::onShowTimeOver() {
    showTimer_->stop();
    // The main window comes up before the splash goes, so the program never
    // runs without a visible window.
    if (mainWindow_) mainWindow_->show();
    close();
    deleteLater();
}

}  // namespace kelvane::shell
