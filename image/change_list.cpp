#include "image/change_list.h"

#include "image/code_rules.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <tuple>

namespace kelvane {

namespace {

bool sameState(const ControlState& a, const ControlState& b) { return a.value == b.value && a.text == b.text; }

std::vector<std::uint8_t> fieldBytes(const Image& img, const Parameter& p) {
    return {img.begin() + static_cast<std::ptrdiff_t>(p.offset),
            img.begin() + static_cast<std::ptrdiff_t>(p.offset + static_cast<std::size_t>(p.width))};
}

// Settings: a row per control that shows a difference; a field whose bytes
// differ while none of its controls shows it gets one row for its first
// control.
void listSettings(const Image& before, const Image& after, const WindowData& a, const WindowData& b, ChangeList& out) {
    const auto& table = parameterTable();
    std::map<std::size_t, bool> fieldShown;  // by offset: some control of the field shows a difference
    std::vector<bool> shown(table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        shown[i] = !sameState(a.controls.at(table[i].control), b.controls.at(table[i].control));
        fieldShown[table[i].offset] = fieldShown[table[i].offset] || shown[i];
    }
    std::map<std::size_t, bool> fieldListed;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Parameter& p = table[i];
        const bool firstOfField = !fieldListed.count(p.offset);
        fieldListed[p.offset] = true;
        auto storedBefore = fieldBytes(before, p);
        auto storedAfter = fieldBytes(after, p);
        if (!shown[i] && !(firstOfField && !fieldShown[p.offset] && storedBefore != storedAfter)) continue;
        out.settings.push_back(
            {&p, a.controls.at(p.control), b.controls.at(p.control), std::move(storedBefore), std::move(storedAfter)});
    }
}

// Rows of a grid without the empty row a grid without data gets.
std::vector<Grid::Row> dataRows(const Grid& g) {
    std::vector<Grid::Row> rows;
    for (int r = 1; r < g.rowCount(); ++r)
        if (!IsRowEmpty(g, r)) rows.push_back(g.rows[static_cast<std::size_t>(r)]);
    return rows;
}

std::vector<int> sortColumns(GridId id) {
    switch (id) {
    case GridId::Keys: return {0, 1};
    case GridId::Residents: return {0};
    case GridId::GeneralCodes: return {0, 1, 2};
    case GridId::Digitizers: return {1, 2, 0};
    }
    return {0};
}

Grid::Row pick(const Grid::Row& row, const std::vector<int>& columns) {
    Grid::Row key;
    for (int c : columns) key.push_back(row[static_cast<std::size_t>(c)]);
    return key;
}

// Orders texts with their digit runs by value: "1.9" before "1.10", "99" before "100".
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            // Leading zeros aside, the longer run is the larger number.
            std::size_t is = i, js = j;
            while (is + 1 < ie && a[is] == '0') ++is;
            while (js + 1 < je && b[js] == '0') ++js;
            if (ie - is != je - js) return ie - is < je - js;
            const int c = a.compare(is, ie - is, b, js, je - js);
            if (c != 0) return c < 0;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

bool rowLess(const Grid::Row& a, const Grid::Row& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), naturalLess);
}

