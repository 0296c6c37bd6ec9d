// report: the visit report of a visit in the register, as a one-page PDF for
// the building manager; the register notes it with the visit.
#include "cli/building_register.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/json.h"

#include "jobs/visit_report.h"
#include "print/report_render.h"
#include "texts/file_texts.h"
#include "texts/report_text.h"

#include <cstdlib>
#include <iostream>

namespace kelvane::cli {

using kelvane::texts::ReportText;
using kelvane::texts::ToolText;

int reportCommand(const Tool& tool) {
    const std::string& serial = tool.args.positional[0];
    const std::string& visitText = tool.args.positional[1];
    char* end = nullptr;
    const long long visitId = std::strtoll(visitText.c_str(), &end, 10);
    if (visitText.empty() || *end != '\0' || visitId <= 0) {
        tool.error("", format(tool.text(ToolText::UsageError), "VISIT is a visit number, not " + visitText));
        return kUsage;
    }
    ToolRegister opened(tool);
    kelvane::registry::Register* reg = opened.get();
    if (!reg) {
        tool.error("", opened.why());
        return kFileError;
    }
    const auto found = kelvane::jobs::findController(*reg, serial);
    switch (found.fault) {
    case kelvane::jobs::LookupFault::None: break;
    case kelvane::jobs::LookupFault::NotAKey:
        tool.error("", format(tool.text(ToolText::UsageError), "SERIAL or ID/SERIAL, not " + serial));
        return kUsage;
    case kelvane::jobs::LookupFault::SeveralIds:
        tool.error("", format(tool.text(ToolText::UsageError), serial + ": several device IDs; give ID/SERIAL"));
        return kUsage;
    case kelvane::jobs::LookupFault::NotFound:
        tool.error("", format(tool.text(ToolText::NoSuchController), serial));
        return kFileError;
    }
    const auto gathered = kelvane::jobs::gatherVisitReport(*reg, found.controller->key, visitId);
    if (!gathered.report) {
        tool.error("", kelvane::texts::reportFaultText(gathered.fault, visitText, tool.language));
        return kFileError;
    }
    const auto codes = tool.args.has("--show-codes") ? kelvane::texts::CodeView::Shown : kelvane::texts::CodeView::Masked;
    const auto sheet = kelvane::texts::visitReportSheet(
        *gathered.report, tool.language, codes, kelvane::texts::parseStoredTime(kelvane::registry::now()), "kvtool");
    const std::string out = tool.args.value("--output");
    kelvane::ReportFit fit;
    if (auto fault = kelvane::WriteFault::None; !kelvane::WriteReportPdf(kelvane::pathFromUtf8(out), sheet, &fault, &fit)) {
        tool.error(out, kelvane::texts::writeFaultText(fault, tool.language));
        return kFileError;
    }
    // The report is written; a register that will not note it is said, not
    // a failure of the command.
    std::string why;
    const bool recorded =
        kelvane::jobs::recordReport(*reg, *gathered.report, kelvane::pathToUtf8(kelvane::pathFromUtf8(out)), {}, why);
    if (!recorded) tool.error("", format(kelvane::texts::reportText(ReportText::NotRecorded, tool.language), why));
    if (tool.args.has("--json")) {
        const auto& r = *gathered.report;
        tool.result(JsonObject()
                        .text("report", out)
                        .text("controller", kelvane::registry::keyText(r.controller.key))
                        .number("visit", r.visit.id)
                        .raw("previousVisit", r.previous ? std::to_string(r.previous->id) : "null")
                        .number("changes", static_cast<long long>(sheet.sections[0].lines.size()))
                        .number("warnings", static_cast<long long>(r.warnings.size()))
                        .flag("codesShown", codes == kelvane::texts::CodeView::Shown)
                        .number("linesLeftOut", fit.linesLeftOut)
                        .flag("recorded", recorded)
                        .str());
        return kDone;
    }
    tool.result(buildingName(found.controller->key, &*found.controller));
    tool.result(format(kelvane::texts::reportText(ReportText::Written, tool.language), out));
    return kDone;
}

}  // namespace kelvane::cli
