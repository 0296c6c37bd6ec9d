#include "image/merge.h"

#include "image/codecs.h"

#include <algorithm>
#include <functional>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace kelvane {

namespace {

constexpr std::size_t kResidentSlots = 2 * mem::kResidentsPerLine;

struct Region {
    std::size_t first, end;  // [first, end)
};

// The bytes a packed table owns: its entries and their attributes.
Region tableRegion(GridId grid) {
    switch (grid) {
    case GridId::Keys: return {mem::kKeys, mem::kKeys + mem::kKeyCount * mem::kKeyRecordSize};
    case GridId::GeneralCodes: return {mem::kGeneralCodes, mem::kGeneralAttrs + 2 * mem::kGeneralCount};
    case GridId::Digitizers: return {mem::kDigitNumbers, mem::kDigitAssigns + 2 * mem::kDigitCount};
    case GridId::Residents: break;  // fixed slots, merged slot by slot
    }
    return {0, 0};
}

std::uint8_t settingMask(const Parameter& p) {
    return p.kind == ControlKind::BitCheck ? static_cast<std::uint8_t>(1u << p.bit) : std::uint8_t{0xFF};
}

// Bits some setting or table shows, per byte; the rest belongs to the
// per-block items.
const std::array<std::uint8_t, kImageSize>& shownBits() {
    static const std::array<std::uint8_t, kImageSize> bits = [] {
        std::array<std::uint8_t, kImageSize> b{};
        for (const Parameter& p : parameterTable())
            for (int i = 0; i < p.width; ++i) b[p.offset + static_cast<std::size_t>(i)] |= settingMask(p);
        auto all = [&b](std::size_t first, std::size_t end) { std::fill(b.begin() + first, b.begin() + end, 0xFF); };
        for (GridId g : {GridId::Keys, GridId::GeneralCodes, GridId::Digitizers})
            all(tableRegion(g).first, tableRegion(g).end);
        for (std::size_t base : {mem::kLogicalLU1, mem::kOpenLU1, mem::kMainLU1}) all(base, base + 2 * kResidentSlots);
        return b;
    }();
    return bits;
}

// ---- code-table rows ----

// A used entry of a table: what matches it across the versions, what else
// it stores, and where.
struct Entry {
    std::string id;
    std::string value;
    std::size_t index;
};

std::string bytesAt(const Image& img, std::size_t off, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(&img[off]), n);
}

std::size_t slotOffset(ResidentCode code, std::size_t slot) {
    return residentOffset(code, static_cast<int>(slot / mem::kResidentsPerLine) + 1,
                          static_cast<int>(slot % mem::kResidentsPerLine) + 1);
}

constexpr ResidentCode kResidentCodes[] = {ResidentCode::Logical, ResidentCode::Open, ResidentCode::Main};

std::vector<Entry> entriesOf(GridId grid, const Image& img) {
    std::vector<Entry> out;
    switch (grid) {
    case GridId::Keys:
        for (std::size_t i = 0; i < mem::kKeyCount; ++i) {
            const std::size_t off = mem::kKeys + i * mem::kKeyRecordSize;
            if (img[off] == 0xFF && img[off + 1] == 0xFF) continue;
            out.push_back({bytesAt(img, off + 2, 6), bytesAt(img, off, 2), i});
        }
        break;
    case GridId::GeneralCodes:
        for (std::size_t i = 0; i < mem::kGeneralCount; ++i) {
            const std::size_t off = mem::kGeneralCodes + 2 * i;
            if (img[off] == 0xFF && img[off + 1] == 0xFF) continue;
            out.push_back({bytesAt(img, off, 2), bytesAt(img, mem::kGeneralAttrs + 2 * i, 2), i});
        }
        break;
    case GridId::Digitizers:
        for (std::size_t i = 0; i < mem::kDigitCount; ++i) {
            const std::uint8_t number = img[mem::kDigitNumbers + i];
            if (number == 0xFF) continue;
            const std::uint8_t a0 = img[mem::kDigitAssigns + 2 * i], a1 = img[mem::kDigitAssigns + 2 * i + 1];
            out.push_back({{static_cast<char>(number), static_cast<char>(a0 >> 1)},
                           {static_cast<char>(a0 & 1), static_cast<char>(a1)},
                           i});
        }
        break;
    case GridId::Residents:
        for (std::size_t slot = 0; slot < kResidentSlots; ++slot) {
            std::string value;
            for (ResidentCode code : kResidentCodes) value += bytesAt(img, slotOffset(code, slot), 2);
            if (value == std::string(6, '\xFF')) continue;
            out.push_back({{static_cast<char>(slot >> 8), static_cast<char>(slot & 0xFF)}, value, slot});
        }
        break;
    }
    return out;
}