void listRows(GridId id, const Grid& before, const Grid& after, ChangeList& out) {
    const std::vector<Grid::Row> a = dataRows(before), b = dataRows(after);
    // Rows found alike on both sides, wherever they stand, are no change.
    std::map<Grid::Row, int> inAfter;
    for (const auto& row : b) ++inAfter[row];
    std::map<Grid::Row, int> inBefore;
    std::vector<const Grid::Row*> removed, added;
    for (const auto& row : a) {
        auto it = inAfter.find(row);
        if (it != inAfter.end() && it->second > 0) {
            --it->second;
            ++inBefore[row];
        } else {
            removed.push_back(&row);
        }
    }
    for (const auto& row : b) {
        auto it = inBefore.find(row);
        if (it != inBefore.end() && it->second > 0)
            --it->second;
        else
            added.push_back(&row);
    }
    // A removed and an added row of the same identity are one changed row.
    const std::vector<int> identity = identityColumns(id);
    std::multimap<Grid::Row, const Grid::Row*> addedByIdentity;
    for (const Grid::Row* row : added) addedByIdentity.emplace(pick(*row, identity), row);
    std::vector<RowChange> changes;
    for (const Grid::Row* row : removed) {
        auto it = addedByIdentity.find(pick(*row, identity));
        if (it == addedByIdentity.end()) {
            changes.push_back({id, RowChangeKind::Removed, *row, {}});
        } else {
            changes.push_back({id, RowChangeKind::Changed, *row, *it->second});
            addedByIdentity.erase(it);
        }
    }
    for (const Grid::Row* row : added) {
        // Still waiting for a partner: added.
        auto range = addedByIdentity.equal_range(pick(*row, identity));
        for (auto it = range.first; it != range.second; ++it)
            if (it->second == row) {
                changes.push_back({id, RowChangeKind::Added, {}, *row});
                addedByIdentity.erase(it);
                break;
            }
    }
    const std::vector<int> order = sortColumns(id);
    std::vector<std::pair<Grid::Row, std::size_t>> keys;  // sort key, index into changes
    keys.reserve(changes.size());
    for (std::size_t i = 0; i < changes.size(); ++i)
        keys.emplace_back(pick(changes[i].after.empty() ? changes[i].before : changes[i].after, order), i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto& x, const auto& y) { return rowLess(x.first, y.first); });
    for (const auto& key : keys) out.rows.push_back(std::move(changes[key.second]));
}

struct RegionRange {
    ByteRegion region;
    std::size_t first, last;
};

// Every byte of the image lies in exactly one of these.
const std::vector<RegionRange>& regionRanges() {
    using R = ByteRegion;
    static const std::vector<RegionRange> ranges = {
        {R::Free, 0x0000, 0x1FFF},
        {R::Residents, mem::kLogicalLU1, mem::kLogicalLU1 + 4 * mem::kResidentsPerLine - 1},
        {R::Free, 0x23FC, 0x23FF},
        {R::Residents, mem::kOpenLU1, mem::kOpenLU1 + 4 * mem::kResidentsPerLine - 1},
        {R::Free, 0x27FC, 0x27FF},
        {R::GeneralCodes, mem::kGeneralCodes, mem::kGeneralAttrs + 2 * mem::kGeneralCount - 1},
        {R::Residents, mem::kMainLU1, mem::kMainLU1 + 4 * mem::kResidentsPerLine - 1},
        {R::Free, 0x2CFC, 0x2CFF},
        {R::Keys, mem::kKeys, mem::kKeys + mem::kKeyCount * mem::kKeyRecordSize - 1},
        {R::Digitizers, mem::kDigitNumbers, mem::kDigitAssigns + 2 * mem::kDigitCount - 1},
        {R::Free, 0x3E20, 0x3F1F},
        {R::ReservedSettings, mem::kWords, mem::kWords + 2 * mem::kWordCount - 1},
        {R::Free, 0x3F32, 0x3F3F},
        {R::ReservedSettings, mem::kParams, mem::kParams + mem::kParamCount - 1},
        {R::HiddenValues, mem::kHiddenWords, mem::kHiddenWords + 7},
        {R::Free, 0x3F80, kImageSize - 1},
    };
    return ranges;
}

// Entries of a packed table up to its last used one in either image.
std::size_t usedEntries(const Image& a, const Image& b, std::size_t count, bool (*used)(const Image&, std::size_t)) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (used(a, i) || used(b, i)) n = i + 1;
    return n;
}

bool keyUsed(const Image& img, std::size_t i) {
    const std::size_t off = mem::kKeys + i * mem::kKeyRecordSize;
    return img[off] != 0xFF || img[off + 1] != 0xFF;
}
bool generalUsed(const Image& img, std::size_t i) {
    return img[mem::kGeneralCodes + 2 * i] != 0xFF || img[mem::kGeneralCodes + 2 * i + 1] != 0xFF;
}
bool digitizerUsed(const Image& img, std::size_t i) { return img[mem::kDigitNumbers + i] != 0xFF; }

