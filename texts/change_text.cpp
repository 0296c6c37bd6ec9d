#include "texts/change_text.h"

#include "image/parameters.h"
#include "image/secret_mask.h"
#include "texts/language_table.h"

#include <cstdio>
#include <cstring>

namespace kelvane::texts {

namespace {

const char* const kArrow = " → ";
const char* const kEmptyCell = "—";

const char* windowText(const char* target, TargetKind kind, int index, int language) {
    if (!target) return nullptr;
    for (const WindowEntry& e : windowEntries())
        if (e.kind == kind && e.index == index && std::strcmp(e.target, target) == 0)
            return e.text[language >= 0 && language < kLanguageCount ? language : kPolish];
    return nullptr;
}

std::string message(Message m, int language) { return messageText(m, language); }

std::string header(GridId id, int column, int language) {
    const char* t = windowText(gridName(id), TargetKind::GridHeader, column, language);
    return t ? t : std::to_string(column);
}

std::string cell(const Grid::Row& row, int column, GridId grid, CodeView codes) {
    const std::string& text = row[static_cast<std::size_t>(column)];
    if (text.empty()) return kEmptyCell;
    return codes == CodeView::Masked && IsSecretColumn(grid, column) ? kMaskedCode : text;
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        if (!out.empty()) out += ' ';
        out += buf;
    }
    return out;
}

std::string hex4(std::size_t v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04zX", v);
    return buf;
}

std::string format(const std::string& fmt, const std::string& a) {
    std::vector<char> buf(fmt.size() + a.size() + 64);
    std::snprintf(buf.data(), buf.size(), fmt.c_str(), a.c_str());
    return buf.data();
}

std::string rowLine(const RowChange& r, int language, ChangeSides sides, CodeView codes) {
    const int columns = gridColumns(r.grid);
    std::string line;
    if (r.kind != RowChangeKind::Changed) {
        const Grid::Row& row = r.kind == RowChangeKind::Added ? r.after : r.before;
        line = message(r.kind == RowChangeKind::Added ? Message::ChangeAdded : Message::ChangeRemoved, language) + ": ";
        bool first = true;
        for (int c = 0; c < columns; ++c) {
            if (row[static_cast<std::size_t>(c)].empty()) continue;
            if (!first) line += ", ";
            line += header(r.grid, c, language) + " " + cell(row, c, r.grid, codes);
            first = false;
        }
        return line;
    }
    line = message(Message::ChangeChanged, language) + ": ";
    const bool known = sides == ChangeSides::BeforeAndAfter;
    const Grid::Row& named = known ? r.before : r.after;
    const std::vector<int> naming = identityColumns(r.grid);  // the row's name, before what changed
    for (std::size_t i = 0; i < naming.size(); ++i)
        line += (i ? ", " : "") + header(r.grid, naming[i], language) + " " + cell(named, naming[i], r.grid, codes);
    line += ": ";
    bool first = true;
    for (int c : r.changedColumns()) {
        if (!first) line += "; ";
        line += header(r.grid, c, language) + " " +
                (known ? cell(r.before, c, r.grid, codes) + kArrow : std::string()) + cell(r.after, c, r.grid, codes);
        first = false;
    }
    return line;
}

// The control shows the stored value as it is: not clamped into its range,
// not an item beyond its list.
bool shownAsStored(const Parameter& p, const std::vector<std::uint8_t>& stored) {
    if (stored.empty()) return true;
    const int raw = p.width == 2 && stored.size() >= 2 ? stored[0] | stored[1] << 8 : stored[0];
    switch (p.kind) {
    case ControlKind::UpDown:
    case ControlKind::TrackBar: return raw >= p.min && raw <= p.max;
    case ControlKind::ComboBox:
    case ControlKind::RadioGroup: return raw < static_cast<int>(itemTexts(p.items).size());
    case ControlKind::CheckBox: return raw <= 1;
    case ControlKind::BitCheck:
    case ControlKind::MaskEdit: break;
    }
    return true;
}

std::string settingLine(const SettingChange& s, int language, ChangeSides sides, CodeView codes) {
    const Parameter& p = *s.parameter;
    std::string line = std::string(p.number) + " " + settingCaption(p, language) + ": ";
    const bool known = sides == ChangeSides::BeforeAndAfter;
    if (codes == CodeView::Masked && isSecretByte(p.offset))
        return line + (known ? std::string(kMaskedCode) + kArrow : std::string()) + kMaskedCode;
    // A value the control cannot show reads as its bytes on both sides: an
    // erased FF FF clamped to 9999 would pass for a setting.
    if (s.shownAlike() || (known && !shownAsStored(p, s.storedBefore)) || !shownAsStored(p, s.storedAfter))
        line += message(Message::StoredBytes, language) + " " +
                (known ? hexBytes(s.storedBefore) + kArrow : std::string()) + hexBytes(s.storedAfter);
    else
        line += (known ? settingValueText(p, s.before, language) + kArrow : std::string()) +
                settingValueText(p, s.after, language);
    return line;
}

std::string regionName(const ByteChange& b, int language) {
    switch (b.region) {
    case ByteRegion::Free: return message(Message::RegionFree, language);
    case ByteRegion::HiddenValues: return message(Message::RegionHiddenValues, language);
    case ByteRegion::ReservedSettings: return message(Message::RegionReserved, language);
    case ByteRegion::Keys: return gridCaption(GridId::Keys, language);
    case ByteRegion::Residents: return gridCaption(GridId::Residents, language);
    case ByteRegion::GeneralCodes: return gridCaption(GridId::GeneralCodes, language);
    case ByteRegion::Digitizers: return gridCaption(GridId::Digitizers, language);
    }
    return {};
}

std::string byteLine(const ByteChange& b, int language) {
    std::string line = regionName(b, language) + " " + hex4(b.first) + "–" + hex4(b.last);
    switch (b.region) {
    case ByteRegion::Keys:
    case ByteRegion::Residents:
    case ByteRegion::GeneralCodes:
    case ByteRegion::Digitizers: line += ", " + message(Message::RegionNoVisibleChange, language); break;
    default: break;
    }
    return line + ": " + std::to_string(b.count) + " B";
}

// "0–3, 7, 9–511"
std::string blockRanges(const std::vector<int>& blocks) {
    std::string out;
    for (std::size_t i = 0; i < blocks.size();) {
        std::size_t j = i;
        while (j + 1 < blocks.size() && blocks[j + 1] == blocks[j] + 1) ++j;
        if (!out.empty()) out += ", ";
        out += std::to_string(blocks[i]);
        if (j > i) out += "–" + std::to_string(blocks[j]);
        i = j + 1;
    }
    return out;
}

std::string seconds(double s, int language) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", s);
    std::string text = buf;
    const char separator = language >= 0 && language < kLanguageCount ? kLanguages[language].decimalSeparator : '.';
    for (char& c : text)
        if (c == '.') c = separator;
    return text;
}

