// The image the main window's contents make, row by row, with validation.
#include "image/code_rules.h"
#include "image/codecs.h"
#include "image/parameters.h"
#include "image/window_data.h"

#include <cstring>
#include <set>

namespace kelvane {

int tableCapacity(GridId grid) {
    static const int capacity[kGridCount] = {512, 510, 64, 96};
    return capacity[static_cast<int>(grid)];
}

namespace {

enum class Verdict { Store, Skip, Stop };

class Builder {
public:
    Builder(const WindowData& w, Image& img, RowReporter& r) : window_(w), img_(img), reporter_(r) {}

    bool run() {
        return walk(GridId::Keys, &Builder::key) && walk(GridId::Residents, &Builder::resident) &&
               walk(GridId::GeneralCodes, &Builder::generalCode) && walk(GridId::Digitizers, &Builder::digitizer);
    }

private:
    using RowRule = Verdict (Builder::*)(int row, const Grid::Row& cells);

    bool walk(GridId id, RowRule rule) {
        grid_ = id;
        const Grid& g = window_.grid(id);
        for (int row = 1; row < g.rowCount(); ++row) {
            if (IsRowEmpty(g, row)) continue;
            Grid::Row cells = g.rows[row];
            cells.resize(static_cast<std::size_t>(gridColumns(id)));
            if ((this->*rule)(row, cells) == Verdict::Stop) return false;
        }
        return true;
    }

    Verdict invalid(int row) {
        return reporter_.invalidEntry(grid_, row, window_.grid(grid_)) ? Verdict::Stop : Verdict::Skip;
    }
    Verdict repeated(int row) {
        reporter_.repeatedEntry(grid_, row, window_.grid(grid_));
        return Verdict::Stop;
    }
    Verdict full(int row) {
        reporter_.tableFull(grid_, row, window_.grid(grid_));
        return Verdict::Stop;
    }

    Verdict key(int row, const Grid::Row& cells) {
        const RowCheck check = checkGridRow(GridId::Keys, cells);
        if (!check.valid) return invalid(row);
        const ParsedKey parsed = ParseKeyText(trimBlanks(cells[1]));
        const int local = readNumberCell(cells[0]);
        const std::string& serial = check.entry;
        if (serials_.count(serial)) return repeated(row);
        if (keys_ == static_cast<int>(mem::kKeyCount)) return full(row);
        serials_.insert(serial);
        std::uint8_t* rec = &img_[mem::kKeys + keys_++ * mem::kKeyRecordSize];
        rec[0] = static_cast<std::uint8_t>(local >> 8);
        rec[1] = static_cast<std::uint8_t>(local & 0xFF);
        std::memcpy(rec + 2, parsed.rom.data() + 1, 6);
        return Verdict::Store;
    }

    Verdict resident(int row, const Grid::Row& cells) {
        if (!checkGridRow(GridId::Residents, cells).valid) return invalid(row);
        const PhysicalCode pc = readPhysicalCode(cells[0]);
        const std::size_t offs[3] = {residentOffset(ResidentCode::Logical, pc.line, pc.local),
                                     residentOffset(ResidentCode::Open, pc.line, pc.local),
                                     residentOffset(ResidentCode::Main, pc.line, pc.local)};
        bool taken = true;
        for (auto off : offs) taken = taken && !(img_[off] == 0xFF && img_[off + 1] == 0xFF);
        if (taken) return repeated(row);
        for (int i = 0; i < 3; ++i) writeBcdCode(img_, offs[i], readNumberCell(cells[i + 1]));
        return Verdict::Store;
    }

