// show: every setting with its label and value as the window shows them, and
// every row of the four code tables; diff: what differs between two files.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/json.h"

#include "image/change_list.h"
#include "image/parameters.h"
#include "image/window_data.h"
#include "texts/change_text.h"

#include <cstdio>

namespace kelvane::cli {

using kelvane::texts::TargetKind;
using kelvane::texts::ToolText;
using kelvane::texts::windowEntries;

namespace {

const char* entryText(const std::string& target, TargetKind kind, int index, int language) {
    for (const auto& e : windowEntries())
        if (e.kind == kind && e.index == index && target == e.target) return e.text[language];
    return nullptr;
}

const char* const kTableNames[kelvane::kGridCount] = {"keys", "residents", "generalCodes", "digitizers"};

std::string header(kelvane::GridId id, int column, int language) {
    const char* t = entryText(kelvane::gridName(id), TargetKind::GridHeader, column, language);
    return t ? t : std::to_string(column);
}

bool rowEmpty(const kelvane::Grid::Row& row) {
    for (const auto& cell : row)
        if (!cell.empty()) return false;
    return true;
}

}  // namespace

int showCommand(const Tool& tool) {
    const std::string path = tool.args.positional[0];
    const auto file = loadImageFile(tool, path);
    if (!file) return kFileError;
    const kelvane::WindowData w = kelvane::showImage(file->image);
    const bool json = tool.args.has("--json");
    std::string out;
    if (json)
        out = "{\"file\": " + jsonString(path) + ",\n \"description\": " + jsonString(file->description) +
              ",\n \"settings\": [";
    bool first = true;
    for (const auto& p : kelvane::parameterTable()) {
        const auto& state = w.controls.at(p.control);
        const std::string label = kelvane::texts::settingCaption(p, tool.language);
        const std::string value = kelvane::texts::settingValueText(p, state, tool.language);
        if (json) {
            out += std::string(first ? "\n  " : ",\n  ") + "{\"number\": " + jsonString(p.number) +
                   ", \"control\": " + jsonString(p.control) + ", \"label\": " + jsonString(label) +
                   ", \"value\": " + jsonString(value) + "}";
        } else {
            tool.result(std::string(p.number) + "  " + label + ": " + value);
        }
        first = false;
    }
    if (json) out += "],\n \"tables\": {";
    for (int g = 0; g < kelvane::kGridCount; ++g) {
        const auto id = static_cast<kelvane::GridId>(g);
        const kelvane::Grid& grid = w.grid(id);
        std::vector<std::string> headers;
        for (int c = 0; c < grid.columns(); ++c) headers.push_back(header(id, c, tool.language));
        if (json) {
            out += std::string(g ? ",\n  " : "\n  ") + jsonString(kTableNames[g]) + ": {\"columns\": [";
            for (std::size_t c = 0; c < headers.size(); ++c) out += (c ? ", " : "") + jsonString(headers[c]);
            out += "], \"rows\": [";
        }
        int n = 0;
        for (int r = 1; r < grid.rowCount(); ++r) {
            const auto& row = grid.rows[static_cast<std::size_t>(r)];
            if (rowEmpty(row)) continue;
            ++n;
            if (json) {
                out += std::string(n > 1 ? ",\n    [" : "\n    [");
                for (std::size_t c = 0; c < row.size(); ++c) out += (c ? ", " : "") + jsonString(row[c]);
                out += "]";
            } else {
                std::string line = std::string(kTableNames[g]) + " " + std::to_string(n) + ":";
                for (std::size_t c = 0; c < row.size(); ++c) line += (c ? "; " : " ") + headers[c] + " " + row[c];
                tool.result(line);
            }
        }
        if (json) out += "]}";
    }
    if (json) {
        tool.result(out + "}}");
    } else {
        tool.result(std::string(kelvane::texts::groupCaption(kelvane::SettingsGroup::Description, tool.language)) +
                    ": " + file->description);
    }
    return kDone;
}

namespace {

const char* const kRowKinds[] = {"added", "removed", "changed"};
const char* const kRegions[] = {"free",      "hiddenValues", "reservedSettings", "keys",
                                "residents", "generalCodes", "digitizers"};

std::string jsonCells(const kelvane::Grid::Row& row) {
    std::string out = "[";
    for (std::size_t c = 0; c < row.size(); ++c) out += (c ? ", " : "") + jsonString(row[c]);
    return out + "]";
}

}  // namespace

std::string changeListJson(const kelvane::ChangeList& changes, int language) {
    std::string out = "{\"settings\": [";
    for (std::size_t i = 0; i < changes.settings.size(); ++i) {
        const auto& s = changes.settings[i];
        const auto& p = *s.parameter;
        out += std::string(i ? ",\n  " : "\n  ") + "{\"number\": " + jsonString(p.number) +
               ", \"control\": " + jsonString(p.control) +
               ", \"label\": " + jsonString(kelvane::texts::settingCaption(p, language)) +
               ", \"before\": " + jsonString(kelvane::texts::settingValueText(p, s.before, language)) +
               ", \"after\": " + jsonString(kelvane::texts::settingValueText(p, s.after, language)) + "}";
    }
    out += "],\n \"rows\": [";
    for (std::size_t i = 0; i < changes.rows.size(); ++i) {
        const auto& r = changes.rows[i];
        out += std::string(i ? ",\n  " : "\n  ") + "{\"table\": " + jsonString(kTableNames[static_cast<int>(r.grid)]) +
               ", \"change\": " + jsonString(kRowKinds[static_cast<int>(r.kind)]) +
               ", \"before\": " + jsonCells(r.before) + ", \"after\": " + jsonCells(r.after) + "}";
    }
    out += "],\n \"bytes\": [";
    for (std::size_t i = 0; i < changes.bytes.size(); ++i) {
        const auto& b = changes.bytes[i];
        out += std::string(i ? ",\n  " : "\n  ") + "{\"region\": " + jsonString(kRegions[static_cast<int>(b.region)]) +
               ", \"first\": " + std::to_string(b.first) + ", \"last\": " + std::to_string(b.last) +
               ", \"count\": " + std::to_string(b.count) + "}";
    }
    out += "],\n \"blocks\": [";
    for (std::size_t i = 0; i < changes.blocks.size(); ++i) out += (i ? ", " : "") + std::to_string(changes.blocks[i]);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", changes.uploadSeconds());
    return out + "],\n \"uploadSeconds\": " + seconds + "}";
}

int diffCommand(const Tool& tool) {
    const auto a = loadImageFile(tool, tool.args.positional[0]);
    if (!a) return kFileError;
    const auto b = loadImageFile(tool, tool.args.positional[1]);
    if (!b) return kFileError;
    const kelvane::ChangeList changes = kelvane::listChanges(a->image, b->image);
    if (tool.args.has("--json")) {
        tool.result(changeListJson(changes, tool.language));
    } else if (changes.empty()) {
        tool.result(tool.text(ToolText::NoChanges));
    } else {
        printChangeList(tool, a->image, b->image);
    }
    return changes.empty() ? kDone : kDifferences;
}

}  // namespace kelvane::cli
