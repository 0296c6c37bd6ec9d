// show: every setting with its label and value as the window shows them, and
// every row of the four code tables; diff: what differs between two files.
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/image_files.h"
#include "cli/json.h"

#include "image/parameters.h"
#include "image/window_data.h"

#include <cstring>

namespace kvtool {

using kelvane::lang::TargetKind;
using kelvane::lang::ToolText;
using kelvane::lang::windowEntries;

namespace {

const char* entryText(const std::string& target, TargetKind kind, int index, int language) {
    for (const auto& e : windowEntries())
        if (e.kind == kind && e.index == index && target == e.target) return e.text[language];
    return nullptr;
}

// The caption the window puts beside a setting: its own (check box, radio
// group, labelled edit), else the label above it, else its group's.
std::string settingLabel(const kelvane::Parameter& p, int language) {
    for (const char* target : {p.control, p.edit, p.label, p.group}) {
        if (!target) continue;
        for (const auto& e : windowEntries()) {
            if (target != std::string(e.target)) continue;
            if (e.kind == TargetKind::ComboItem || e.kind == TargetKind::RadioButton ||
                e.kind == TargetKind::GridHeader)
                continue;
            return e.text[language];
        }
    }
    return p.number;
}

std::string settingValue(const kelvane::Parameter& p, const kelvane::ControlState& c, const Tool& tool) {
    using K = kelvane::ControlKind;
    switch (p.kind) {
    case K::UpDown:
    case K::TrackBar: return std::to_string(c.value);
    case K::CheckBox:
    case K::BitCheck: return tool.text(c.value ? ToolText::Yes : ToolText::No);
    case K::MaskEdit: return c.text;
    case K::ComboBox:
    case K::RadioGroup: {
        if (c.value < 0) return std::string();
        const auto kind = p.kind == K::ComboBox ? TargetKind::ComboItem : TargetKind::RadioButton;
        if (const char* t = entryText(p.control, kind, c.value, tool.language)) return t;
        const auto& items = kelvane::itemTexts(p.items);
        return c.value < static_cast<int>(items.size()) ? items[static_cast<std::size_t>(c.value)]
                                                        : std::to_string(c.value);
    }
    }
    return std::to_string(c.value);
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
    const kelvane::WindowData w = kelvane::ShowImage(file->image);
    const bool json = tool.args.has("--json");
    std::string out;
    if (json) out = "{\"file\": " + jsonString(path) + ",\n \"description\": " + jsonString(file->description) +
                    ",\n \"settings\": [";
    bool first = true;
    for (const auto& p : kelvane::parameterTable()) {
        const auto& state = w.controls.at(p.control);
        const std::string label = settingLabel(p, tool.language);
        const std::string value = settingValue(p, state, tool);
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
                for (std::size_t c = 0; c < row.size(); ++c)
                    line += (c ? "; " : " ") + headers[c] + " " + row[c];
                tool.result(line);
            }
        }
        if (json) out += "]}";
    }
    if (json) {
        tool.result(out + "}}");
    } else {
        const char* caption = entryText("GroupBox23", TargetKind::GroupBox, 0, tool.language);
        tool.result(std::string(caption ? caption : "description") + ": " + file->description);
    }
    return kDone;
}

int diffCommand(const Tool& tool) {
    const auto a = loadImageFile(tool, tool.args.positional[0]);
    if (!a) return kFileError;
    const auto b = loadImageFile(tool, tool.args.positional[1]);
    if (!b) return kFileError;
    const ImageDifference d = compareImages(a->image, b->image);
    if (tool.args.has("--json")) {
        std::string out = "{\"bytes\": " + std::to_string(d.bytes) + ", \"blocks\": [";
        for (std::size_t i = 0; i < d.blocks.size(); ++i) out += (i ? ", " : "") + std::to_string(d.blocks[i]);
        tool.result(out + "]}");
    } else if (d.bytes == 0) {
        tool.result(tool.text(ToolText::NoChanges));
    } else {
        printChangeList(tool, a->image, b->image);
        tool.result(format(tool.text(ToolText::Differences), d.bytes, static_cast<int>(d.blocks.size())));
    }
    return d.bytes == 0 ? kDone : kDifferences;
}

}  // namespace kvtool
