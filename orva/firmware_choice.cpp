// Orva_Upgrade's firmware file: the default one in the working folder or the
// one chosen, what the window says of it (name, size, time, fingerprint), and
// its one check, made again at Start.
#include "orva/upgrade_window.h"

#include "orva/job_texts.h"
#include "bootloader/firmware_image.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSettings>

namespace kelvane::orva {

namespace {

QString utf8(const char* text) { return QString::fromUtf8(text); }

QSettings programSettings() { return QSettings(QStringLiteral("Kelvane"), QStringLiteral("Orva_Upgrade")); }

// A firmware file is a little over 120 KB; anything far larger is not one
// and is not read for its fingerprint.
constexpr qint64 kLargestHashed = 4 * 1024 * 1024;

// The file's name, size, modification time and SHA-256 (two lines of 32
// digits in a narrow face), as rich text.
QString describeFile(const QString& path) {
    const QFileInfo info(path);
    const QString name = info.fileName().toHtmlEscaped();
    if (!info.isFile()) return utf8(texts::kNoFileNamed).toHtmlEscaped() + name;
    QString text = QStringLiteral("<b>%1</b><br>%2 B \u00B7 %3")
                       .arg(name, QLocale(QLocale::Polish).toString(info.size()),
                            info.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    QString hash;
    QFile file(path);
    if (info.size() > kLargestHashed) {
        hash = utf8(texts::kFileTooLarge);
    } else if (file.open(QIODevice::ReadOnly)) {
        QCryptographicHash sha(QCryptographicHash::Sha256);
        sha.addData(file.read(kLargestHashed + 1));
        const QString hex = QString::fromLatin1(sha.result().toHex());
        hash = QStringLiteral("<span style=\"font-family:monospace; font-size:9px\">%1<br>%2</span>")
                   .arg(hex.left(32), hex.mid(32));
    }
    return text + QStringLiteral("<br>SHA-256:<br>") + hash;
}

}  // namespace

QString UpgradeWindow::firmwarePath() const {
    return chosenFile_.isEmpty() ? QDir::current().absoluteFilePath(QString::fromLatin1(bootloader::kFirmwareFileName))
                                 : chosenFile_;
}

void UpgradeWindow::showFirmwareInfo() {
    fileInfo_->setText(describeFile(firmwarePath()));
    fileInfo_->setToolTip(QDir::toNativeSeparators(firmwarePath()));
}

void UpgradeWindow::ChooseFile() {
    if (running()) return;
    QSettings settings = programSettings();
    const QString folder = settings.value(QString::fromLatin1(kFirmwareFolderKey), QDir::currentPath()).toString();
    const QString path =
        QFileDialog::getOpenFileName(this, utf8(texts::kChooseFileTitle), folder, utf8(texts::kFileFilter));
    if (path.isEmpty()) return;
    settings.setValue(QString::fromLatin1(kFirmwareFolderKey), QFileInfo(path).absolutePath());
    chooseFirmware(path);
}

bool UpgradeWindow::readChosenFirmware(const QString& path, bootloader::UpgradeState& state) {
    const bootloader::FirmwareFault fault = bootloader::readFirmwareFile(QFile::encodeName(path).toStdString(), state);
    if (fault == bootloader::FirmwareFault::None) return true;
    statusLine_->setText(utf8(bootloader::firmwareFileMissing(fault) ? texts::kNoFileNamed : texts::kBadFileNamed) +
                         QFileInfo(path).fileName());
    statusLine_->setToolTip(QDir::toNativeSeparators(path));
    return false;
}

bool UpgradeWindow::chooseFirmware(const QString& path) {
    if (running()) return false;
    // The same check as at Start, on a scratch state: a file that is not
    // firmware is refused now and the earlier choice stays.
    bootloader::UpgradeState scratch;
    if (!readChosenFirmware(path, scratch)) return false;
    chosenFile_ = QFileInfo(path).absoluteFilePath();
    statusLine_->clear();
    statusLine_->setToolTip(QString());
    showFirmwareInfo();
    return true;
}

}  // namespace kelvane::orva
