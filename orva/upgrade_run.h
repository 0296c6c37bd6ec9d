#pragma once
// One upgrade run on its own thread. The thread opens the port, runs phase A
// while the window waits for its outcome (the window is busy for that time,
// up to about 1.5 s), then goes on as the worker. Everything it shows reaches
// the window as queued signals tagged with the run's number, so the window
// can drop what a stopped run still had in flight.
//
// The thread is a session::Worker, as for KelvaneMini's transfers: the port is
// created, used and closed on the run's thread (QSerialPort belongs to the
// thread that opens it); stop() only requests the stop, interrupts the line
// and waits for the thread, which by then sends nothing more and closes the
// port at once.
#include "session/worker.h"
#include "bootloader/bootloader_protocol.h"
#include "bootloader/stop_flag.h"
#include "bootloader/upgrade_state.h"

#include <QObject>
#include <QString>

#include <functional>
#include <future>
#include <memory>
#include <string>

namespace kelvane::orva {

// What a run talks through, made on the run's thread.
struct RunPort {
    std::shared_ptr<link::Line> line;
    std::shared_ptr<link::Clock> clock;
    std::shared_ptr<void> keep;  // anything else the line needs alive
};
using PortFactory = std::function<RunPort(const std::string& device, bootloader::StopFlag& stop)>;

// Real ports through QSerialPort; kSimulatorDevice through the simulated
// bootloader on a virtual line in real time.
RunPort DefaultPort(const std::string& device, bootloader::StopFlag& stop);

class UpgradeRun : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Running, Failed, ThreadError };

    UpgradeRun(bootloader::UpgradeState& state, PortFactory factory, std::string device, int id);
    ~UpgradeRun() override;

    int id() const { return id_; }
    // Starts the thread and waits for the end of phase A.
    Outcome start();
    // True while the thread exists and has not finished.
    bool isRunning() const;
    // Ends the run at once: no byte and no update after this; the port is
    // closed when it returns.
    void stop();
    // Waits for a run that ends by itself.
    void join();

signals:
    void statusCleared(int run);
    void statusAppended(int run, const QString& text);
    void statusDetailSet(int run, const QString& text);
    void progressRangeSet(int run, int low, int high);
    void progressSet(int run, int position);
    void runEnded(int run);  // the worker ended by itself

private:
    class SignalView;
    void body();

    bootloader::UpgradeState& state_;
    PortFactory factory_;
    std::string device_;
    int id_;
    bootloader::StopFlag stop_;
    std::promise<bool> phaseA_;
    kelvane::session::Worker worker_;
};

}  // namespace kelvane::orva
