#pragma once
// What a program keeps for a technician to look at, or send, when the line
// misbehaves: a trace of every line session and a log of its warnings and
// errors, both in the program's data folder (<data>/Kelvane/<program>/traces,
// owner only), and what the system tells about a serial adapter.
#include "files/private_file.h"
#include "link/serial_line.h"

#include <memory>
#include <string>
#include <vector>

namespace kelvane::diagnostics {

// Programs whose traces, logs and settings a support bundle gathers.
inline const std::vector<std::string>& diagnosedPrograms() {
    static const std::vector<std::string> programs = {"KelvaneMini", "Orva_Upgrade", "kvtool"};
    return programs;
}

// <data>/Kelvane/<program> (on Linux ~/.local/share/Kelvane/<program>).
std::string programFolder(const std::string& program);
// Its traces folder: programFolder(program) + "/traces".
std::string traceFolder(const std::string& program);
// Where a firmware job keeps the configuration read before the flash, for
// Orva_Upgrade and kvtool alike: programFolder("Orva_Upgrade") + "/backups".
std::string flashBackupFolder();
// The program's log, beside its traces.
std::string logPath(const std::string& program);

struct Tracing {
    std::string program;  // as the program is called: KelvaneMini, kvtool...
    std::string version;
    bool store = true;                  // a new masked trace per session in traceFolder(program)
    std::shared_ptr<PrivateFile> file;  // and, when set, every session as it passed into this one file
};

// How lines opened from now on are traced (process-wide; off until set).
void setTracing(Tracing tracing);
// Makes lines opened from now on untraced.
void stopTracing();

// The line wrapped so that it writes its trace as set by setTracing(), and
// each opening's start and end in the program's log; the line itself when
// tracing is off or no trace can be made.
std::unique_ptr<link::Line> tracedLine(std::unique_ptr<link::Line> line);

// Sends the program's Qt warnings, criticals and fatals to its log (as well
// as wherever they went before).
void installProgramLog(const std::string& program);
// A line in the program's log; level "info", "warning" or "error".
void logProblem(const std::string& level, const std::string& text);

// What the system tells about a serial port beyond Qt's port list (Linux
// sysfs): the kernel driver and the adapter's latency timer. Empty where
// the system does not show them.
struct AdapterDetails {
    std::string driver;        // "ftdi_sio"
    std::string latencyTimer;  // "16" (ms)
};
AdapterDetails adapterDetails(const std::string& portName);

}  // namespace kelvane::diagnostics
