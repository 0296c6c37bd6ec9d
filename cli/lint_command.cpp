// lint: the configuration check's warnings for a data file.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/json.h"

#include "image/configuration_check.h"
#include "texts/configuration_warnings.h"

namespace kelvane::cli {

int lintCommand(const Tool& tool) {
    const std::string path = tool.args.positional[0];
    const auto file = loadImageFile(tool, path);
    if (!file) return kFileError;
    const std::vector<kelvane::Warning> warnings = kelvane::checkConfiguration(file->image);
    if (tool.args.has("--json")) {
        std::vector<std::string> items;
        for (const auto& w : warnings)
            items.push_back(JsonObject()
                                .text("kind", kelvane::warningKindId(w.kind))
                                .text("severity", kelvane::severityOf(w.kind) == kelvane::Severity::Info ? "info" : "warning")
                                .text("place", kelvane::texts::warningPlaceText(w, tool.language))
                                .text("text", kelvane::texts::warningText(w, tool.language))
                                .str());
        tool.result(jsonArray(items));
    } else {
        for (const auto& w : warnings)
            tool.result(std::string(kelvane::texts::severityText(kelvane::severityOf(w.kind), tool.language)) + " - " +
                        kelvane::texts::warningPlaceText(w, tool.language) + ": " +
                        kelvane::texts::warningText(w, tool.language));
    }
    // Information (a general code meant for every panel) is listed but does
    // not fail a script.
    for (const auto& w : warnings)
        if (kelvane::severityOf(w.kind) == kelvane::Severity::Warning) return kDifferences;
    return kDone;
}

}  // namespace kelvane::cli
