#include "orva/upgrade_window.h"

#include "orva/job_texts.h"
#include "jobs/flash_visits.h"
#include "link/port_info.h"
#include "diagnostics/diagnostics.h"
#include "texts/change_text.h"
#include "texts/job_text.h"
#include "texts/language_table.h"
#include "texts/upgrade_texts.h"
#include "texts/visit_texts.h"
#include "bootloader/firmware_image.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace kelvane::orva {

// The status line and progress bar as the window thread writes them.
class UpgradeWindow::WindowView : public bootloader::UpgradeReport {
public:
    explicit WindowView(UpgradeWindow& w) : w_(w) {}
    void showStatus(const bootloader::UpgradeStatus& status) override {
        last = status.message;
        w_.statusLine_->setText(QString::fromStdString(kelvane::texts::upgrade::statusText(status)));
        w_.statusLine_->setToolTip(QString());
    }
    std::optional<bootloader::UpgradeMessage> last;  // the last status shown
    void setProgressRange(int low, int high) override { w_.progressBar_->setRange(low, high); }
    void setProgress(int position) override { w_.progressBar_->setValue(position); }
    void runEnded() override { w_.button_->setText(QStringLiteral("Start")); }

private:
    UpgradeWindow& w_;
};

namespace {

// "MS Sans Serif" where the system has it; otherwise a face of about its
// width, so "Symulator" fits the 80-pixel port list (the usual wide fallback
// cuts it to "Symulato").
QFont controlFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

// The port list: looks at the system's ports again before it drops down.
class PortListBox : public QComboBox {
public:
    PortListBox(QWidget* parent, std::function<void()> beforePopup)
        : QComboBox(parent), beforePopup_(std::move(beforePopup)) {}
    void showPopup() override {
        if (beforePopup_) beforePopup_();
        QComboBox::showPopup();
    }

private:
    std::function<void()> beforePopup_;
};

template <typename W>
W* place(W* widget, const char* name, int x, int y, int width, int height) {
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(x, y, width, height);
    widget->setFont(controlFont());
    return widget;
}

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

QString changeText(const kelvane::Image& before, const kelvane::Image& after) {
    using namespace kelvane::texts;
    return QString::fromStdString(changeListText(describeChanges(kelvane::listChanges(before, after), kPolish)));
}

// The building register, opened on the job's thread, which also lets it go
// (a database connection belongs to the thread that made it); null with why
// when it cannot be (also a line in the program's log).
std::shared_ptr<registry::Register> openRegister(std::string& why) {
    if (!registry::Register::available()) return nullptr;
    auto reg = std::make_shared<registry::Register>();
    if (reg->open(registry::Register::defaultPath())) {
        jobs::KeyNote key;
        const std::string note =
            kelvane::texts::imagesLeftOutText(jobs::imagesLeftOut(*reg, &key), key, kelvane::texts::kPolish);
        if (!note.empty()) qWarning("%s", note.c_str());
        return reg;
    }
    why = reg->error();
    qWarning("The visit was not recorded in the register: %s", why.c_str());
    return nullptr;
}

// The building's name the register keeps for the controller; empty when it
// keeps none (or there is no register).
QString buildingName(int id, int serial) {
    namespace registry = kelvane::registry;
    if (!registry::Register::available()) return {};
    registry::Register reg;
    if (!reg.open(registry::Register::defaultPath())) return {};
    const auto controller = reg.controller(registry::ControllerKey{id, serial});
    return controller ? QString::fromStdString(controller->name).trimmed() : QString();
}

}  // namespace

const char* const UpgradeWindow::kFlashMarkKey = "Job/FlashingPort";
const char* const UpgradeWindow::kFirmwareFolderKey = "Job/FirmwareFolder";