// The used entries of a table in the three versions (base, file, controller),
// each with the id that matches it across them. A row is matched by its
// identity; an identity some version lists more than once (a general code
// for two panels) is matched by the row's whole content, as a multiset:
// equal rows by their occurrence. Occurrences in order would pair a row one
// side deleted with another row of the same code and report a change
// neither side made.
std::array<std::vector<Entry>, 3> matchedEntries(GridId grid, const std::array<const Image*, 3>& images) {
    std::array<std::vector<Entry>, 3> entries;
    std::unordered_set<std::string> repeated;
    for (int s = 0; s < 3; ++s) {
        entries[s] = entriesOf(grid, *images[s]);
        std::unordered_set<std::string> seen;
        for (const Entry& e : entries[s])
            if (!seen.insert(e.id).second) repeated.insert(e.id);
    }
    for (std::vector<Entry>& side : entries) {
        std::unordered_map<std::string, int> seen;
        for (Entry& e : side) {
            if (repeated.count(e.id)) e.id += e.value;
            e.id += "#" + std::to_string(seen[e.id]++);
        }
    }
    return entries;
}

std::size_t identityBytes(GridId grid) { return grid == GridId::Keys ? 6 : 2; }

void writeEntry(GridId grid, Image& img, std::size_t i, const std::string& id, const std::string& value) {
    auto byte = [](const std::string& s, std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    switch (grid) {
    case GridId::Keys: {
        const std::size_t off = mem::kKeys + i * mem::kKeyRecordSize;
        for (std::size_t k = 0; k < 2; ++k) img[off + k] = byte(value, k);
        for (std::size_t k = 0; k < 6; ++k) img[off + 2 + k] = byte(id, k);
        break;
    }
    case GridId::GeneralCodes:
        for (std::size_t k = 0; k < 2; ++k) {
            img[mem::kGeneralCodes + 2 * i + k] = byte(id, k);
            img[mem::kGeneralAttrs + 2 * i + k] = byte(value, k);
        }
        break;
    case GridId::Digitizers:
        img[mem::kDigitNumbers + i] = byte(id, 0);
        img[mem::kDigitAssigns + 2 * i] = static_cast<std::uint8_t>(byte(id, 1) << 1 | (byte(value, 0) & 1));
        img[mem::kDigitAssigns + 2 * i + 1] = byte(value, 1);
        break;
    case GridId::Residents:
        for (std::size_t c = 0; c < 3; ++c)
            for (std::size_t k = 0; k < 2; ++k) img[slotOffset(kResidentCodes[c], i) + k] = byte(value, 2 * c + k);
        break;
    }
}

std::size_t residentSlot(const std::string& id) {
    return static_cast<std::size_t>(static_cast<std::uint8_t>(id[0])) << 8 | static_cast<std::uint8_t>(id[1]);
}

template <typename T>
bool sameValue(const T* a, const T* b) {
    return (a == nullptr) == (b == nullptr) && (a == nullptr || a->value == b->value);
}

// The state of an item from its three values; false when nothing changed.
template <typename T, typename Same>
bool classify(const T& base, const T& file, const T& controller, Same same, MergeState& state) {
    if (same(file, controller)) {
        state = MergeState::Same;
        return !same(file, base);
    }
    state = same(controller, base) ? MergeState::Sent : same(file, base) ? MergeState::Kept : MergeState::Conflict;
    return true;
}

void mergeRows(GridId grid, const std::array<const ImageVersion*, 3>& v, std::vector<MergeItem>& items) {
    const std::array<std::vector<Entry>, 3> entries =
        matchedEntries(grid, {&v[kBaseSide]->image, &v[kFileSide]->image, &v[kControllerSide]->image});
    std::array<std::unordered_map<std::string, const Entry*>, 3> byId;
    std::vector<std::string> order;  // ids by first appearance: base, file, controller
    std::unordered_set<std::string> listed;
    for (int s = 0; s < 3; ++s) {
        byId[s].reserve(entries[s].size());
        for (const Entry& e : entries[s]) {
            byId[s].emplace(e.id, &e);
            if (listed.insert(e.id).second) order.push_back(e.id);
        }
    }
    if (grid == GridId::Residents) std::sort(order.begin(), order.end());  // by slot, as the grid shows them
    for (const std::string& id : order) {
        std::array<const Entry*, 3> e{};
        for (int s = 0; s < 3; ++s) {
            auto it = byId[s].find(id);
            e[s] = it == byId[s].end() ? nullptr : it->second;
        }
        MergeState state;
        if (!classify(e[kBaseSide], e[kFileSide], e[kControllerSide], sameValue<Entry>, state)) continue;
        MergeItem item;
        item.kind = MergeItemKind::Row;
        item.state = state;
        item.grid = grid;
        item.identity = id;
        for (int s = 0; s < 3; ++s) {
            item.value[s].present = e[s] != nullptr;
            if (e[s]) item.value[s].cells = showEntry(grid, v[s]->image, e[s]->index);
        }
        items.push_back(std::move(item));
    }
}

// ---- settings and free bytes ----

std::vector<std::uint8_t> maskedField(const Image& img, const Parameter& p) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(p.width));
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = img[p.offset + i] & settingMask(p);
    return bytes;
}