// Bytes the lists above already show: every settings field, and the entries
// of the tables that have a row change (a packed table moves its entries
// when one goes, so all its used entries count).
std::vector<bool> shownBytes(const Image& before, const Image& after, const ChangeList& list) {
    std::vector<bool> shown(kImageSize, false);
    auto mark = [&shown](std::size_t off, std::size_t n) {
        std::fill_n(shown.begin() + static_cast<std::ptrdiff_t>(off), n, true);
    };
    for (const Parameter& p : parameterTable()) mark(p.offset, static_cast<std::size_t>(p.width));
    bool changed[kGridCount] = {};
    for (const RowChange& r : list.rows) {
        changed[static_cast<int>(r.grid)] = true;
        if (r.grid != GridId::Residents) continue;
        for (const Grid::Row* row : {&r.before, &r.after}) {
            if (row->empty()) continue;
            const PhysicalCode pc = readPhysicalCode((*row)[0]);
            for (auto code : {ResidentCode::Logical, ResidentCode::Open, ResidentCode::Main})
                mark(residentOffset(code, pc.line, pc.local), 2);
        }
    }
    if (changed[static_cast<int>(GridId::Keys)])
        mark(mem::kKeys, usedEntries(before, after, mem::kKeyCount, keyUsed) * mem::kKeyRecordSize);
    if (changed[static_cast<int>(GridId::GeneralCodes)]) {
        const std::size_t n = usedEntries(before, after, mem::kGeneralCount, generalUsed);
        mark(mem::kGeneralCodes, 2 * n);
        mark(mem::kGeneralAttrs, 2 * n);
    }
    if (changed[static_cast<int>(GridId::Digitizers)]) {
        const std::size_t n = usedEntries(before, after, mem::kDigitCount, digitizerUsed);
        mark(mem::kDigitNumbers, n);
        mark(mem::kDigitAssigns, 2 * n);
    }
    return shown;
}

}  // namespace

std::vector<int> identityColumns(GridId id) {
    switch (id) {
    case GridId::Keys: return {1};
    case GridId::Residents: return {0};
    case GridId::GeneralCodes: return {0};
    case GridId::Digitizers: return {1, 2};
    }
    return {0};
}

bool SettingChange::shownAlike() const { return sameState(before, after); }

std::vector<int> RowChange::changedColumns() const {
    std::vector<int> columns;
    const std::size_t n = std::max(before.size(), after.size());
    for (std::size_t c = 0; c < n; ++c)
        if (before.empty() || after.empty() || before[c] != after[c]) columns.push_back(static_cast<int>(c));
    return columns;
}

double uploadLineSeconds(std::size_t blocks) {
    // Each message waits for a one-byte acknowledgement before the next.
    constexpr std::size_t kAck = 1;
    const std::size_t bytes =
        (kUploadCommandBytes + kAck) + blocks * (kUploadFrameBytes + kAck) + (kUploadFrameBytes + kAck);
    return static_cast<double>(bytes) / kLineBytesPerSecond;
}

std::size_t ChangeList::rowCount(GridId grid) const {
    return static_cast<std::size_t>(
        std::count_if(rows.begin(), rows.end(), [grid](const RowChange& r) { return r.grid == grid; }));
}

ChangeList listChanges(const Image& before, const Image& after) {
    ChangeList out;
    for (std::size_t b = 0; b < kBlockCount; ++b)
        if (!std::equal(before.begin() + static_cast<std::ptrdiff_t>(b * kBlockSize),
                        before.begin() + static_cast<std::ptrdiff_t>((b + 1) * kBlockSize),
                        after.begin() + static_cast<std::ptrdiff_t>(b * kBlockSize)))
            out.blocks.push_back(static_cast<int>(b));
    if (out.blocks.empty()) return out;

    const WindowData a = showImage(before), b = showImage(after);
    listSettings(before, after, a, b, out);
    for (GridId id : {GridId::Keys, GridId::Residents, GridId::GeneralCodes, GridId::Digitizers})
        listRows(id, a.grid(id), b.grid(id), out);

    const std::vector<bool> shown = shownBytes(before, after, out);
    for (const RegionRange& r : regionRanges()) {
        int count = 0;
        for (std::size_t off = r.first; off <= r.last; ++off)
            if (before[off] != after[off] && !shown[off]) ++count;
        if (count > 0) out.bytes.push_back({r.region, r.first, r.last, count});
    }
    return out;
}

}  // namespace kelvane
