#pragma once
// The line test on a named port, with what the system tells about the
// adapter behind it: the window's Tools → Line test and kvtool line-test.
#include "link/line_test.h"
#include "link/port_info.h"
#include "link/open_failure.h"
#include "diagnostics/diagnostics.h"

#include <atomic>
#include <optional>
#include <string>

namespace kelvane::diagnostics {

struct LineCheck {
    bool opened = false;
    link::OpenFailure failure = link::OpenFailure::None;
    std::optional<link::PortInfo> adapter;  // as the system lists the port
    AdapterDetails details;                 // driver, latency timer (Linux)
    bool lowLatency = false;                // the driver's low-latency flag was on during the test
    link::LineTestReport report;
};

// Opens the port (portName as link::PortName() gives it; the built-in
// simulator too), runs the line test and closes it, on the calling thread
// (a few seconds; cancel, which may be null, ends it between steps). The
// line is traced like every other.
LineCheck checkLine(const std::string& portName, const std::atomic<bool>* cancel = nullptr);

}  // namespace kelvane::diagnostics