UpgradeWindow::UpgradeWindow(PortSource ports, PortFactory factory, link::PortMemory memory, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      ports_(std::move(ports)),
      factory_(std::move(factory)),
      memory_(std::move(memory)) {
    setObjectName(QStringLiteral("BOOT"));
    setWindowTitle(QStringLiteral("Orva Kelvane BootLoader"));
    setFixedSize(kOuterWidth, kOuterHeight);
    setAttribute(Qt::WA_DeleteOnClose, false);

    // The classic controls keep their sizes; the file and the backup choice
    // come between the port and the status, the checklist above the
    // progress bar, the change list and the restore below the status.
    statusLine_ = place(new QLineEdit(this), "StatusLine", 30, 445, 190, 25);
    statusLine_->setReadOnly(true);
    statusLine_->setAlignment(Qt::AlignCenter);
    statusLine_->setFocusPolicy(Qt::NoFocus);

    progressBar_ = place(new QProgressBar(this), "ProgressBar", 30, 395, 190, 30);
    progressBar_->setTextVisible(false);
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);

    button_ = place(new QPushButton(QStringLiteral("Start"), this), "StartStop", 70, 30, 100, 30);
    statusFrame_ = place(new QGroupBox(QStringLiteral("Status"), this), "StatusFrame", 20, 260, 210, 225);
    portFrame_ = place(new QGroupBox(QStringLiteral("Port"), this), "PortFrame", 20, 65, 210, 50);
    portList_ = place(new PortListBox(this, [this] { refreshPortList(); }), "PortList", 80, 80, 80, 24);
    portList_->setMaxVisibleItems(12);  // the dropped-down list reaches about 300 pixels

    fileFrame_ = place(new QGroupBox(utf8(texts::kFirmwareFrame), this), "FileFrame", 20, 120, 210, 112);
    fileInfo_ = place(new QLabel(this), "FileInfo", 28, 136, 194, 64);
    fileInfo_->setTextFormat(Qt::RichText);
    fileInfo_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont small = controlFont();
    small.setPixelSize(10);
    fileInfo_->setFont(small);
    chooseButton_ = place(new QPushButton(utf8(texts::kChooseFile), this), "ChooseFile", 28, 203, 100, 22);
    haveBackup_ = place(new QCheckBox(utf8(texts::kHaveBackup), this), "HaveBackup", 24, 236, 206, 20);
    checklist_ = place(new QLabel(this), "Checklist", 30, 278, 190, 112);
    checklist_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    changes_ = place(new QPlainTextEdit(this), "ChangeList", 20, 492, 210, 92);
    changes_->setReadOnly(true);
    changes_->setFont(small);
    changes_->setFocusPolicy(Qt::NoFocus);
    restoreButton_ = place(new QPushButton(utf8(texts::kRestore), this), "RestoreConfiguration", 20, 590, 140, 24);
    restoreButton_->setEnabled(false);
    // The box is narrow: the whole list in a window of its own.
    showChangesButton_ = place(new QPushButton(utf8(texts::kShowChanges), this), "ShowChangeList", 164, 590, 66, 24);
    showChangesButton_->setEnabled(false);
    connect(changes_, &QPlainTextEdit::textChanged, this,
            [this] { showChangesButton_->setEnabled(!changes_->toPlainText().isEmpty()); });

    // The frames are drawn behind the controls they surround.
    statusFrame_->lower();
    portFrame_->lower();
    fileFrame_->lower();

    fillPortList(ports_ ? ports_() : QList<PortEntry>{});
    // The closed list tells what the selected port is, as the entries do.
    connect(portList_, &QComboBox::currentIndexChanged, this, [this](int i) {
        portList_->setToolTip(i < 0 ? QString() : portList_->itemData(i, Qt::ToolTipRole).toString());
    });
    portList_->setToolTip(portList_->currentData(Qt::ToolTipRole).toString());

    connect(button_, &QPushButton::clicked, this, [this] { StartStop(false); });
    connect(chooseButton_, &QPushButton::clicked, this, &UpgradeWindow::ChooseFile);
    connect(restoreButton_, &QPushButton::clicked, this, &UpgradeWindow::Restore);
    connect(showChangesButton_, &QPushButton::clicked, this, &UpgradeWindow::showChangeList);
    showFirmwareInfo();
    resetChecklist();
    // Once the window shows (and a test has set its question).
    QTimer::singleShot(0, this, &UpgradeWindow::offerFlashAgain);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.x() + s.width() / 2 - 125, std::max(s.y(), s.y() + s.height() / 2 - kOuterHeight / 2));
    }
}

UpgradeWindow::~UpgradeWindow() { stopRun(); }