    Verdict generalCode(int row, const Grid::Row& cells) {
        if (!checkGridRow(GridId::GeneralCodes, cells).valid) return invalid(row);
        const int code = readNumberCell(cells[0]);
        int panel = readNumberCell(cells[1]);
        const int bus = readNumberCell(cells[2]);
        if ((bus != 0 && bus != 1) || panel < 1 || panel > 255) panel = 255;
        if (general_ == static_cast<int>(mem::kGeneralCount)) return full(row);
        const std::size_t i = static_cast<std::size_t>(general_++);
        writeBcdCode(img_, mem::kGeneralCodes + 2 * i, code);
        std::uint8_t* attr = &img_[mem::kGeneralAttrs + 2 * i];
        if (panel == 255) {
            attr[0] = attr[1] = 0xFF;
        } else {
            attr[0] = static_cast<std::uint8_t>(panel);
            attr[1] = bus == 1 ? 0xFF : 0x00;
        }
        return Verdict::Store;
    }

    Verdict digitizer(int row, const Grid::Row& cells) {
        if (!checkGridRow(GridId::Digitizers, cells).valid) return invalid(row);
        const PhysicalCode pc = readPhysicalCode(cells[0]);
        const int number = readNumberCell(cells[1]);
        const int keyNo = readNumberCell(cells[2]);
        if (digits_ == static_cast<int>(mem::kDigitCount)) return full(row);
        const std::size_t i = static_cast<std::size_t>(digits_++);
        img_[mem::kDigitNumbers + i] = static_cast<std::uint8_t>(number);
        img_[mem::kDigitAssigns + 2 * i] = static_cast<std::uint8_t>(keyNo * 2 + ((pc.line - 1) & 1));
        img_[mem::kDigitAssigns + 2 * i + 1] = static_cast<std::uint8_t>(pc.local);
        return Verdict::Store;
    }

    const WindowData& window_;
    Image& img_;
    RowReporter& reporter_;
    GridId grid_ = GridId::Keys;
    std::set<std::string> serials_;
    int keys_ = 0, general_ = 0, digits_ = 0;
};

void storeSettings(const WindowData& w, Image& img) {
    for (const auto& p : parameterTable())
        if (p.kind == ControlKind::BitCheck && w.controls.count(p.control)) img[p.offset] = 0;
    for (const auto& p : parameterTable()) {
        const auto it = w.controls.find(p.control);
        if (it == w.controls.end()) continue;  // no such control: the value carried over stays
        const ControlState& s = it->second;
        switch (p.kind) {
        case ControlKind::UpDown:
            if (p.width == 2)
                writeLE16(img, p.offset, static_cast<std::uint16_t>(s.value & 0xFFFF));
            else
                img[p.offset] = static_cast<std::uint8_t>(s.value & 0xFF);
            break;
        case ControlKind::CheckBox: img[p.offset] = s.value ? 1 : 0; break;
        case ControlKind::ComboBox:
        case ControlKind::RadioGroup: img[p.offset] = s.value < 0 ? 0xFF : static_cast<std::uint8_t>(s.value); break;
        case ControlKind::TrackBar: img[p.offset] = static_cast<std::uint8_t>(s.value & 0xFF); break;
        case ControlKind::BitCheck:
            if (s.value) img[p.offset] |= static_cast<std::uint8_t>(1 << p.bit);
            break;
        case ControlKind::MaskEdit:
            for (int i = 0; i < p.width; ++i) {
                const char c = i < static_cast<int>(s.text.size()) ? s.text[i] : ' ';
                img[p.offset + i] = c == ' ' ? 0 : static_cast<std::uint8_t>(c - 48);
            }
            break;
        }
    }
}

}  // namespace

std::optional<Image> buildImage(const WindowData& window, const Image& working, RowReporter& reporter) {
    Image scratch = erasedImage();
    std::memcpy(&scratch[mem::kWords], &working[mem::kWords], 2 * mem::kWordCount);
    std::memcpy(&scratch[mem::kParams], &working[mem::kParams], mem::kParamCount);
    Builder builder(window, scratch, reporter);
    if (!builder.run()) return std::nullopt;
    storeSettings(window, scratch);
    return scratch;
}

}  // namespace kelvane
