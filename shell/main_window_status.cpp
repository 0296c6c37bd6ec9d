// The main window's status bar: the status panel and its progress bar, the
// company register's panel, and the notice line above them.
#include "shell/main_window.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvane::shell {

namespace {
constexpr int kFirstPanelWidth = 600;
constexpr int kSecondPanelWidth = 50;
}  // namespace

void MainWindow::buildStatusBar() {
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QStringLiteral("StatusBar1"));
    statusBar_->setSizeGripEnabled(false);
    statusBar_->setFixedHeight(22);
    setStatusBar(statusBar_);
    statusPanel_ = new QLabel(statusBar_);
    statusPanel_->setObjectName(QStringLiteral("StatusBar1_Panel0"));
    statusPanel_->setFixedWidth(kFirstPanelWidth);
    statusBar_->addWidget(statusPanel_);
    auto* second = new QLabel(statusBar_);
    second->setObjectName(QStringLiteral("StatusBar1_Panel1"));
    second->setFixedWidth(kSecondPanelWidth);
    statusBar_->addWidget(second);
    companyPanel_ = new QLabel(statusBar_);
    companyPanel_->setObjectName(QStringLiteral("CompanyRegisterPanel"));
    companyPanel_->hide();
    statusBar_->addPermanentWidget(companyPanel_);
    // The notice takes a line of its own above the status bar, wrapped to the
    // window's width: beside the panels it had 150 px and was cut off.
    notice_ = new QLabel(centralWidget());
    notice_->setObjectName(QStringLiteral("NoticeLabel"));
    notice_->setTextFormat(Qt::RichText);
    notice_->setWordWrap(true);
    notice_->setContentsMargins(6, 3, 6, 3);
    notice_->setStyleSheet(QStringLiteral("QLabel#NoticeLabel { background: #fff4c2; border-top: 1px solid #d8c77a; }"));
    notice_->hide();
    connect(notice_, &QLabel::linkActivated, this, [this] {
        if (openNotice_) openNotice_();
    });
    if (auto* central = qobject_cast<QVBoxLayout*>(centralWidget()->layout())) central->addWidget(notice_);

    progressBar_ = new QProgressBar(statusBar_);
    progressBar_->setObjectName(QStringLiteral("ProgressBar"));
    progressBar_->setTextVisible(true);  // blocks done and the time left
    progressBar_->setAlignment(Qt::AlignCenter);
    progressBar_->setGeometry(2, 4, kFirstPanelWidth - 4, 13);
    progressBar_->hide();
}

void MainWindow::setNotice(const QString& text, std::function<void()> open) {
    noticeMaker_ = nullptr;
    openNotice_ = std::move(open);
    notice_->setText(text);
    notice_->setVisible(!text.isEmpty());
}

void MainWindow::setNotice(std::function<QString(int)> make, std::function<void()> open) {
    const QString text = make(CurrentLanguage());
    setNotice(text, std::move(open));
    noticeMaker_ = std::move(make);
}

QString MainWindow::noticeText() const { return notice_->text(); }

void MainWindow::setCompanyStatus(std::function<QString(int)> make) {
    companyMaker_ = std::move(make);
    refreshCompanyStatus();
}

void MainWindow::refreshCompanyStatus() {
    const QString text = companyMaker_ ? companyMaker_(CurrentLanguage()) : QString();
    companyPanel_->setText(text);
    companyPanel_->setToolTip(text);  // whole, where the fixed window cuts a long reason short
    companyPanel_->setVisible(!text.isEmpty());
    // The fixed window leaves 150 px beside the first panel: the first panel
    // (and the progress bar in it) gives the company register's text the
    // room it needs, keeping enough for the probe's and the transfers' texts.
    constexpr int kLeastFirstPanelWidth = 380;
    constexpr int kStatusMargins = 24;
    const int need = text.isEmpty() ? 0 : companyPanel_->fontMetrics().horizontalAdvance(text) + kStatusMargins;
    const int first = std::clamp(kWindowWidth - kSecondPanelWidth - need, kLeastFirstPanelWidth, kFirstPanelWidth);
    statusPanel_->setFixedWidth(first);
    progressBar_->setGeometry(2, 4, first - 4, 13);
}

QString MainWindow::companyStatusText() const { return companyPanel_->isHidden() ? QString() : companyPanel_->text(); }

void MainWindow::setStatusText(const QString& text) {
    statusMaker_ = nullptr;
    statusPanel_->setText(text);
    statusPanel_->setToolTip(text);  // the whole text where the panel cuts it
}

void MainWindow::setStatus(std::function<QString(int)> make) {
    statusMaker_ = std::move(make);
    statusPanel_->setText(statusMaker_(CurrentLanguage()));
    statusPanel_->setToolTip(statusPanel_->text());
}

QString MainWindow::statusText() const { return statusPanel_->text(); }

}  // namespace kelvane::shell