void UpgradeWindow::fillPortList(const QList<PortEntry>& ports, const QString& keep) {
    QList<PortEntry> sorted = ports;
    sortPortEntries(sorted);
    const QSignalBlocker quiet(portList_);
    portList_->clear();
    std::vector<link::PortInfo> known;
    for (const PortEntry& e : sorted) {
        portList_->addItem(e.text, e.device);
        if (!e.details.isEmpty()) portList_->setItemData(portList_->count() - 1, e.details, Qt::ToolTipRole);
        known.push_back({e.text.toStdString(), e.device.toStdString(), {}, {}, {}, e.usb, {}});
    }
    // The simulated bootloader comes last, after the sorted system ports, so
    // the first system port is preselected; with no system port nothing is.
    portList_->addItem(QString::fromUtf8(kSimulatorEntry), QString::fromUtf8(kSimulatorDevice));
    int chosen = keep.isEmpty() ? -1 : portList_->findText(keep);
    if (chosen < 0) {
        const std::string start =
            link::startPort(memory_.load ? memory_.load() : std::string(), known, link::prefersUsbPort(),
                            [](const std::string& text) { return text == kSimulatorEntry; });
        chosen = start.empty() ? -1 : portList_->findText(QString::fromStdString(start));
    }
    if (chosen < 0) chosen = sorted.isEmpty() ? -1 : 0;
    portList_->setCurrentIndex(chosen);
    portList_->setToolTip(chosen < 0 ? QString() : portList_->itemData(chosen, Qt::ToolTipRole).toString());
    // Long device names stay readable in the dropped-down list.
    portList_->view()->setMinimumWidth(portList_->view()->sizeHintForColumn(0) + 8);
}

void UpgradeWindow::refreshPortList() {
    if (running()) return;
    fillPortList(ports_ ? ports_() : QList<PortEntry>{}, portList_->currentText());
}

QString UpgradeWindow::selectedDevice() const {
    const int i = portList_->currentIndex();
    return i < 0 ? QString() : portList_->itemData(i).toString();
}

bool UpgradeWindow::running() const { return run_ && run_->isRunning(); }

void UpgradeWindow::stopRun() {
    activeRunId_ = 0;  // whatever the stopped run still had in flight is dropped
    if (run_) {
        run_->stop();
        run_.reset();
    }
}

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

bool UpgradeWindow::ask(const QString& title, const QString& text, const QString& details) {
    if (question_) return question_(title, text, details);
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    if (!details.isEmpty()) box.setDetailedText(details);
    return box.exec() == QMessageBox::Yes;
}

void UpgradeWindow::resetChecklist() {
    steps_ = {};
    identity_.clear();
    building_.clear();
    firmwareBefore_ = -1;
    showChecklist();
}

void UpgradeWindow::showChecklist() {
    using jobs::JobStep;
    using jobs::StepState;
    QStringList lines{identity_};
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        const StepLine& l = steps_[i];
        const auto step = static_cast<JobStep>(i);
        if (step == JobStep::Restore && !l.shown) continue;
        QString line = QString::fromStdString(kelvane::texts::stepName(step, kelvane::texts::kPolish));
        if (l.shown) {
            const auto state = static_cast<StepState>(l.state);
            if (state == StepState::Running && l.percent >= 0) {
                line += QStringLiteral(" %1 %").arg(l.percent);
            } else {
                const QString word =
                    QString::fromStdString(kelvane::texts::stepStateWord(step, state, kelvane::texts::kPolish));
                line += (state == StepState::Skipped ? QStringLiteral(": ") : QStringLiteral(" ")) + word;
            }
            if (!l.note.isEmpty()) line += QLatin1Char(' ') + l.note;
        }
        lines << line;
    }
    checklist_->setText(lines.join(QLatin1Char('\n')));
}

RunRequest UpgradeWindow::jobRequest(const QString& port, bool fromBootloader) {
    RunRequest request;
    request.options.backup = !haveBackup_->isChecked();
    request.options.fromBootloader = fromBootloader;
    jobs::FlashSetting& setting = request.setting;
    setting.port = port.toStdString();
    setting.backupFolder = kelvane::diagnostics::flashBackupFolder();
    // Kept at once: a program that ends in the middle of a flash still
    // finds the mark at its next start.
    setting.flashMark = [port](bool flashing) {
        QSettings settings = programSettings();
        if (flashing)
            settings.setValue(QString::fromLatin1(kFlashMarkKey), port);
        else
            settings.remove(QString::fromLatin1(kFlashMarkKey));
        settings.sync();
    };
    if (registry::Register::available()) setting.openRegister = openRegister;
    return request;
}

