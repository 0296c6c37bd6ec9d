// flat: the everyday jobs of a service visit on a data file - a resident
// moved out, a new resident, a lost key, a new general code.
#include "cli/building_register.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/json.h"

#include "image/flat_action_table.h"
#include "texts/file_texts.h"
#include "texts/flat_action_texts.h"

#include <cstdio>
#include <iostream>

namespace kelvane::cli {

using kelvane::FlatAction;
using kelvane::FlatRefusal;
using kelvane::FlatTarget;
using kelvane::texts::FlatText;
using kelvane::texts::ToolText;

namespace {

// "moved-out, new-resident, lost-key or general-code".
std::string actionWords() {
    std::string words;
    const auto& rows = kelvane::flatActions();
    for (std::size_t i = 0; i < rows.size(); ++i)
        words += (i == 0 ? "" : i + 1 == rows.size() ? " or " : ", ") + std::string(rows[i].word);
    return words;
}

// A typed code: digits only, else nothing (the action then refuses it as 0).
std::optional<int> typedCode(const Tool& tool, const char* option) {
    if (!tool.args.has(option)) return std::nullopt;
    const std::string text = tool.args.value(option);
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    return std::stoi(text);
}

// Refusals that name a malformed argument rather than a state of the file.
bool isUsage(FlatRefusal r) { return r == FlatRefusal::BadKeyText || r == FlatRefusal::BadCode; }

std::string codesJson(const kelvane::FlatActionResult& r) {
    JsonObject out;
    if (r.codes.open) {
        char four[8];
        std::snprintf(four, sizeof four, "%04d", *r.codes.open);
        out.text("open", four);
    }
    if (r.codes.main) out.text("main", std::to_string(*r.codes.main));
    if (r.codes.general) out.text("general", std::to_string(*r.codes.general));
    if (!r.codes.key.empty()) out.text("key", r.codes.key);
    return out.str();
}

}  // namespace

int flatCommand(const Tool& tool) {
    const std::string& word = tool.args.positional[0];
    const std::string& path = tool.args.positional[1];
    const std::string& what = tool.args.positional[2];
    const kelvane::FlatActionRow* entry = kelvane::findFlatAction(word);
    if (!entry) {
        tool.error("", format(tool.text(ToolText::UsageError), "flat takes " + actionWords() + ", not " + word));
        return kUsage;
    }
    std::optional<kelvane::FlatSlot> slot;
    if (entry->target == FlatTarget::Flat) {
        slot = kelvane::parseFlat(what);
        if (!slot) {
            tool.error("", format(tool.text(ToolText::UsageError),
                                  format(kelvane::texts::flatText(FlatText::BadFlat, tool.language), what)));
            return kUsage;
        }
    }
    const auto file = loadImageFile(tool, path);
    if (!file) return kFileError;
    kelvane::FlatRequest request;
    request.newMain = tool.args.has("--new-main");
    request.open = typedCode(tool, "--code");
    request.main = typedCode(tool, "--main-code");
    request.general = typedCode(tool, "--code");
    request.newKey = tool.args.value("--new-key");
    const kelvane::FlatActionResult r = kelvane::runFlatAction(file->image, entry->action, what, request);
    const std::string name = kelvane::texts::flatActionName(entry->action, tool.language);
    if (r.refusal != FlatRefusal::None) {
        tool.error(path, name + ": " + kelvane::texts::flatRefusalText(r.refusal, tool.language));
        return isUsage(r.refusal) ? kUsage : kFlatRefused;
    }
    const std::string out = tool.args.value("--output");
    if (auto fault = kelvane::WriteFault::None;
        !kelvane::saveDataFileTo(kelvane::pathFromUtf8(out), r.image, file->description, &fault)) {
        tool.error(out, kelvane::texts::writeFaultText(fault, tool.language));
        return kFileError;
    }
    ToolRegister(tool).editedFile(out, r.image, file->image);
    const auto lines = kelvane::texts::newCodeLines(r, slot ? kelvane::flatText(*slot) : std::string(), tool.language);
    if (tool.args.has("--json")) {
        tool.result(JsonObject()
                        .text("action", word)
                        .text("name", name)
                        .raw("codes", codesJson(r))
                        .number("keysRemoved", r.keysRemoved)
                        .text("saved", out)
                        .breakLine()
                        .raw("changes", changeListJson(r.changes, tool.language))
                        .str());
        return kDone;
    }
    tool.result(name + (slot ? " " + kelvane::flatText(*slot) : std::string()));
    printChangeList(tool, file->image, r.image, false);
    for (const std::string& line : lines) tool.result(line);
    tool.result(format(tool.text(ToolText::Saved), out));
    return kDone;
}

}  // namespace kelvane::cli
