// line-test and support-bundle: what a technician runs when the controller
// does not answer.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/interrupt.h"

#include "link/line_test.h"
#include "link/port.h"
#include "link/port_info.h"
#include "session/device_port.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/line_check.h"
#include "diagnostics/support_bundle.h"
#include "session/system_ports.h"
#include "texts/diagnostic_texts.h"

#include <atomic>
#include <memory>

namespace kelvane::cli {

namespace link = kelvane::link;
namespace session = kelvane::session;

namespace {

using kelvane::texts::DiagnosticText;

// The adapter behind a port as the system names it, and its latency settings.
void describeAdapter(const Tool& tool, const std::string& chosen, const diagnostics::LineCheck& check) {
    if (chosen == kSimPort) return;
    const auto text = [&](DiagnosticText t) { return std::string(kelvane::texts::diagnosticText(t, tool.language)); };
    tool.result(kelvane::texts::adapterLine(chosen, check.adapter ? &*check.adapter : nullptr, check.details.driver,
                                            tool.language));
    if (!check.details.latencyTimer.empty())
        tool.result(format(text(DiagnosticText::LatencyTimer), check.details.latencyTimer));
#ifdef __linux__
    if (check.opened)
        tool.result(text(check.lowLatency ? DiagnosticText::LowLatencyOn : DiagnosticText::LowLatencyOff));
#endif
}

}  // namespace

int lineTestCommand(const Tool& tool) {
    const auto port = requirePort(tool);
    if (!port) return kUsage;
    const std::string chosen = *port;
    const std::string name = link::PortName(chosen == kSimPort ? std::string(session::kSimulatorPortName) : chosen);
    std::atomic<bool> cancel{false};
    diagnostics::LineCheck check;
    {
        interrupt::Guard guard([&] { cancel = true; });
        check = diagnostics::checkLine(name, &cancel);
    }
    describeAdapter(tool, chosen, check);
    if (!check.opened) {
        tool.error(chosen, tool.text(kelvane::texts::Message::PortError));
        return kPortError;
    }
    const link::LineTestReport& report = check.report;

    int exit = kDone;
    for (const std::string& line : kelvane::texts::lineTestReportLines(report, tool.language)) tool.result(line);
    if (report.loopback) {
        for (const link::LoopbackPass& p : report.passes)
            if (!p.clean()) exit = kDifferences;
    } else if (report.answers == 0) {
        exit = kNoAnswer;
    } else if (report.answers < report.probes) {
        exit = kDifferences;
    }
    if (report.cancelled) {
        tool.error(chosen, tool.text(kelvane::texts::Message::TransferAborted));
        return kInterrupted;
    }
    return exit;
}

int supportBundleCommand(const Tool& tool) {
    const std::string file = tool.args.value("--output");
    diagnostics::BundleRequest request{"kvtool", KVTOOL_VERSION, std::nullopt, {}};
    if (tool.args.has("--image")) {
        const auto image = loadImageFile(tool, tool.args.value("--image"));
        if (!image) return kFileError;
        request.image = image->image;
        request.imageDescription = image->description;
    }
    const std::vector<diagnostics::BundleEntry> entries = diagnostics::supportBundleEntries(request);
    tool.result(kelvane::texts::diagnosticText(DiagnosticText::BundleContents, tool.language));
    for (const diagnostics::BundleEntry& e : entries)
        tool.result("  " + e.name + "\t" + std::to_string(e.content.size()));
    const std::string why = diagnostics::writeSupportBundle(file, entries);
    if (!why.empty()) {
        tool.error(file, format(kelvane::texts::diagnosticText(DiagnosticText::BundleNotSaved, tool.language), why));
        return kFileError;
    }
    tool.result(format(kelvane::texts::diagnosticText(DiagnosticText::BundleSaved, tool.language), file));
    return kDone;
}

}  // namespace kelvane::cli
