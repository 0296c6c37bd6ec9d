// register: the building register from the command line. list and show print
// text or JSON; name sets a building's name and address; diff lists what
// changed between two visits; export writes a visit's image as a data file.
#include "cli/building_register.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/json.h"

#include "files/data_file.h"

#include <map>

namespace kelvane::cli {

namespace registry = kelvane::registry;
using kelvane::texts::ToolText;

namespace {

std::string optionalNumber(const std::optional<int>& n) { return n ? std::to_string(*n) : "-"; }
std::string optionalJson(const std::optional<int>& n) { return n ? std::to_string(*n) : "null"; }
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

std::string controllerJson(const registry::Controller& c) {
    return "{\"id\": " + std::to_string(c.key.deviceId) + ", \"serialNumber\": " + std::to_string(c.key.serialNumber) +
           ", \"name\": " + jsonString(c.name) + ", \"address\": " + jsonString(c.address) +
           ", \"notes\": " + jsonString(c.notes) + ", \"firstSeen\": " + jsonString(c.firstSeen) +
           ", \"lastSeen\": " + jsonString(c.lastSeen) + ", \"firmware\": " + optionalJson(c.firmware) +
           ", \"visits\": " + std::to_string(c.visits) + "}";
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

}  // namespace

int registerCommand(const Tool& tool) {
    const auto& p = tool.args.positional;
    static const std::map<std::string, std::size_t> kArity = {
        {"list", 1}, {"show", 2}, {"name", 3}, {"diff", 4}, {"export", 3}};
    const auto arity = kArity.find(p[0]);
    if (arity == kArity.end() || p.size() != arity->second) {
        tool.error("", format(tool.text(ToolText::UsageError), std::string("register ") + tool.args.command->synopsis));
        return kUsage;
    }
    if (p[0] == "export" && tool.args.value("--output").empty()) {
        tool.error("", format(tool.text(ToolText::UsageError), "register export needs -o FILE.kvd"));
        return kUsage;
    }
    ToolRegister opened(tool);
    registry::Register* reg = opened.get();
    if (!reg) {
        tool.error("", opened.why());
        return kFileError;
    }
    const bool json = tool.args.has("--json");

    if (p[0] == "list") {
        const auto all = reg->controllers();
        std::string out = "[";
        for (const auto& c : all) {
            if (json) {
                out += std::string(out.size() > 1 ? ",\n " : "") + controllerJson(c);
                continue;
            }
            // One controller a line, tab-separated: ID/SERIAL, name, address,
            // visits, last seen, firmware ("-" for what is not known).
            tool.result(registry::keyText(c.key) + "\t" + field(c.name) + "\t" + field(c.address) + "\t" +
                        std::to_string(c.visits) + "\t" + c.lastSeen + "\t" + optionalNumber(c.firmware));
        }
        if (json) tool.result(out + "]");
        return kDone;
    }

    int exit = kDone;
    const auto c = findController(tool, *reg, p[1], &exit);
    if (!c) return exit;

    if (p[0] == "show") {
        const auto visits = reg->visits(c->key);
        if (json) {
            std::string out = controllerJson(*c);
            out.pop_back();
            out += ", \"visitList\": [";
            for (std::size_t i = 0; i < visits.size(); ++i) {
                const auto& v = visits[i];
                out += std::string(i ? ",\n  " : "\n  ") + "{\"visit\": " + std::to_string(v.id) +
                       ", \"time\": " + jsonString(v.time) + ", \"kind\": " + jsonString(registry::kindName(v.kind)) +
                       ", \"technician\": " + jsonString(v.technician) + ", \"port\": " + jsonString(v.port) +
                       ", \"outcome\": " + jsonString(v.outcome) + ", \"firmware\": " + optionalJson(v.firmware) +
                       ", \"image\": " + (v.hasImage ? "true" : "false") + ", \"changes\": " + optionalJson(v.changes) +
                       "}";
            }
            tool.result(out + "]}");
            return kDone;
        }
        tool.result(buildingName(c->key, &*c));
        if (!c->address.empty()) tool.result(c->address);
        if (!c->notes.empty()) tool.result(c->notes);
        // Then one visit a line, newest first, tab-separated: visit, time,
        // kind, technician, port, outcome, changes since the image before
        // ("-": no image or nothing to compare with).
        for (const auto& v : visits)
            tool.result(std::to_string(v.id) + "\t" + v.time + "\t" + registry::kindName(v.kind) + "\t" +
                        field(v.technician) + "\t" + field(v.port) + "\t" + v.outcome + "\t" +
                        (v.hasImage ? optionalNumber(v.changes) : "-"));
        return kDone;
    }

    if (p[0] == "name") {
        const std::string address = tool.args.has("--address") ? tool.args.value("--address") : c->address;
        if (!reg->describe(c->key, p[2], address)) {
            tool.error("", reg->error());
            return kFileError;
        }
        return kDone;
    }

    const auto first = visitImage(tool, *reg, *c, p[2]);
    if (!first) return kFileError;

    if (p[0] == "diff") {
        const auto second = visitImage(tool, *reg, *c, p[3]);
        if (!second) return kFileError;
        const ImageDifference d = compareImages(*first, *second);
        if (d.bytes == 0) {
            tool.result(tool.text(ToolText::NoChanges));
            return kDone;
        }
        printChangeList(tool, *first, *second);
        return kDifferences;
    }

    // export
    const std::string file = tool.args.value("--output");
    if (!kelvane::saveDataFileTo(file, *first, buildingName(c->key, &*c) + ", visit " + p[2])) {
        tool.error(file, tool.text(kelvane::texts::Message::SaveError));
        return kFileError;
    }
    if (!reg->recordSavedFile(file, *first, c->key, *first))
        tool.error("", format(tool.text(ToolText::VisitNotRecorded), reg->error()));
    tool.result(format(tool.text(ToolText::Saved), file));
    return kDone;
}

}  // namespace kelvane::cli
