#include "shell/about_box.h"

#include "shell/window_font.h"

#include <QDesktopServices>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace kelvane::shell {

const char* const kSupportAddress = "serwis@kelvane.pl";

QString supportMailLink() {
    return QStringLiteral("mailto:") + QString::fromLatin1(kSupportAddress) +
           QStringLiteral("?subject=Program KelvaneMini");
}

namespace {
QPixmap programPicture() {
    const QString path = QStringLiteral(":/pictures/about.png");
    if (QFile::exists(path)) return QPixmap(path).scaled(137, 136, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // A plain drawn picture: a keypad panel.
    QPixmap pm(137, 136);
    pm.fill(QColor(230, 236, 242));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(60, 70, 90));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(33, 8, 71, 120, 8, 8);
    p.setBrush(QColor(120, 200, 255));
    p.drawRect(43, 18, 51, 20);
    p.setBrush(QColor(210, 215, 225));
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) p.drawEllipse(QPointF(52 + c * 17, 55 + r * 17), 6, 6);
    return pm;
}
}  // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("O programie"));
    setFixedSize(298, 213);
    // The main window's font: at the system's larger default the texts run
    // into the picture.
    setFont(windowFont());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* panelLayout = new QHBoxLayout(panel);
    panelLayout->setContentsMargins(6, 6, 6, 6);
    auto* icon = new QLabel(panel);
    icon->setObjectName(QStringLiteral("ProgramIcon"));
    icon->setPixmap(programPicture());
    icon->setFixedSize(137, 136);
    panelLayout->addWidget(icon);
    auto* texts = new QVBoxLayout;
    auto* product = new QLabel(QStringLiteral("Program KelvaneMini"), panel);
    product->setObjectName(QStringLiteral("ProductName"));
    auto* version = new QLabel(QStringLiteral("Wersja 0.9"), panel);
    version->setObjectName(QStringLiteral("Version"));
    comments_ = new QLabel(QStringLiteral("TUTAJ UWAGI"), panel);
    comments_->setObjectName(QStringLiteral("Comments"));
    comments_->setWordWrap(true);
    comments_->setCursor(Qt::PointingHandCursor);
    comments_->setStyleSheet(QStringLiteral("color: blue; font-weight: bold;"));
    comments_->installEventFilter(this);
    texts->addWidget(product);
    texts->addWidget(version);
    texts->addWidget(comments_);
    texts->addStretch();
    panelLayout->addLayout(texts);
    layout->addWidget(panel);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
}

bool AboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == comments_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        onSendComments();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void AboutBox::onSendComments() { QDesktopServices::openUrl(QUrl(supportMailLink())); }

}  // namespace kelvane::shell