void UpgradeWindow::offerFlashAgain() {
    const QString port = programSettings().value(QString::fromLatin1(kFlashMarkKey)).toString();
    if (port.isEmpty() || running()) return;
    if (!ask(utf8(texts::kHalfwayTitle), utf8(texts::kHalfway).arg(port))) return;
    const int entry = portList_->findText(port);
    if (entry >= 0) portList_->setCurrentIndex(entry);
    StartStop(true);
}

void UpgradeWindow::StartStop() { StartStop(false); }

void UpgradeWindow::StartStop(bool fromBootloader) {
    const std::string device = selectedDevice().toStdString();

    if (running()) {
        // Stop: the worker ends at once, the port is closed when stopRun()
        // returns, and the file is not read.
        stopRun();
        statusLine_->clear();
        button_->setText(QStringLiteral("Start"));
        return;
    }

    // Start. A run that ended by itself is released first; whatever it still
    // has queued for the window must not overwrite what this Start shows.
    activeRunId_ = 0;
    if (run_) {
        run_->join();
        run_.reset();
    }
    statusLine_->setToolTip(QString());
    WindowView view(*this);
    showFirmwareInfo();
    bool loaded = false;
    if (chosenFile_.isEmpty()) {
        loaded = bootloader::LoadFirmwareImage(state_, view);
        // The file is looked up in the working folder, which a menu entry
        // chooses unseen: the tooltip names it.
        if (!loaded && view.last == bootloader::UpgradeMessage::NoFile)
            statusLine_->setToolTip(QString::fromUtf8(kelvane::texts::upgrade::kSearchedIn) +
                                    QDir::toNativeSeparators(QDir::currentPath()));
    } else {
        loaded = readChosenFirmware(chosenFile_, state_);
    }
    if (!loaded || device.empty()) {
        button_->setText(QStringLiteral("Start"));
        return;
    }
    resetChecklist();
    changes_->clear();
    restoreButton_->setEnabled(false);
    lastOutcome_.reset();
    jobDevice_ = device;
    jobPort_ = portList_->currentText();
    startRun(device, jobRequest(jobPort_, fromBootloader));
}

void UpgradeWindow::Restore() {
    // To the port the job ran on, whatever the list shows now: the blocks
    // sent are those in which that controller differs from its backup.
    const std::string device = jobDevice_;
    if (running() || device.empty() || !lastOutcome_ || !lastOutcome_->backup || !lastOutcome_->now) return;
    const QString list = changeText(*lastOutcome_->now, *lastOutcome_->backup);
    if (!ask(QString::fromUtf8(
                 kelvane::texts::messageText(kelvane::texts::Message::UploadQuestionTitle, kelvane::texts::kPolish)),
             utf8(texts::kRestore) + QStringLiteral("?\n\n") + list))
        return;
    if (run_) {
        run_->join();
        run_.reset();
    }
    RunRequest request = jobRequest(jobPort_, false);
    request.kind = RunRequest::Kind::Restore;
    request.restoreFrom = *lastOutcome_;
    steps_[static_cast<std::size_t>(jobs::JobStep::Restore)] = {};
    restoreButton_->setEnabled(false);
    startRun(device, std::move(request));
}

bool UpgradeWindow::startRun(const std::string& device, RunRequest request) {
    run_ = std::make_unique<UpgradeRun>(state_, factory_, device, ++lastRunId_, std::move(request));
    activeRunId_ = run_->id();
    connect(run_.get(), &UpgradeRun::statusCleared, this, &UpgradeWindow::onStatusCleared, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::statusAppended, this, &UpgradeWindow::onStatusAppended, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::statusDetailSet, this, &UpgradeWindow::onStatusDetail, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::progressRangeSet, this, &UpgradeWindow::onProgressRange, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::progressSet, this, &UpgradeWindow::onProgress, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::stepChanged, this, &UpgradeWindow::onStep, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::stepProgressed, this, &UpgradeWindow::onStepProgress, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::identified, this, &UpgradeWindow::onIdentified, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::runEnded, this, &UpgradeWindow::onRunEnded, Qt::QueuedConnection);

    switch (run_->start()) {
    case UpgradeRun::Outcome::Running:
        if (memory_.store) memory_.store(portList_->currentText().toStdString());
        button_->setText(QStringLiteral("Stop"));
        return true;
    case UpgradeRun::Outcome::Failed:
        // The open's message ("Port w użyciu" and why) is on its way.
        run_.reset();
        button_->setText(QStringLiteral("Start"));
        return false;
    case UpgradeRun::Outcome::ThreadError:
        run_.reset();
        activeRunId_ = 0;
        statusLine_->setText(utf8(kelvane::texts::upgrade::kThreadError));
        button_->setText(QStringLiteral("Start"));
        return false;
    }
    return false;
}

