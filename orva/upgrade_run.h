#pragma once
// One firmware job (or the restore of its backup) on its own thread. The
// thread opens the port, tells the window whether it opened (the window is
// busy for that moment), then runs the job: identify the controller, back its
// configuration up, flash, wait for it to come back, read the configuration
// again and compare. Everything it shows reaches the window as queued signals
// tagged with the run's number, so the window can drop what a stopped run
// still had in flight.
//
// The thread is a session::Worker, as for KelvaneMini's transfers: the port is
// created, used and closed on the run's thread (QSerialPort belongs to the
// thread that opens it); stop() only requests the stop, interrupts the line
// and waits for the thread, which by then sends nothing more and closes the
// port at once.
#include "session/worker.h"
#include "bootloader/bootloader_protocol.h"
#include "bootloader/stop_flag.h"
#include "jobs/flash_run.h"
#include "bootloader/upgrade_state.h"

#include <QObject>
#include <QString>

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>

namespace kelvane::orva {

// What a run talks through, made on the run's thread.
struct RunPort {
    std::shared_ptr<link::Line> line;
    std::shared_ptr<link::Clock> clock;
    std::shared_ptr<void> keep;  // anything else the line needs alive
};
using PortFactory = std::function<RunPort(const std::string& device, bootloader::StopFlag& stop)>;

// Real ports through QSerialPort; kSimulatorDevice through one simulated
// controller (configuration link and bootloader) on a virtual line in real
// time, kept for the program's run so a restore finds what the flash left.
// Either line leaves its trace in the program's traces folder.
RunPort defaultPort(const std::string& device, bootloader::StopFlag& stop);

// What a run does and what it leaves behind; the hooks run on the run's thread.
struct RunRequest {
    enum class Kind { Job, Restore } kind = Kind::Job;
    jobs::JobOptions options;
    jobs::JobResult restoreFrom;  // Restore: the job whose backup goes back
    // The backup folder, the register and the flash mark (identified is the run's own).
    jobs::FlashSetting setting;
};

class UpgradeRun : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Running, Failed, ThreadError };

    UpgradeRun(bootloader::UpgradeState& state, PortFactory factory, std::string device, int id, RunRequest request = {});
    ~UpgradeRun() override;

    int id() const { return id_; }
    const RunRequest& request() const { return request_; }
    // Starts the thread and waits until the port opened or did not.
    Outcome start();
    // True while the thread exists and has not finished.
    bool isRunning() const;
    // Ends the run at once: no byte and no update after this; the port is
    // closed when it returns.
    void stop();
    // Ends the backup's download; the job goes on without a backup.
    void skipBackup();
    // Waits for a run that ends by itself.
    void join();
    // What the job ended with, and whether it is in the register; valid
    // once runEnded arrived (or after join()).
    const jobs::FlashReport& report() const { return report_; }

signals:
    void statusCleared(int run);
    void statusAppended(int run, const QString& text);
    void statusDetailSet(int run, const QString& text);
    void progressRangeSet(int run, int low, int high);
    void progressSet(int run, int position);
    void stepChanged(int run, int step, int state);
    void stepProgressed(int run, int step, int position, int high);
    // The controller's probe answered: before the flash, or once it came back.
    void identified(int run, int id, int serial, int firmware, bool afterFlash);
    void runEnded(int run);  // the job ended by itself

private:
    class SignalView;
    void body();

    bootloader::UpgradeState& state_;
    PortFactory factory_;
    std::string device_;
    int id_;
    RunRequest request_;
    bootloader::StopFlag stop_;
    std::promise<bool> phaseA_;
    jobs::FlashReport report_;
    std::mutex jobMutex_;
    jobs::FlashRun* job_ = nullptr;  // while the job runs
    kelvane::session::Worker worker_;
};

}  // namespace kelvane::orva