std::vector<std::uint8_t> freeBytes(const Image& img, int block) {
    const auto& shown = shownBits();
    std::vector<std::uint8_t> bytes(kBlockSize);
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        const std::size_t off = static_cast<std::size_t>(block) * kBlockSize + i;
        bytes[i] = static_cast<std::uint8_t>(img[off] & ~shown[off]);
    }
    return bytes;
}

bool takesController(const MergeItem& item, MergeChoice choice) {
    return item.state == MergeState::Kept || (item.state == MergeState::Conflict && choice == MergeChoice::Controller);
}

bool regionEqual(const Image& a, const Image& b, Region r) {
    return std::equal(a.begin() + static_cast<std::ptrdiff_t>(r.first), a.begin() + static_cast<std::ptrdiff_t>(r.end),
                      b.begin() + static_cast<std::ptrdiff_t>(r.first));
}

// A packed table of the merged image: the file's rows in the file's order,
// those the controller decides taken from it (or left out where it has none),
// then the controller's rows the file lacks. False when they do not fit.
bool rebuildTable(GridId grid, const ThreeWayMerge& m, const std::set<std::string>& fromController, Image& out) {
    const Region r = tableRegion(grid);
    if (regionEqual(m.file.image, m.base.image, r)) {
        // The file left the table alone: the controller's table as it is.
        std::copy(m.controller.image.begin() + static_cast<std::ptrdiff_t>(r.first),
                  m.controller.image.begin() + static_cast<std::ptrdiff_t>(r.end),
                  out.begin() + static_cast<std::ptrdiff_t>(r.first));
        return true;
    }
    const std::array<std::vector<Entry>, 3> entries =
        matchedEntries(grid, {&m.base.image, &m.file.image, &m.controller.image});
    const std::vector<Entry>&file = entries[kFileSide], &controller = entries[kControllerSide];
    std::unordered_map<std::string, const Entry*> atController;
    for (const Entry& e : controller) atController.emplace(e.id, &e);
    std::set<std::string> inFile;
    std::vector<const Entry*> rows;
    for (const Entry& e : file) {
        inFile.insert(e.id);
        if (!fromController.count(e.id)) {
            rows.push_back(&e);
        } else {
            auto it = atController.find(e.id);
            if (it != atController.end()) rows.push_back(it->second);
        }
    }
    for (const Entry& e : controller)
        if (!inFile.count(e.id) && fromController.count(e.id)) rows.push_back(&e);
    if (rows.size() > static_cast<std::size_t>(tableCapacity(grid))) return false;
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(r.first), out.begin() + static_cast<std::ptrdiff_t>(r.end), 0xFF);
    for (std::size_t i = 0; i < rows.size(); ++i)
        writeEntry(grid, out, i, rows[i]->id.substr(0, identityBytes(grid)), rows[i]->value);
    return true;
}

}  // namespace

std::size_t ThreeWayMerge::count(MergeState state) const {
    return static_cast<std::size_t>(
        std::count_if(items.begin(), items.end(), [state](const MergeItem& i) { return i.state == state; }));
}

bool ThreeWayMerge::controllerUnchanged() const {
    return controller.image == base.image && controller.description == base.description;
}