void UpgradeWindow::onStep(int run, int step, int state) {
    if (run != activeRunId_ || step < 0 || step >= static_cast<int>(steps_.size())) return;
    StepLine& line = steps_[static_cast<std::size_t>(step)];
    line.shown = true;
    line.state = state;
    line.percent = -1;
    // A transfer's progress fills the bar as the flash's does; it starts empty.
    const auto started = static_cast<jobs::JobStep>(step);
    if (state == static_cast<int>(jobs::StepState::Running) &&
        (started == jobs::JobStep::Backup || started == jobs::JobStep::Verify || started == jobs::JobStep::Restore))
        progressBar_->setValue(progressBar_->minimum());
    showChecklist();
}

void UpgradeWindow::onStepProgress(int run, int step, int position, int high) {
    if (run != activeRunId_ || step < 0 || step >= static_cast<int>(steps_.size()) || high <= 0) return;
    StepLine& line = steps_[static_cast<std::size_t>(step)];
    line.shown = true;
    line.percent = position * 100 / high;
    progressBar_->setRange(0, high);
    progressBar_->setValue(position);
    showChecklist();
}

void UpgradeWindow::onIdentified(int run, int id, int serial, int firmware, bool after) {
    if (run != activeRunId_) return;
    if (!after || firmwareBefore_ < 0) {
        if (!after) firmwareBefore_ = firmware;
        building_ = buildingName(id, serial);
        if (!after && !building_.isEmpty()) changes_->setPlainText(utf8(texts::kBuilding) + building_);
    }
    // Both versions once the controller is back, so that a smaller number
    // does not read as a step back.
    const int before = firmwareBefore_ >= 0 ? firmwareBefore_ : firmware;
    // On a line of their own once both are known: the checklist is narrow.
    identity_ =
        QStringLiteral("ID: %1 Ser: %2").arg(id).arg(serial) +
        (after && firmware != before ? QStringLiteral("\n") : QStringLiteral(" ")) +
        QString::fromStdString(kelvane::texts::firmwareVersions(before, after ? firmware : -1, kelvane::texts::kPolish));
    showChecklist();
}

void UpgradeWindow::showOutcome(const jobs::JobResult& out, bool restore) {
    using jobs::JobEnd;
    using jobs::JobStep;
    constexpr int pl = kelvane::texts::kPolish;
    lastOutcome_ = out;
    StepLine& verify = steps_[static_cast<std::size_t>(restore ? JobStep::Restore : JobStep::Verify)];
    QStringList box;
    if (!building_.isEmpty()) box << utf8(texts::kBuilding) + building_;
    const char* status = nullptr;
    switch (out.end) {
    case JobEnd::Done:
        if (out.now) {
            verify.note = utf8(texts::kSame);
            box << utf8(restore ? texts::kConfigurationRestored : texts::kConfigurationSame);
        }
        break;
    case JobEnd::Changed:
        verify.note = utf8(texts::kChanged) + QString::number(out.changedBlocks.size());
        box << utf8(texts::kConfigurationChanged) << changeText(*out.backup, *out.now);
        break;
    case JobEnd::NoController: status = texts::kNoController; break;
    case JobEnd::LineBusy: status = texts::kLineBusy; break;
    case JobEnd::BackupFailed: status = texts::kBackupFailed; break;
    case JobEnd::NotBack: status = texts::kNotBack; break;
    case JobEnd::VerifyFailed: status = texts::kVerifyFailed; break;
    case JobEnd::RestoreFailed: status = texts::kRestoreFailed; break;
    case JobEnd::PortError: status = kelvane::texts::upgrade::kPortBusy; break;
    case JobEnd::FlashFailed:
    case JobEnd::Stopped: break;  // the bootloader's own message stays
    }
    // The failed step with its cause, then what to do next.
    if (const auto failed = out.failedStep(); failed && out.end != JobEnd::Stopped) {
        const QString line = QString::fromStdString(kelvane::texts::stepLine(*failed, out.step(*failed), pl));
        box << line;
        if (status) {
            statusLine_->setText(utf8(status));
            statusLine_->setToolTip(line);
        }
    } else if (status) {
        statusLine_->setText(utf8(status));
        statusLine_->setToolTip(QString());
    }
    if (out.end != JobEnd::Stopped) {
        const std::string next = kelvane::texts::nextStepText(out.next(), pl);
        if (!next.empty()) box << QString::fromStdString(next);
    }
    if (!restore && !out.backupPath.empty())
        box << utf8(texts::kBackupKept) + QDir::toNativeSeparators(QString::fromStdString(out.backupPath));
    changes_->setPlainText(box.join(QLatin1Char('\n')));
    restoreButton_->setEnabled(out.end == JobEnd::Changed && out.backup && out.now);
    showChecklist();
    // Silent after a flash that stopped halfway: it may sit in its bootloader.
    if (out.end == JobEnd::NoController) QTimer::singleShot(0, this, &UpgradeWindow::offerFlashAgain);
}