std::string lineTime(double s, int language) {
    const std::string fmt = message(Message::UploadLineTime, language);
    std::vector<char> buf(fmt.size() + 64);
    std::snprintf(buf.data(), buf.size(), fmt.c_str(), kLineBytesPerSecond * 10, seconds(s, language).c_str());
    return buf.data();
}

}  // namespace

const char* fixedCheckBoxCaption(const char* control) {
    if (std::strcmp(control, "p714_1_CheckBox") == 0) return "EXI";
    if (std::strcmp(control, "p714_2_CheckBox") == 0) return "OCA";
    if (std::strcmp(control, "p714_3_CheckBox") == 0) return "OCB";
    return nullptr;
}

std::string settingCaption(const Parameter& p, int language) {
    const char* text = nullptr;
    switch (p.kind) {
    case ControlKind::BitCheck: {
        const char* fixed = fixedCheckBoxCaption(p.control);
        return std::string(groupCaption(p.group, language)) + ": " + (fixed ? fixed : p.control);
    }
    case ControlKind::CheckBox: text = windowText(p.control, TargetKind::CheckBox, 0, language); break;
    case ControlKind::RadioGroup: text = windowText(p.control, TargetKind::RadioGroup, 0, language); break;
    default: break;
    }
    if (!text && p.label) text = windowText(p.label, TargetKind::Label, 0, language);
    if (!text && p.edit) text = windowText(p.edit, TargetKind::LabeledEdit, 0, language);
    return text ? text : groupCaption(p.group, language);
}