ThreeWayMerge mergeVersions(const ImageVersion& base, const ImageVersion& file, const ImageVersion& controller) {
    ThreeWayMerge m{base, file, controller, {}};
    const std::array<const ImageVersion*, 3> v = {&m.base, &m.file, &m.controller};
    if (base.image == file.image && file.image == controller.image && base.description == file.description &&
        file.description == controller.description)
        return m;

    for (const Parameter& p : parameterTable()) {
        std::array<std::vector<std::uint8_t>, 3> f;
        for (int s = 0; s < 3; ++s) f[s] = maskedField(v[s]->image, p);
        MergeState state;
        if (!classify(f[kBaseSide], f[kFileSide], f[kControllerSide], std::equal_to<>(), state)) continue;
        MergeItem item;
        item.kind = MergeItemKind::Setting;
        item.state = state;
        item.parameter = &p;
        for (int s = 0; s < 3; ++s) {
            item.value[s].control = showControl(p, v[s]->image);
            item.value[s].stored = std::move(f[s]);
        }
        m.items.push_back(std::move(item));
    }
    for (GridId grid : {GridId::Keys, GridId::Residents, GridId::GeneralCodes, GridId::Digitizers})
        mergeRows(grid, v, m.items);

    MergeState state;
    if (classify(base.description, file.description, controller.description, std::equal_to<>(), state)) {
        MergeItem item;
        item.kind = MergeItemKind::Description;
        item.state = state;
        for (int s = 0; s < 3; ++s) item.value[s].text = v[s]->description;
        m.items.push_back(std::move(item));
    }
    for (int block = 0; block < static_cast<int>(kBlockCount); ++block) {
        std::array<std::vector<std::uint8_t>, 3> f;
        for (int s = 0; s < 3; ++s) f[s] = freeBytes(v[s]->image, block);
        if (!classify(f[kBaseSide], f[kFileSide], f[kControllerSide], std::equal_to<>(), state)) continue;
        MergeItem item;
        item.kind = MergeItemKind::Bytes;
        item.state = state;
        item.block = block;
        for (int s = 0; s < 3; ++s) item.value[s].stored = std::move(f[s]);
        m.items.push_back(std::move(item));
    }
    return m;
}

std::vector<MergeChoice> chooseAll(const ThreeWayMerge& merge, MergeChoice side) {
    return std::vector<MergeChoice>(merge.items.size(), side);
}

MergedVersion resolveMerge(const ThreeWayMerge& m, const std::vector<MergeChoice>& choices) {
    MergedVersion out;
    out.version = m.file;
    auto choiceOf = [&choices](std::size_t i) { return i < choices.size() ? choices[i] : MergeChoice::Undecided; };
    for (std::size_t i = 0; i < m.items.size(); ++i)
        if (m.items[i].state == MergeState::Conflict && choiceOf(i) == MergeChoice::Undecided)
            out.undecided.push_back(i);
    if (!out.undecided.empty()) return out;

    Image& img = out.version.image;
    const Image& at = m.controller.image;
    std::array<std::set<std::string>, kGridCount> fromController;
    for (std::size_t i = 0; i < m.items.size(); ++i) {
        const MergeItem& item = m.items[i];
        if (!takesController(item, choiceOf(i))) continue;
        switch (item.kind) {
        case MergeItemKind::Setting: {
            const Parameter& p = *item.parameter;
            const std::uint8_t mask = settingMask(p);
            for (std::size_t k = 0; k < static_cast<std::size_t>(p.width); ++k) {
                const std::size_t off = p.offset + k;
                img[off] = static_cast<std::uint8_t>((img[off] & ~mask) | (at[off] & mask));
            }
            break;
        }
        case MergeItemKind::Bytes: {
            const auto& shown = shownBits();
            for (std::size_t k = 0; k < kBlockSize; ++k) {
                const std::size_t off = static_cast<std::size_t>(item.block) * kBlockSize + k;
                img[off] = static_cast<std::uint8_t>((img[off] & shown[off]) | (at[off] & ~shown[off]));
            }
            break;
        }
        case MergeItemKind::Description: out.version.description = m.controller.description; break;
        case MergeItemKind::Row:
            if (item.grid == GridId::Residents) {
                const std::size_t slot = residentSlot(item.identity);
                for (ResidentCode code : kResidentCodes)
                    for (std::size_t k = 0; k < 2; ++k)
                        img[slotOffset(code, slot) + k] = at[slotOffset(code, slot) + k];
            } else {
                fromController[static_cast<int>(item.grid)].insert(item.identity);
            }
            break;
        }
    }
    for (GridId grid : {GridId::Keys, GridId::GeneralCodes, GridId::Digitizers})
        if (!fromController[static_cast<int>(grid)].empty() &&
            !rebuildTable(grid, m, fromController[static_cast<int>(grid)], img))
            out.overfull.push_back(grid);
    return out;
}

}  // namespace kelvane
