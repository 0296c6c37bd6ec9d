#pragma once
// The upgrade tool's one window: Start/Stop, the port list, the progress bar
// and the status line inside their "Port" and "Status" frames.
#include "orva/port_list.h"
#include "orva/upgrade_run.h"
#include "bootloader/upgrade_state.h"

#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace kelvane::orva {

class UpgradeWindow : public QWidget {
    Q_OBJECT
public:
    using PortSource = std::function<QList<PortEntry>()>;

    static constexpr int kOuterWidth = 255;
    static constexpr int kOuterHeight = 280;

    // memory: where the last port that started a run is kept; at start the
    // list selects it when it is there, else (on Linux) the first USB
    // adapter, else the first entry.
    explicit UpgradeWindow(PortSource ports = SystemPorts, PortFactory factory = DefaultPort,
                           link::PortMemory memory = {}, QWidget* parent = nullptr);
    ~UpgradeWindow() override;

    QLineEdit* statusLine() const { return statusLine_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QPushButton* startStopButton() const { return button_; }
    QComboBox* portList() const { return portList_; }
    // A worker exists (the button reads "Stop").
    bool running() const;
    // The device the selected entry names; empty when none.
    QString selectedDevice() const;

public slots:
    void StartStop();

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    class WindowView;
    // Fills the list; keeps the entry of `keep` selected when it is still
    // there, else selects the start port.
    void fillPortList(const QList<PortEntry>& ports, const QString& keep = QString());
    // Before the list drops down while no run goes: the system's ports again.
    void refreshPortList();
    void stopRun();
    void fitOuterSize();

    void onStatusCleared(int run);
    void onStatusAppended(int run, const QString& text);
    void onStatusDetail(int run, const QString& text);
    void onProgressRange(int run, int low, int high);
    void onProgress(int run, int position);
    void onRunEnded(int run);

    PortSource ports_;
    PortFactory factory_;
    link::PortMemory memory_;
    bootloader::UpgradeState state_;
    std::unique_ptr<UpgradeRun> run_;
    int lastRunId_ = 0;
    int activeRunId_ = 0;  // updates of other runs are dropped

    QLineEdit* statusLine_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* button_ = nullptr;
    QGroupBox* statusFrame_ = nullptr;
    QGroupBox* portFrame_ = nullptr;
    QComboBox* portList_ = nullptr;
};

}  // namespace kelvane::orva