std::string settingValueText(const Parameter& p, const ControlState& state, int language) {
    switch (p.kind) {
    case ControlKind::UpDown:
    case ControlKind::TrackBar: return std::to_string(state.value);
    case ControlKind::CheckBox:
    case ControlKind::BitCheck: return message(state.value ? Message::ValueYes : Message::ValueNo, language);
    case ControlKind::MaskEdit: return state.text;
    case ControlKind::ComboBox:
    case ControlKind::RadioGroup: {
        if (state.value < 0) return message(Message::ValueNoSelection, language);
        const auto kind = p.kind == ControlKind::ComboBox ? TargetKind::ComboItem : TargetKind::RadioButton;
        if (const char* t = windowText(p.control, kind, state.value, language)) return t;
        const auto& items = itemTexts(p.items);
        if (static_cast<std::size_t>(state.value) < items.size()) return items[static_cast<std::size_t>(state.value)];
        return std::to_string(state.value);
    }
    }
    return {};
}

std::vector<ChangeGroup> describeChanges(const ChangeList& changes, int language, ChangeSides sides, CodeView codes) {
    std::vector<ChangeGroup> groups;
    if (!changes.settings.empty()) {
        ChangeGroup g{ChangeGroupKind::Settings, message(Message::ChangeSettings, language), 0, {}};
        for (const SettingChange& s : changes.settings) g.lines.push_back(settingLine(s, language, sides, codes));
        groups.push_back(std::move(g));
    }
    const std::pair<GridId, ChangeGroupKind> grids[] = {{GridId::Residents, ChangeGroupKind::Residents},
                                                        {GridId::Keys, ChangeGroupKind::Keys},
                                                        {GridId::GeneralCodes, ChangeGroupKind::GeneralCodes},
                                                        {GridId::Digitizers, ChangeGroupKind::Digitizers}};
    for (const auto& [id, kind] : grids) {
        ChangeGroup g{kind, gridCaption(id, language), 0, {}};
        for (const RowChange& r : changes.rows)
            if (r.grid == id && (sides == ChangeSides::BeforeAndAfter || r.kind != RowChangeKind::Removed))
                g.lines.push_back(rowLine(r, language, sides, codes));
        if (!g.lines.empty()) groups.push_back(std::move(g));
    }
    if (!changes.bytes.empty()) {
        ChangeGroup g{ChangeGroupKind::OtherBytes, message(Message::ChangeOtherBytes, language), 0, {}};
        for (const ByteChange& b : changes.bytes) g.lines.push_back(byteLine(b, language));
        groups.push_back(std::move(g));
    }
    for (ChangeGroup& g : groups) g.count = static_cast<int>(g.lines.size());
    if (!changes.blocks.empty()) {
        ChangeGroup g{
            ChangeGroupKind::Upload, message(Message::ChangeUpload, language), static_cast<int>(changes.blocks.size()), {}};
        g.lines.push_back(format(message(Message::UploadBlocks, language), blockRanges(changes.blocks)));
        g.lines.push_back(lineTime(changes.uploadSeconds(), language));
        groups.push_back(std::move(g));
    }
    return groups;
}

std::string changeListText(const std::vector<ChangeGroup>& groups) {
    std::string text;
    for (const ChangeGroup& g : groups) {
        text += g.title + " (" + std::to_string(g.count) + ")\n";
        for (const std::string& line : g.lines) text += "  " + line + "\n";
    }
    return text;
}

}  // namespace kelvane::texts
