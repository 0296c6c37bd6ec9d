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

std::string jsonCells(const std::vector<std::string>& cells) {
    std::vector<std::string> items;
    for (const std::string& cell : cells) items.push_back(jsonString(cell));
    return jsonArray(items, ", ");
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
    std::vector<std::string> settings;
    for (const auto& p : kelvane::parameterTable()) {
        const auto& state = w.controls.at(p.control);
        const std::string label = kelvane::texts::settingCaption(p, tool.language);
        const std::string value = kelvane::texts::settingValueText(p, state, tool.language);
        if (json)
            settings.push_back(JsonObject()
                                   .text("number", p.number)
                                   .text("control", p.control)
                                   .text("label", label)
                                   .text("value", value)
                                   .str());
        else
            tool.result(std::string(p.number) + "  " + label + ": " + value);
    }
    JsonObject tables(",", "\n  ");
    for (int g = 0; g < kelvane::kGridCount; ++g) {
        const auto id = static_cast<kelvane::GridId>(g);
        const kelvane::Grid& grid = w.grid(id);
        std::vector<std::string> headers;
        for (int c = 0; c < grid.columns(); ++c) headers.push_back(header(id, c, tool.language));
        std::vector<std::string> rows;
        for (int r = 1; r < grid.rowCount(); ++r) {
            const auto& row = grid.rows[static_cast<std::size_t>(r)];
            if (rowEmpty(row)) continue;
            if (json) {
                rows.push_back(jsonCells(row));
            } else {
                std::string line = std::string(kTableNames[g]) + " " + std::to_string(rows.size() + 1) + ":";
                for (std::size_t c = 0; c < row.size(); ++c) line += (c ? "; " : " ") + headers[c] + " " + row[c];
                tool.result(line);
                rows.emplace_back();
            }
        }
        if (json)
            tables.raw(kTableNames[g],
                       JsonObject().raw("columns", jsonCells(headers)).raw("rows", jsonArray(rows, ",", "\n    ")).str());
    }
    if (json) {
        tool.result(JsonObject(",\n ")
                        .text("file", path)
                        .text("description", file->description)
                        .raw("settings", jsonArray(settings, ",", "\n  "))
                        .raw("tables", tables.str())
                        .str());
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

}  // namespace

std::string changeListJson(const kelvane::ChangeList& changes, int language) {
    std::vector<std::string> settings, rows, bytes, blocks;
    for (const auto& s : changes.settings) {
        const auto& p = *s.parameter;
        settings.push_back(JsonObject()
                               .text("number", p.number)
                               .text("control", p.control)
                               .text("label", kelvane::texts::settingCaption(p, language))
                               .text("before", kelvane::texts::settingValueText(p, s.before, language))
                               .text("after", kelvane::texts::settingValueText(p, s.after, language))
                               .str());
    }
    for (const auto& r : changes.rows)
        rows.push_back(JsonObject()
                           .text("table", kTableNames[static_cast<int>(r.grid)])
                           .text("change", kRowKinds[static_cast<int>(r.kind)])
                           .raw("before", jsonCells(r.before))
                           .raw("after", jsonCells(r.after))
                           .str());
    for (const auto& b : changes.bytes)
        bytes.push_back(JsonObject()
                            .text("region", kRegions[static_cast<int>(b.region)])
                            .number("first", b.first)
                            .number("last", b.last)
                            .number("count", b.count)
                            .str());
    for (const int block : changes.blocks) blocks.push_back(std::to_string(block));
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", changes.uploadSeconds());
    return JsonObject(",\n ")
        .raw("settings", jsonArray(settings, ",", "\n  "))
        .raw("rows", jsonArray(rows, ",", "\n  "))
        .raw("bytes", jsonArray(bytes, ",", "\n  "))
        .raw("blocks", jsonArray(blocks, ", "))
        .raw("uploadSeconds", seconds)
        .str();
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
