#pragma once
// The controller's line as the device commands use it: the port a chosen
// name opens, the probe that names who answers, one transfer under Ctrl-C
// and the time limit, and the comparison of what a controller holds with a
// file.
#include "cli/tool_context.h"

#include "image/image.h"
#include "link/probe.h"
#include "session/device_session.h"

#include <optional>
#include <string>

namespace kelvane::cli {

// The port name the session opens: the platform's rule for a device, the
// built-in simulator for "sim".
std::string sessionPortName(const std::string& chosen);

// Who answers on the port: the probe a transfer begins with (8 bytes, under a
// second), so its visit is recorded under the controller's identity. Nothing
// when the port does not open or nothing answers; the transfer then finds out
// for itself.
std::optional<kelvane::link::ProbeReply> identify(const std::string& chosen);

// Runs one transfer on this thread: Ctrl-C cancels it as Esc does in the
// window (a download's read is cut at once, an upload stops before its next
// frame and closes the upload mode with the end frame), and so does the time
// limit, which then counts as a time-out.
struct TransferRun {
    kelvane::session::TransferReport report;
    bool overLimit = false;
};
TransferRun runTransfer(const Tool& tool, const kelvane::session::TransferRequest& request);

// Prints the comparison of what the controller holds with a file; kDone or kDifferences.
int compareWithFile(const Tool& tool, const std::string& file, const kelvane::Image& controller,
                    const kelvane::Image& wanted);

}  // namespace kelvane::cli
