#pragma once
// The upgrade tool's one window: Start/Stop, the port list, the progress bar
// and the status line inside their "Port" and "Status" frames, around them
// the firmware job: the file and its fingerprint, whether to back the
// configuration up, a checklist of the job's steps above the progress bar,
// and after the job what the flash did to the configuration.
#include "orva/port_list.h"
#include "orva/upgrade_run.h"
#include "jobs/flash_job.h"
#include "bootloader/upgrade_state.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kelvane::orva {

class UpgradeWindow : public QWidget {
    Q_OBJECT
public:
    using PortSource = std::function<QList<PortEntry>()>;
    // A yes/no question: title, text, details (may be empty); true for yes.
    using Question = std::function<bool(const QString& title, const QString& text, const QString& details)>;

    // The outer size: the classic 255 x 280 grown downwards by the file,
    // the checklist and the change list.
    static constexpr int kOuterWidth = 255;
    static constexpr int kOuterHeight = 655;
    // Where the flash mark and the last firmware folder are kept (QSettings
    // of the organisation "Kelvane", application "Orva_Upgrade").
    static const char* const kFlashMarkKey;
    static const char* const kFirmwareFolderKey;

    // memory: where the last port that started a run is kept; at start the
    // list selects it when it is there, else (on Linux) the first USB
    // adapter, else the first entry.
    explicit UpgradeWindow(PortSource ports = systemPortEntries, PortFactory factory = defaultPort,
                           link::PortMemory memory = {}, QWidget* parent = nullptr);
    ~UpgradeWindow() override;

    QLineEdit* statusLine() const { return statusLine_; }
    QProgressBar* progressBar() const { return progressBar_; }
    QPushButton* startStopButton() const { return button_; }
    QComboBox* portList() const { return portList_; }
    QLabel* firmwareInfo() const { return fileInfo_; }
    QCheckBox* haveBackupBox() const { return haveBackup_; }
    QLabel* checklist() const { return checklist_; }
    QPlainTextEdit* changeList() const { return changes_; }
    QPushButton* restoreButton() const { return restoreButton_; }
    // A worker exists (the button reads "Stop").
    bool running() const;
    // The device the selected entry names; empty when none.
    QString selectedDevice() const;
    // The firmware file: the one chosen, else 4817_05.dat in the working folder.
    QString firmwarePath() const;
    // The last job's outcome (or its restore's).
    const std::optional<jobs::JobResult>& lastOutcome() const { return lastOutcome_; }

    // How the window asks; by default a message box. Tests answer themselves.
    void setQuestion(Question question) { question_ = std::move(question); }

public slots:
    void StartStop();
    // Uploads the backup of the last job again, after asking.
    void Restore();
    // "Wybierz plik…": the file dialog, then chooseFirmware().
    void ChooseFile();
    // Takes `path` as the firmware file when it is one; refuses it otherwise.
    bool chooseFirmware(const QString& path);
    // At start, and when the controller did not answer: after a job that
    // stopped halfway, asks to flash the controller again from its bootloader.
    void offerFlashAgain();
    // The change list in a window of its own, wide enough to read.
    void showChangeList();

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    class WindowView;
    struct StepLine {
        bool shown = false;  // started in this job
        int state = 0;       // jobs::StepState
        int percent = -1;    // while running with progress
        QString note;        // after the mark ("bez zmian")
    };
    // Fills the list; keeps the entry of `keep` selected when it is still
    // there, else selects the start port.
    void fillPortList(const QList<PortEntry>& ports, const QString& keep = QString());
    // Asks for a gateway's address (the list's context menu) and selects it.
    void chooseRemotePort();
    // Before the list drops down while no run goes: the system's ports again.
    void refreshPortList();
    void stopRun();
    void fitOuterSize();
    void StartStop(bool fromBootloader);
    bool startRun(const std::string& device, RunRequest request);
    RunRequest jobRequest(const QString& port, bool fromBootloader);
    void showFirmwareInfo();
    void resetChecklist();
    void showChecklist();
    void showOutcome(const jobs::JobResult& out, bool restore);
    bool ask(const QString& title, const QString& text, const QString& details = QString());
    // The chosen firmware file read into `state`; false (said in the status line) when it is refused.
    bool readChosenFirmware(const QString& path, bootloader::UpgradeState& state);
    // What differs between two configurations, as the change list says it.
    static QString changeText(const kelvane::Image& before, const kelvane::Image& after);

    void onStatusCleared(int run);
    void onStatusAppended(int run, const QString& text);
    void onStatusDetail(int run, const QString& text);
    void onProgressRange(int run, int low, int high);
    void onProgress(int run, int position);
    void onStep(int run, int step, int state);
    void onStepProgress(int run, int step, int position, int high);
    void onIdentified(int run, int id, int serial, int firmware, bool after);
    void onRunEnded(int run);

    PortSource ports_;
    PortFactory factory_;
    link::PortMemory memory_;
    QStringList remotePorts_;  // gateways' ports named in this run (rfc2217://...), listed as ports
    Question question_;
    bootloader::UpgradeState state_;
    std::unique_ptr<UpgradeRun> run_;
    int lastRunId_ = 0;
    int activeRunId_ = 0;  // updates of other runs are dropped
    QString chosenFile_;   // empty: the default file
    std::array<StepLine, 6> steps_;
    QString identity_;  // "ID: 7 Ser: 1234 FV: 259 (nowa: 106)"
    QString building_;  // the register's name for the controller
    int firmwareBefore_ = -1;
    std::optional<jobs::JobResult> lastOutcome_;
    std::string jobDevice_;  // the port of the last job, as opened and as listed
    QString jobPort_;

    QLineEdit* statusLine_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* button_ = nullptr;
    QGroupBox* statusFrame_ = nullptr;
    QGroupBox* portFrame_ = nullptr;
    QComboBox* portList_ = nullptr;
    QGroupBox* fileFrame_ = nullptr;
    QLabel* fileInfo_ = nullptr;
    QPushButton* chooseButton_ = nullptr;
    QCheckBox* haveBackup_ = nullptr;
    QLabel* checklist_ = nullptr;
    QPlainTextEdit* changes_ = nullptr;
    QPushButton* restoreButton_ = nullptr;
    QPushButton* showChangesButton_ = nullptr;
};

}  // namespace kelvane::orva
