#include "orva/upgrade_window.h"

#include "orva/job_texts.h"
#include "jobs/flash_visits.h"
#include "registry/key_store.h"
#include "link/net_port.h"
#include "link/port_info.h"
#include "diagnostics/diagnostics.h"
#include "texts/change_text.h"
#include "texts/job_text.h"
#include "texts/language_table.h"
#include "texts/upgrade_texts.h"
#include "texts/visit_texts.h"
#include "bootloader/firmware_image.h"

#include <QAbstractItemView>
#include <QAction>
#include <QInputDialog>
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
        // A key made in the own key file (no keychain answered): where it is, once.
        if (const auto made = registry::takeKeyMadeNote()) {
            QString text = QString::fromUtf8(
                kelvane::texts::toolText(kelvane::texts::ToolText::KeyMadeInFile, kelvane::texts::kPolish));
            text.replace(QLatin1String("%s"), QString::fromStdString(*made));
            qWarning("%s", qPrintable(text));
        }
        return reg;
    }
    why = reg->error();
    qWarning("The visit was not recorded in the register: %s", why.c_str());
    return nullptr;
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
    // A controller behind a network gateway: its address through the list's context menu.
    auto* remote = new QAction(utf8(kelvane::texts::upgrade::kRemotePort), portList_);
    connect(remote, &QAction::triggered, this, &UpgradeWindow::chooseRemotePort);
    portList_->addAction(remote);
    portList_->setContextMenuPolicy(Qt::ActionsContextMenu);

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
    // Gateways' ports: those named in this run and a remembered one, each its own device.
    QStringList remote = remotePorts_;
    const std::string remembered = memory_.load ? memory_.load() : std::string();
    if (link::isNetPortName(remembered) && !remote.contains(QString::fromStdString(remembered)))
        remote << QString::fromStdString(remembered);
    for (const QString& r : remote) {
        portList_->addItem(r, r);
        known.push_back({r.toStdString(), r.toStdString(), {}, {}, {}, false, {}});
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

void UpgradeWindow::chooseRemotePort() {
    if (running()) return;
    bool ok = false;
    const QString typed = QInputDialog::getText(this, utf8(kelvane::texts::upgrade::kRemotePort),
                                                utf8(kelvane::texts::upgrade::kRemotePortPrompt), QLineEdit::Normal,
                                                QStringLiteral("rfc2217://"), &ok)
                              .trimmed();
    if (!ok || typed.isEmpty()) return;
    if (!link::parseNetPort(typed.toStdString())) {
        QMessageBox::warning(this, utf8(kelvane::texts::upgrade::kRemotePort),
                             utf8(kelvane::texts::upgrade::kRemotePortRefused));
        return;
    }
    if (!remotePorts_.contains(typed)) remotePorts_ << typed;
    fillPortList(ports_ ? ports_() : QList<PortEntry>{}, typed);
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

bool UpgradeWindow::ask(const QString& title, const QString& text, const QString& details) {
    if (question_) return question_(title, text, details);
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    if (!details.isEmpty()) box.setDetailedText(details);
    return box.exec() == QMessageBox::Yes;
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