void UpgradeWindow::showChangeList() {
    QDialog dialog(this);
    dialog.setWindowTitle(utf8(texts::kChangeListTitle));
    auto* text = new QPlainTextEdit(changes_->toPlainText(), &dialog);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    buttons->button(QDialogButtonBox::Close)->setText(utf8(texts::kClose));
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dialog.resize(640, 420);
    dialog.exec();
}

void UpgradeWindow::keyPressEvent(QKeyEvent* event) {
    // Esc while the backup downloads: skip it, after asking.
    const StepLine& backup = steps_[static_cast<std::size_t>(jobs::JobStep::Backup)];
    if (event->key() == Qt::Key_Escape && running() && backup.shown &&
        backup.state == static_cast<int>(jobs::StepState::Running)) {
        const int run = activeRunId_;
        if (ask(utf8(texts::kSkipBackupTitle), utf8(texts::kSkipBackup)) && run_ && run == activeRunId_)
            run_->skipBackup();
        return;
    }
    QWidget::keyPressEvent(event);
}

void UpgradeWindow::onStatusCleared(int run) {
    if (run != activeRunId_) return;
    statusLine_->clear();
    statusLine_->setToolTip(QString());
}

void UpgradeWindow::onStatusDetail(int run, const QString& text) {
    if (run == activeRunId_) statusLine_->setToolTip(text);
}

void UpgradeWindow::onStatusAppended(int run, const QString& text) {
    if (run == activeRunId_) statusLine_->setText(statusLine_->text() + text);
}

void UpgradeWindow::onProgressRange(int run, int low, int high) {
    if (run == activeRunId_) progressBar_->setRange(low, high);
}

void UpgradeWindow::onProgress(int run, int position) {
    if (run != activeRunId_) return;
    progressBar_->setValue(position);
    // "Programowanie 42 %" beside the bar's blocks.
    StepLine& flash = steps_[static_cast<std::size_t>(jobs::JobStep::Flash)];
    const int span = progressBar_->maximum() - progressBar_->minimum();
    if (flash.state != static_cast<int>(jobs::StepState::Running) || span <= 0) return;
    const int percent = (position - progressBar_->minimum()) * 100 / span;
    if (percent == flash.percent) return;
    flash.percent = percent;
    showChecklist();
}

void UpgradeWindow::onRunEnded(int run) {
    if (run != activeRunId_) return;
    button_->setText(QStringLiteral("Start"));
    if (run_) {
        run_->join();
        const bool restore = run_->request().kind == RunRequest::Kind::Restore;
        const jobs::FlashReport report = run_->report();
        const QString notRecorded = QString::fromStdString(report.notRecorded);
        run_.reset();
        showOutcome(report.result, restore);
        if (!notRecorded.isEmpty()) changes_->appendPlainText(utf8(texts::kNotRecorded) + notRecorded);
    }
}

void UpgradeWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    fitOuterSize();
}

// A window manager tells the frame's size only once it has framed the window,
// which moves it; the size is fitted again then.
void UpgradeWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    fitOuterSize();
}

// The outer size, frame and caption included, is kOuterWidth x kOuterHeight wherever the
// window system tells its frame; the client area takes what is left.
void UpgradeWindow::fitOuterSize() {
    const QMargins m = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const QSize client(kOuterWidth - m.left() - m.right(), kOuterHeight - m.top() - m.bottom());
    if (size() != client || minimumSize() != client) setFixedSize(client);
}

void UpgradeWindow::closeEvent(QCloseEvent* event) {
    // Closing during a run ends it like Stop: nothing more is sent, the port
    // is released, and the program ends with its last window.
    stopRun();
    event->accept();
}

}  // namespace kelvane::orva
