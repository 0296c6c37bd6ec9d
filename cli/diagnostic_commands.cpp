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
#include "session/diagnostics.h"
#include "session/line_check.h"
#include "session/support_bundle.h"
#include "session/system_ports.h"

#include <atomic>
#include <cstdio>
#include <memory>

namespace kvtool {

namespace link = kelvane::link;
namespace session = kelvane::session;

namespace {

std::string ms(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", v);
    return text;
}

std::string timing(const link::Timing& t) {
    if (t.count == 0) return "none";
    return ms(t.averageMs) + " (min " + ms(t.minMs) + ", max " + ms(t.maxMs) + ", " + std::to_string(t.count) + " times)";
}

// The adapter behind a port as the system names it, and its latency settings.
void describeAdapter(const Tool& tool, const std::string& chosen, const session::LineCheck& check) {
    if (chosen == kSimPort) return;
    if (!check.adapter) {
        tool.result("adapter: " + chosen + " (not in the system's port list)");
    } else {
        const serial::PortInfo& p = *check.adapter;
        std::string text = "adapter: " + serial::portEntryText(p);
        if (!p.usbId.empty()) text += "; USB " + p.usbId;
        if (!check.details.driver.empty()) text += "; driver " + check.details.driver;
        tool.result(text);
    }
    if (!check.details.latencyTimer.empty()) tool.result("latency timer: " + check.details.latencyTimer + " ms");
#ifdef __linux__
    if (check.opened) tool.result(std::string("low latency: ") + (check.lowLatency ? "on" : "off (the driver refused it)"));
#endif
}

}  // namespace

int lineTestCommand(const Tool& tool) {
    if (!tool.args.has("--port") || tool.args.value("--port").empty()) {
        tool.error("", "line-test needs --port P");
        return kUsage;
    }
    const std::string chosen = tool.args.value("--port");
    const std::string name = link::PortName(chosen == kSimPort ? std::string(session::kSimulatorPortName) : chosen);
    std::atomic<bool> cancel{false};
    session::LineCheck check;
    {
        interrupt::Guard guard([&] { cancel = true; });
        check = session::checkLine(name, &cancel);
    }
    describeAdapter(tool, chosen, check);
    if (!check.opened) {
        tool.error(chosen, tool.text(kelvane::lang::Message::PortError));
        return kPortError;
    }
    const link::LineTestReport& report = check.report;

    int exit = kDone;
    if (report.loopback) {
        tool.result("loopback plug found: patterns of " + std::to_string(link::kPatternBytes) + " bytes sent");
        for (const link::LoopbackPass& p : report.passes) {
            tool.result(std::to_string(p.baud) + " baud: " + std::to_string(p.sent) + " sent, " +
                        std::to_string(p.received) + " back, " + std::to_string(p.lost) + " lost, " +
                        std::to_string(p.changed) + " changed, " + std::to_string(p.extra) + " extra; round trip " +
                        timing(p.roundTrip));
            if (!p.clean()) exit = kDifferences;
        }
    } else {
        tool.result("no loopback: the controller probed " + std::to_string(report.probes) + " times");
        tool.result("answers: " + std::to_string(report.answers) + " of " + std::to_string(report.probes) +
                    ", no answer: " + std::to_string(report.probes - report.answers) + "; response time " +
                    timing(report.answerTime));
        if (report.answers == 0)
            exit = kNoAnswer;
        else if (report.answers < report.probes)
            exit = kDifferences;
    }
    if (report.cancelled) {
        tool.error(chosen, tool.text(kelvane::lang::Message::TransferAborted));
        return kInterrupted;
    }
    return exit;
}

int supportBundleCommand(const Tool& tool) {
    const std::string file = tool.args.value("--output");
    session::BundleRequest request{"kvtool", KVTOOL_VERSION, std::nullopt, {}};
    if (tool.args.has("--image")) {
        const auto image = loadImageFile(tool, tool.args.value("--image"));
        if (!image) return kFileError;
        request.image = image->image;
        request.imageDescription = image->description;
    }
    const std::vector<session::BundleEntry> entries = session::supportBundleEntries(request);
    for (const session::BundleEntry& e : entries) tool.result(e.name + "\t" + std::to_string(e.content.size()) + " bytes");
    const std::string why = session::writeSupportBundle(file, entries);
    if (!why.empty()) {
        tool.error(file, why);
        return kFileError;
    }
    tool.result(format(tool.text(kelvane::lang::ToolText::Saved), file));
    return kDone;
}

}  // namespace kvtool
