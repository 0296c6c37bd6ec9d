#include "orva/upgrade_window.h"

#include "bootloader/firmware_image.h"
#include "bootloader/upgrade_texts.h"

#include <QCloseEvent>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QWindow>

namespace kelvane::orva {

// The status line and progress bar as the window thread writes them.
class UpgradeWindow::WindowView : public bootloader::UpgradeView {
public:
    explicit WindowView(UpgradeWindow& w) : w_(w) {}
    void clearStatus() override {
        w_.statusLine_->clear();
        w_.statusLine_->setToolTip(QString());
    }
    void setStatusDetail(const std::string& utf8) override { w_.statusLine_->setToolTip(QString::fromStdString(utf8)); }
    void appendStatus(const std::string& utf8) override {
        w_.statusLine_->setText(w_.statusLine_->text() + QString::fromStdString(utf8));
    }
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

}  // namespace

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

    statusLine_ = place(new QLineEdit(this), "StatusLine", 30, 200, 190, 25);
    statusLine_->setReadOnly(true);
    statusLine_->setAlignment(Qt::AlignCenter);
    statusLine_->setFocusPolicy(Qt::NoFocus);

    progressBar_ = place(new QProgressBar(this), "ProgressBar", 30, 150, 190, 30);
    progressBar_->setTextVisible(false);
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);

    button_ = place(new QPushButton(QStringLiteral("Start"), this), "StartStop", 70, 30, 100, 30);
    statusFrame_ = place(new QGroupBox(QStringLiteral("Status"), this), "StatusFrame", 20, 120, 210, 120);
    portFrame_ = place(new QGroupBox(QStringLiteral("Port"), this), "PortFrame", 20, 65, 210, 50);
    portList_ = place(new PortListBox(this, [this] { refreshPortList(); }), "PortList", 80, 80, 80, 24);
    portList_->setMaxVisibleItems(12);  // the dropped-down list reaches about 300 pixels
    // The frames are drawn behind the controls they surround.
    statusFrame_->lower();
    portFrame_->lower();

    fillPortList(ports_ ? ports_() : QList<PortEntry>{});
    // The closed list tells what the selected port is, as the entries do.
    connect(portList_, &QComboBox::currentIndexChanged, this, [this](int i) {
        portList_->setToolTip(i < 0 ? QString() : portList_->itemData(i, Qt::ToolTipRole).toString());
    });
    portList_->setToolTip(portList_->currentData(Qt::ToolTipRole).toString());

    connect(button_, &QPushButton::clicked, this, &UpgradeWindow::StartStop);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.x() + s.width() / 2 - 125, s.y() + s.height() / 2 - 125);
    }
}

UpgradeWindow::~UpgradeWindow() { stopRun(); }

void UpgradeWindow::fillPortList(const QList<PortEntry>& ports, const QString& keep) {
    QList<PortEntry> sorted = ports;
    SortPortEntries(sorted);
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

void UpgradeWindow::StartStop() {
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
    if (!bootloader::LoadFirmwareImage(state_, view) || device.empty()) {
        // The file is looked up in the working folder, which a menu entry
        // chooses unseen: the tooltip names it.
        if (statusLine_->text() == QString::fromUtf8(bootloader::texts::kNoFile))
            statusLine_->setToolTip(QString::fromUtf8(bootloader::texts::kSearchedIn) +
                                    QDir::toNativeSeparators(QDir::currentPath()));
        button_->setText(QStringLiteral("Start"));
        return;
    }

    run_ = std::make_unique<UpgradeRun>(state_, factory_, device, ++lastRunId_);
    activeRunId_ = run_->id();
    connect(run_.get(), &UpgradeRun::statusCleared, this, &UpgradeWindow::onStatusCleared, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::statusAppended, this, &UpgradeWindow::onStatusAppended, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::statusDetailSet, this, &UpgradeWindow::onStatusDetail, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::progressRangeSet, this, &UpgradeWindow::onProgressRange, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::progressSet, this, &UpgradeWindow::onProgress, Qt::QueuedConnection);
    connect(run_.get(), &UpgradeRun::runEnded, this, &UpgradeWindow::onRunEnded, Qt::QueuedConnection);

    switch (run_->start()) {
    case UpgradeRun::Outcome::Running:
        if (memory_.store) memory_.store(portList_->currentText().toStdString());
        button_->setText(QStringLiteral("Stop"));
        return;
    case UpgradeRun::Outcome::Failed:
        // Phase A's message ("Port w użyciu", "Zły typ urządzenia!") is on its way.
        run_.reset();
        button_->setText(QStringLiteral("Start"));
        return;
    case UpgradeRun::Outcome::ThreadError:
        run_.reset();
        activeRunId_ = 0;
        bootloader::ShowStatus(view, bootloader::texts::kThreadError);
        button_->setText(QStringLiteral("Start"));
        return;
    }
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
    if (run == activeRunId_) progressBar_->setValue(position);
}

void UpgradeWindow::onRunEnded(int run) {
    if (run != activeRunId_) return;
    button_->setText(QStringLiteral("Start"));
    if (run_) {
        run_->join();
        run_.reset();
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

// The outer size, frame and caption included, is 255 x 280 wherever the
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
