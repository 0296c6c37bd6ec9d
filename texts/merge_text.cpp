#include "texts/merge_text.h"

#include "texts/language_table.h"

#include <cstdio>
#include <cstring>

namespace kelvane::texts {

namespace {

const char* const kArrow = " → ";

std::string message(Message m, int language) { return messageText(m, language); }

std::string header(GridId id, int column, int language) {
    for (const WindowEntry& e : windowEntries())
        if (e.kind == TargetKind::GridHeader && e.index == column && std::strcmp(e.target, gridName(id)) == 0)
            return e.text[language >= 0 && language < kLanguageCount ? language : kPolish];
    return std::to_string(column);
}

bool isIdentity(GridId grid, int column) {
    for (int c : identityColumns(grid))
        if (c == column) return true;
    return false;
}

std::string hexByte(unsigned v) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", v);
    return buf;
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    for (std::uint8_t b : bytes) out += (out.empty() ? "" : " ") + hexByte(b);
    return out;
}

// The row's cells that do not name it, with their headers.
std::string rowValue(const MergeItem& item, MergeSide side, int language) {
    const MergeValue& v = item.value[side];
    if (!v.present) return message(Message::MergeNoRow, language);
    std::string out;
    for (int c = 0; c < static_cast<int>(v.cells.size()); ++c) {
        if (isIdentity(item.grid, c)) continue;
        const std::string& cell = v.cells[static_cast<std::size_t>(c)];
        out += (out.empty() ? "" : ", ") + header(item.grid, c, language) + " " + (cell.empty() ? "—" : cell);
    }
    return out;
}

// The bytes of the block where the versions differ, as "offset: byte".
std::string bytesValue(const MergeItem& item, MergeSide side) {
    std::string out;
    for (std::size_t k = 0; k < kBlockSize; ++k) {
        const std::uint8_t b = item.value[kBaseSide].stored[k];
        if (item.value[kFileSide].stored[k] == b && item.value[kControllerSide].stored[k] == b) continue;
        char buf[8];
        std::snprintf(buf, sizeof buf, "0x%04zX", static_cast<std::size_t>(item.block) * kBlockSize + k);
        out += (out.empty() ? "" : " ") + std::string(buf) + ":" + hexByte(item.value[side].stored[k]);
    }
    return out;
}

// The description on one line.
std::string oneLine(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') continue;
        out += text[i] == '\n' ? std::string(" / ") : std::string(1, text[i]);
    }
    return "\"" + out + "\"";
}

// A change of one item from one version to another: a row present in both
// by the columns that differ, anything else by its two values.
std::string changeText(const MergeItem& item, MergeSide from, MergeSide to, int language) {
    const MergeValue &a = item.value[from], &b = item.value[to];
    if (item.kind != MergeItemKind::Row || !a.present || !b.present)
        return mergeItemValue(item, from, language) + kArrow + mergeItemValue(item, to, language);
    std::string out;
    for (std::size_t c = 0; c < a.cells.size(); ++c) {
        if (a.cells[c] == b.cells[c]) continue;
        out += (out.empty() ? "" : "; ") + header(item.grid, static_cast<int>(c), language) + " " +
               (a.cells[c].empty() ? "—" : a.cells[c]) + kArrow + (b.cells[c].empty() ? "—" : b.cells[c]);
    }
    return out;
}

std::string printf1(const std::string& fmt, const std::string& a) {
    std::vector<char> buf(fmt.size() + a.size() + 64);
    std::snprintf(buf.data(), buf.size(), fmt.c_str(), a.c_str());
    return buf.data();
}

}  // namespace

std::string mergeItemName(const MergeItem& item, int language) {
    switch (item.kind) {
    case MergeItemKind::Setting:
        return std::string(item.parameter->number) + " " + settingCaption(*item.parameter, language);
    case MergeItemKind::Row: {
        std::string name = gridCaption(item.grid, language) + ":";
        const MergeValue* named = nullptr;
        for (const MergeValue& v : item.value)
            if (v.present) named = named ? named : &v;
        for (int c : identityColumns(item.grid))
            name += (c == identityColumns(item.grid).front() ? " " : ", ") + header(item.grid, c, language) + " " +
                    (named ? named->cells[static_cast<std::size_t>(c)] : std::string());
        return name;
    }
    case MergeItemKind::Description: return message(Message::MergeDescription, language);
    case MergeItemKind::Bytes: {
        const std::string fmt = message(Message::MergeBytes, language);
        std::vector<char> buf(fmt.size() + 64);
        const unsigned first = static_cast<unsigned>(item.block) * kBlockSize;
        std::snprintf(buf.data(), buf.size(), fmt.c_str(), item.block, first, first + kBlockSize - 1);
        return buf.data();
    }
    }
    return {};
}

std::string mergeItemValue(const MergeItem& item, MergeSide side, int language) {
    switch (item.kind) {
    case MergeItemKind::Setting: {
        const Parameter& p = *item.parameter;
        std::string text = settingValueText(p, item.value[side].control, language);
        // A value the control shows alike for two versions that store it differently: the bytes tell them apart.
        for (int other = 0; other < 3; ++other)
            if (other != side && item.value[other].stored != item.value[side].stored &&
                settingValueText(p, item.value[other].control, language) == text)
                return text + " (" + hexBytes(item.value[side].stored) + ")";
        return text;
    }
    case MergeItemKind::Row: return rowValue(item, side, language);
    case MergeItemKind::Description: return oneLine(item.value[side].text);
    case MergeItemKind::Bytes: return bytesValue(item, side);
    }
    return {};
}

std::vector<ChangeGroup> describeMerge(const ThreeWayMerge& merge, const std::string& baseDate, int language) {
    ChangeGroup sent{ChangeGroupKind::Other, message(Message::MergeSent, language), 0, {}};
    ChangeGroup kept{ChangeGroupKind::Other, printf1(message(Message::MergeKept, language), baseDate), 0, {}};
    ChangeGroup conflicts{ChangeGroupKind::Other, message(Message::MergeConflicts, language), 0, {}};
    for (const MergeItem& item : merge.items) {
        const std::string name = mergeItemName(item, language) + ": ";
        switch (item.state) {
        case MergeState::Sent: sent.lines.push_back(name + changeText(item, kBaseSide, kFileSide, language)); break;
        case MergeState::Kept:
            kept.lines.push_back(name + changeText(item, kBaseSide, kControllerSide, language));
            break;
        case MergeState::Conflict:
            conflicts.lines.push_back(
                name + message(Message::MergeFile, language) + " " + mergeItemValue(item, kFileSide, language) + "; " +
                message(Message::MergeController, language) + " " + mergeItemValue(item, kControllerSide, language));
            break;
        case MergeState::Same: break;
        }
    }
    std::vector<ChangeGroup> groups;
    for (ChangeGroup* g : {&sent, &kept, &conflicts}) {
        g->count = static_cast<int>(g->lines.size());
        if (g->count > 0) groups.push_back(std::move(*g));
    }
    return groups;
}

}  // namespace kelvane::texts
