#include "diagnostics/diagnostics.h"

#include "files/program_log.h"
#include "files/trace_store.h"
#include "link/trace_mask.h"
#include "link/traced_line.h"
#include "session/device_port.h"

#include <QStandardPaths>
#include <QString>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

namespace kelvane::diagnostics {
namespace {

std::mutex& tracingMutex() {
    static std::mutex m;
    return m;
}

std::optional<Tracing>& currentTracing() {
    static std::optional<Tracing> t;
    return t;
}

std::unique_ptr<ProgramLog>& programLog() {
    static std::unique_ptr<ProgramLog> log;
    return log;
}

QtMessageHandler previousHandler = nullptr;

void logQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const char* level = type == QtWarningMsg    ? "warning"
                        : type == QtCriticalMsg ? "error"
                        : type == QtFatalMsg    ? "fatal"
                                                : nullptr;
    if (level) logProblem(level, text.toStdString());
    if (previousHandler) previousHandler(type, context, text);
}

#ifdef __linux__
// The first line of a small system file, without its line end.
std::string firstLine(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    if (in) std::getline(in, line);
    if (line.size() > 200) line.resize(200);
    return line;
}
#endif

}  // namespace

std::string programFolder(const std::string& program) {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return (data + QStringLiteral("/Kelvane/") + QString::fromStdString(program)).toStdString();
}

std::string traceFolder(const std::string& program) { return programFolder(program) + "/traces"; }

std::string flashBackupFolder() { return programFolder("Orva_Upgrade") + "/backups"; }

std::string logPath(const std::string& program) { return traceFolder(program) + "/" + program + ".log"; }

void setTracing(Tracing tracing) {
    std::lock_guard<std::mutex> lock(tracingMutex());
    currentTracing() = std::move(tracing);
    session::setLineWrapper(tracedLine);
}

void stopTracing() {
    std::lock_guard<std::mutex> lock(tracingMutex());
    currentTracing().reset();
}

std::unique_ptr<link::Line> tracedLine(std::unique_ptr<link::Line> line) {
    std::optional<Tracing> t;
    {
        std::lock_guard<std::mutex> lock(tracingMutex());
        t = currentTracing();
    }
    if (!t) return line;
    // The stored trace is masked as it is written: the folder keeps no
    // secret. A file named by the technician takes every byte as it passed.
    struct Outputs {
        std::shared_ptr<PrivateFile> file;
        std::shared_ptr<PrivateFile> stored;
        link::TraceMasker masker;
        ~Outputs() {
            if (stored) stored->write(masker.finish());
        }
    };
    auto outputs = std::make_shared<Outputs>();
    outputs->file = t->file;
    std::string storedPath;
    if (t->store) {
        const TraceStore store{traceFolder(t->program)};
        storedPath = store.newTracePath(traceStamp(), t->program);
        outputs->stored = std::make_shared<PrivateFile>();
        if (storedPath.empty() || !outputs->stored->open(storedPath)) {
            logProblem("warning", "no trace: cannot write in " + store.folder);
            outputs->stored.reset();
        }
    }
    if (!outputs->file && !outputs->stored) return line;
    // Each event reaches the system at once, so a crash or a pulled cable
    // leaves the trace complete up to that moment (the stored one up to the
    // frames still being placed).
    link::TraceOutput output = [outputs](const std::string& text) {
        const bool toFile = outputs->file && outputs->file->write(text);
        bool toStore = false;
        if (outputs->stored) {
            const std::string masked = outputs->masker.add(text);
            toStore = masked.empty() ? !outputs->stored->failed() : outputs->stored->write(masked);
        }
        return toFile || toStore;
    };
    auto traced = std::make_unique<link::TracedLine>(std::move(line), std::move(output), t->program + " " + t->version);
    const std::string where = storedPath.empty() ? std::string() : " (trace " + storedPath + ")";
    traced->setSessionLog([where](const std::string& text) { logProblem("info", text + where); });
    return traced;
}

void installProgramLog(const std::string& program) {
    {
        std::lock_guard<std::mutex> lock(tracingMutex());
        if (!makePrivateFolder(traceFolder(program))) return;
        programLog() = std::make_unique<ProgramLog>(logPath(program));
    }
    QtMessageHandler previous = qInstallMessageHandler(logQtMessage);
    if (previous != logQtMessage) previousHandler = previous;
}

void logProblem(const std::string& level, const std::string& text) {
    ProgramLog* log = nullptr;
    {
        std::lock_guard<std::mutex> lock(tracingMutex());
        log = programLog().get();
    }
    if (log) log->add(level, text);
}

AdapterDetails adapterDetails(const std::string& portName) {
    AdapterDetails d;
#ifdef __linux__
    namespace fs = std::filesystem;
    const std::string name = fs::path(portName).filename().string();
    if (name.empty() || name.find("..") != std::string::npos) return d;
    std::error_code error;
    const fs::path device = fs::path("/sys/class/tty") / name / "device";
    const fs::path driver = fs::read_symlink(device / "driver", error);
    if (!error) d.driver = driver.filename().string();
    for (const fs::path& timer :
         {device / "latency_timer", fs::path("/sys/bus/usb-serial/devices") / name / "latency_timer"}) {
        d.latencyTimer = firstLine(timer);
        if (!d.latencyTimer.empty()) break;
    }
#else
    (void)portName;
#endif
    return d;
}

}  // namespace kelvane::diagnostics
