#pragma once
// The texts of field diagnostics in every language: the Tools menu, the
// support bundle, the line test and finding an adapter; and the line test's
// report made from them. Shared by the window and the command-line tool.
#include "link/line_test.h"
#include "link/port_info.h"

#include <string>
#include <vector>

namespace kelvane::texts {

enum class DiagnosticText {
    ToolsMenu,
    LineTestEntry,
    FindAdapterEntry,
    SupportBundleEntry,
    BundleContents,    // heading of the list of what goes in
    BundleSaved,       // "%s": the file
    BundleNotSaved,    // "%s": why
    BundleFilter,      // file dialog filter
    LineTestRunning,   // "%s": the port
    Adapter,           // "%s": the port's entry text
    AdapterNotListed,  // "%s": the port
    Driver,            // "%s"
    UsbNumbers,        // "%s": vid:pid
    LatencyTimer,      // "%s": ms
    LowLatencyOn,
    LowLatencyOff,
    LoopbackFound,  // "%d" bytes per pattern
    LoopbackPass,   // baud, sent, back, lost, changed, extra, then "%s" round trip
    NoLoopback,     // "%d" probes
    ProbeCounts,    // answers, probes, unanswered, then "%s" response time
    Timing,         // average, min, max (%.1f), count
    TimingNone,
    FindUnplug,
    FindPlugIn,
    FindFound,  // "%s": the port's entry text
    FindNothing,
    Next,
    Close,
    Save,
    Cancel,
    LineWorks,  // the line test's verdict, the line above its figures
    LineLosesBytes,
    NoController,
    Count  // not a text: how many there are
};
constexpr int kDiagnosticTextCount = static_cast<int>(DiagnosticText::Count);

const char* diagnosticText(DiagnosticText entry, int language);
// The name its row is written with: "DiagnosticText::ToolsMenu".
const char* textName(DiagnosticText entry);

// What the line test found, one line each, in a language: the verdict (none
// when the test was cancelled), then the figures with the language's decimal
// separator.
std::vector<std::string> lineTestReportLines(const link::LineTestReport& report, int language);
// The adapter behind a port: "Adapter: name – details; USB vid:pid; driver d"
// (port: as the system lists it, or nothing when it is not listed).
std::string adapterLine(const std::string& chosen, const link::PortInfo* port, const std::string& driver, int language);

}  // namespace kelvane::texts
