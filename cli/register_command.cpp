// register: the building register from the command line. list and show print
// text or JSON; name sets a building's name and address, history lists the
// edits newer ones replaced; diff lists what changed between two visits;
// export writes a visit's image as a data file; server-setup and sync reach
// the company register.
#include "cli/building_register.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "registry/company_sync.h"

#include "files/data_file.h"
#include "texts/company_texts.h"
#include "texts/visit_texts.h"

#include <atomic>

namespace kelvane::cli {

namespace registry = kelvane::registry;
using kelvane::texts::ToolText;

namespace {

std::string optionalNumber(const std::optional<int>& n) { return n ? std::to_string(*n) : "-"; }
std::string orDash(const std::string& s) { return s.empty() ? "-" : s; }

// A field of a tab-separated line: its own tabs and line breaks shown as
// "\t", "\n" and "\r", so one controller stays one line of fields (other
// control characters are shown as every output line shows them).
std::string field(const std::string& s) {
    std::string out;
    for (const char c : orDash(s)) {
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

JsonObject controllerJson(const registry::Controller& c) {
    JsonObject o;
    o.number("id", c.key.deviceId).number("serialNumber", c.key.serialNumber).text("name", c.name);
    o.text("address", c.address).text("notes", c.notes).text("firstSeen", c.firstSeen).text("lastSeen", c.lastSeen);
    o.number("firmware", c.firmware).number("visits", c.visits);
    return o;
}

std::string visitJson(const registry::Visit& v) {
    JsonObject o;
    o.number("visit", v.id).text("time", v.time).text("kind", registry::kindName(v.kind));
    o.text("technician", v.technician).text("port", v.port).text("outcome", v.outcome).number("firmware", v.firmware);
    o.flag("image", v.hasImage).number("changes", v.changes);
    return o.str();
}

// The controller SERIAL (or ID/SERIAL) names; nothing after an error line.
std::optional<registry::Controller> findController(const Tool& tool, registry::Register& reg, const std::string& text,
                                                   int* exit) {
    int deviceId = 0;
    const auto key = registry::parseKey(text, &deviceId);
    *exit = kFileError;
    if (!key) {
        tool.error("", format(tool.text(ToolText::UsageError), "SERIAL or ID/SERIAL, not " + text));
        *exit = kUsage;
        return std::nullopt;
    }
    if (key->known() || text == "unknown") {
        if (auto c = reg.controller(*key)) return c;
    } else {
        // A serial number alone: the one controller that has it.
        std::vector<registry::Controller> found;
        for (auto& c : reg.controllers(std::to_string(key->serialNumber)))
            if (c.key.serialNumber == key->serialNumber && c.key.known()) found.push_back(c);
        if (found.size() == 1) return found[0];
        if (found.size() > 1) {
            tool.error("", format(tool.text(ToolText::UsageError), text + ": several device IDs; give ID/SERIAL"));
            *exit = kUsage;
            return std::nullopt;
        }
    }
    tool.error("", format(tool.text(ToolText::NoSuchController), text));
    return std::nullopt;
}

std::optional<kelvane::Image> visitImage(const Tool& tool, registry::Register& reg, const registry::Controller& c,
                                         const std::string& visit) {
    char* end = nullptr;
    const long long id = std::strtoll(visit.c_str(), &end, 10);
    if (!visit.empty() && *end == '\0' && id > 0)
        if (auto image = reg.visitImage(c.key, id)) return image;
    tool.error("", format(tool.text(ToolText::NoSuchVisit), visit));
    return std::nullopt;
}

// One subcommand: its name, its count of positional words (the name
// included), and what it does with the open register and the controller its
// second word names (nothing for commands that name none).
struct Subcommand {
    const char* name;
    std::size_t arity;
    bool opensRegister;
    bool namesController;
    int (*run)(const Tool& tool, registry::Register* reg, const registry::Controller* c);
};

int listControllers(const Tool& tool, registry::Register* r, const registry::Controller*) {
    registry::Register& reg = *r;
    std::vector<std::string> json;
    for (const auto& c : reg.controllers()) {
        if (tool.args.has("--json")) {
            json.push_back(controllerJson(c).str());
            continue;
        }
        // One controller a line, tab-separated: ID/SERIAL, name, address,
        // visits, last seen, firmware ("-" for what is not known).
        tool.result(registry::keyText(c.key) + "\t" + field(c.name) + "\t" + field(c.address) + "\t" +
                    std::to_string(c.visits) + "\t" + c.lastSeen + "\t" + optionalNumber(c.firmware));
    }
    if (tool.args.has("--json")) tool.result(jsonArray(json));
    return kDone;
}

int showController(const Tool& tool, registry::Register* r, const registry::Controller* c) {
    registry::Register& reg = *r;
    const auto visits = reg.visits(c->key);
    if (tool.args.has("--json")) {
        std::vector<std::string> list;
        for (const auto& v : visits) list.push_back(visitJson(v));
        tool.result(controllerJson(*c).raw("visitList", jsonArray(list, ",", "\n  ")).str());
        return kDone;
    }
    tool.result(buildingName(c->key, c));
    if (!c->address.empty()) tool.result(c->address);
    if (!c->notes.empty()) tool.result(c->notes);
    // Then one visit a line, newest first, tab-separated: visit, time,
    // kind, technician, port, outcome, changes since the image before
    // ("-": no image or nothing to compare with).
    for (const auto& v : visits)
        tool.result(std::to_string(v.id) + "\t" + v.time + "\t" + kelvane::texts::visitKindText(v.kind, tool.language) +
                    "\t" + field(v.technician) + "\t" + field(v.port) + "\t" +
                    kelvane::texts::outcomeText(v.outcome, tool.language) + "\t" +
                    (v.hasImage ? optionalNumber(v.changes) : "-"));
    return kDone;
}

int nameController(const Tool& tool, registry::Register* r, const registry::Controller* c) {
    registry::Register& reg = *r;
    const auto& p = tool.args.positional;
    const std::string address = tool.args.has("--address") ? tool.args.value("--address") : c->address;
    if (!reg.describe(c->key, p[2], address)) {
        tool.error("", reg.error());
        return kFileError;
    }
    return kDone;
}

int fieldHistory(const Tool& tool, registry::Register* r, const registry::Controller* c) {
    registry::Register& reg = *r;
    std::vector<std::string> json;
    // One replaced edit a line, newest first, tab-separated: field, what it
    // said, when and by whom it was written, when it was replaced.
    for (const auto& e : reg.fieldHistory(c->key)) {
        if (tool.args.has("--json")) {
            json.push_back(JsonObject()
                               .text("field", e.field)
                               .text("value", e.value)
                               .text("editedAt", e.editedAt)
                               .text("editedBy", e.editedBy)
                               .text("replacedAt", e.replacedAt)
                               .str());
            continue;
        }
        tool.result(e.field + "\t" + field(e.value) + "\t" + e.editedAt + "\t" + field(e.editedBy) + "\t" + e.replacedAt);
    }
    if (tool.args.has("--json")) tool.result(jsonArray(json));
    return kDone;
}

int diffVisits(const Tool& tool, registry::Register* r, const registry::Controller* c) {
    registry::Register& reg = *r;
    const auto& p = tool.args.positional;
    const auto first = visitImage(tool, reg, *c, p[2]);
    if (!first) return kFileError;
    const auto second = visitImage(tool, reg, *c, p[3]);
    if (!second) return kFileError;
    const ImageDifference d = compareImages(*first, *second);
    if (d.bytes == 0) {
        tool.result(tool.text(ToolText::NoChanges));
        return kDone;
    }
    printChangeList(tool, *first, *second);
    return kDifferences;
}

int exportVisit(const Tool& tool, registry::Register* r, const registry::Controller* c) {
    registry::Register& reg = *r;
    const auto& p = tool.args.positional;
    const auto image = visitImage(tool, reg, *c, p[2]);
    if (!image) return kFileError;
    const std::string file = tool.args.value("--output");
    if (!kelvane::saveDataFileTo(file, *image, buildingName(c->key, c) + ", visit " + p[2])) {
        tool.error(file, tool.text(kelvane::texts::Message::SaveError));
        return kFileError;
    }
    if (const std::string why = kelvane::jobs::recordSavedFile(reg, file, *image, {c->key, {}, *image}); !why.empty())
        tool.error("", format(tool.text(ToolText::VisitNotRecorded), why));
    tool.result(format(tool.text(ToolText::Saved), file));
    return kDone;
}

std::string countsJson(const registry::SyncCounts& c) {
    return JsonObject()
        .number("controllers", c.controllers)
        .number("visits", c.visits)
        .number("savedFiles", c.savedFiles)
        .number("images", c.images)
        .number("fieldEdits", c.fieldEdits)
        .number("withdrawn", c.withdrawn)
        .number("rows", c.rows)
        .number("bytes", c.bytes)
        .str();
}

std::optional<registry::ServerAddress> serverOf(const Tool& tool, const std::string& url) {
    registry::ServerReason why;
    const auto address = registry::parseServerUrl(url, nullptr, &why);
    if (!address)
        tool.error("", format(tool.text(ToolText::UsageError), kelvane::texts::serverReasonText(why, tool.language)));
    return address;
}

// Before a connection: what the user should know of the string.
void warnAbout(const Tool& tool, const registry::ServerAddress& address) {
    if (!address.verified()) tool.error("", format(tool.text(ToolText::ServerNotVerified), address.sslmode()));
}

int setupServer(const Tool& tool, registry::Register*, const registry::Controller*) {
    const auto address = serverOf(tool, tool.args.positional[1]);
    if (!address) return kUsage;
    warnAbout(tool, *address);
    const registry::SetupResult r = registry::setupServer(*address);
    for (const auto& step : r.done) tool.result(kelvane::texts::setupStepText(step, tool.language));
    if (r.ok) return kDone;
    tool.error("", kelvane::texts::serverReasonText(r.reason, tool.language));
    // A schema newer than this program's is refused; anything else is the
    // server not answering as asked.
    return r.reason.problem == registry::ServerProblem::SchemaNewer ? kRefused : kNoAnswer;
}

int syncRegister(const Tool& tool, registry::Register* reg, const registry::Controller*) {
    std::string url = tool.args.value("--server");
    if (url.empty()) url = registry::serverUrl().value_or("");
    if (url.empty()) {
        tool.error("", format(tool.text(ToolText::UsageError), "no company register set: register sync --server URL"));
        return kUsage;
    }
    const auto address = serverOf(tool, url);
    if (!address) return kUsage;
    const bool given = tool.args.has("--server");
    if (given && !address->secrets.empty()) tool.error("", tool.text(ToolText::ServerPasswordNotKept));
    warnAbout(tool, *address);
    std::atomic_bool cancel{false};
    const interrupt::Guard guard([&cancel] { cancel = true; });
    const registry::SyncResult r = registry::syncNow(*reg, *address, {}, &cancel);
    // The laptop's server becomes the one a sync finished with, never a mistyped one.
    if (given && r.ok) registry::setServerUrl(address->url());
    const int language = tool.language;
    if (tool.args.has("--json")) {
        tool.result(JsonObject()
                        .flag("ok", r.ok)
                        .text("problem", registry::problemCode(r.reason.problem))
                        .text("error", r.error)
                        .text("server", address->url())
                        .text("sslmode", address->sslmode())
                        .flag("verified", address->verified())
                        .raw("pushed", countsJson(r.pushed))
                        .raw("pulled", countsJson(r.pulled))
                        .raw("skipped", jsonArray(
                                            [&r] {
                                                std::vector<std::string> out;
                                                for (const auto& row : r.skipped)
                                                    out.push_back(jsonString(
                                                        kelvane::texts::skippedRowText(row, kelvane::texts::kEnglish)));
                                                return out;
                                            }(),
                                            ", "))
                        .number("skippedMore", r.skippedMore)
                        .text("resent", r.resent)
                        .text("finishedAt", r.finishedAt)
                        .str());
    } else if (r.ok || r.pushed.rows > 0 || r.pulled.rows > 0) {
        // What went each way; a sync that failed before anything travelled has nothing to count.
        tool.result(kelvane::texts::syncCountsText(r.pushed, true, language));
        tool.result(kelvane::texts::syncCountsText(r.pulled, false, language));
    }
    // Rows refused, and a server found gone back in time: said, the sync
    // went on.
    if (r.resend != registry::Resend::None) tool.error("", kelvane::texts::resendReasonText(r.resend, language));
    for (const auto& row : r.skipped) tool.error("", kelvane::texts::skippedRowText(row, language));
    if (r.skippedMore > 0) tool.error("", kelvane::texts::skippedMoreText(r.skippedMore, language));
    if (r.ok) return kDone;
    tool.error("", kelvane::texts::serverReasonText(r.reason, language));
    if (given) tool.error("", format(tool.text(ToolText::ServerNotKept), address->url()));
    return r.cancelled ? kInterrupted : kNoAnswer;
}

const Subcommand kSubcommands[] = {
    {"list", 1, true, false, listControllers},
    {"show", 2, true, true, showController},
    {"name", 3, true, true, nameController},
    {"history", 2, true, true, fieldHistory},
    {"diff", 4, true, true, diffVisits},
    {"export", 3, true, true, exportVisit},
    {"server-setup", 2, false, false, setupServer},
    {"sync", 1, true, false, syncRegister},
};

}  // namespace

int registerCommand(const Tool& tool) {
    const auto& p = tool.args.positional;
    const Subcommand* sub = nullptr;
    for (const auto& s : kSubcommands)
        if (p[0] == s.name && p.size() == s.arity) sub = &s;
    if (!sub) {
        tool.error("", format(tool.text(ToolText::UsageError), std::string("register ") + tool.args.command->synopsis));
        return kUsage;
    }
    if (p[0] == "export" && tool.args.value("--output").empty()) {
        tool.error("", format(tool.text(ToolText::UsageError), "register export needs -o FILE.kvd"));
        return kUsage;
    }
    if (!sub->opensRegister) return sub->run(tool, nullptr, nullptr);
    ToolRegister opened(tool);
    registry::Register* reg = opened.get();
    if (!reg) {
        tool.error("", opened.why());
        return kFileError;
    }
    if (!sub->namesController) return sub->run(tool, reg, nullptr);
    int exit = kDone;
    const auto c = findController(tool, *reg, p[1], &exit);
    if (!c) return exit;
    return sub->run(tool, reg, &*c);
}

}  // namespace kelvane::cli
