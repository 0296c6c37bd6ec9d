// What the main window shows for an image.
#include "image/codecs.h"
#include "image/parameters.h"
#include "image/window_data.h"

#include <algorithm>
#include <cstdio>

namespace kelvane {

namespace {

std::string codeText(const std::uint8_t* stored, const char* fmt) {
    const int v = DecodeBcdCode(stored);
    return v < 0 ? std::string() : formatNumber(fmt, v);
}

void finish(Grid& g) {
    if (g.rowCount() < 2) g.append({});
    g.currentRow = 1;
    g.currentCol = 0;
}

Grid showTable(GridId id, const Image& img, std::size_t entries, bool (*used)(const Image&, std::size_t)) {
    Grid g;
    g.rows.emplace_back(static_cast<std::size_t>(gridColumns(id)));
    for (std::size_t i = 0; i < entries; ++i)
        if (used(img, i)) g.append(showEntry(id, img, i));
    finish(g);
    return g;
}

bool keyUsed(const Image& img, std::size_t i) {
    const std::uint8_t* rec = &img[mem::kKeys + i * mem::kKeyRecordSize];
    return rec[0] != 0xFF || rec[1] != 0xFF;
}
bool generalUsed(const Image& img, std::size_t i) {
    return img[mem::kGeneralCodes + 2 * i] != 0xFF || img[mem::kGeneralCodes + 2 * i + 1] != 0xFF;
}
bool residentUsed(const Image& img, std::size_t slot) {
    const int line = static_cast<int>(slot / mem::kResidentsPerLine) + 1;
    const int local = static_cast<int>(slot % mem::kResidentsPerLine) + 1;
    for (auto code : {ResidentCode::Logical, ResidentCode::Open, ResidentCode::Main})
        if (DecodeBcdCode(&img[residentOffset(code, line, local)]) >= 0) return true;
    return false;
}
bool digitizerUsed(const Image& img, std::size_t i) { return img[mem::kDigitNumbers + i] != 0xFF; }

}  // namespace

Grid::Row showEntry(GridId id, const Image& img, std::size_t entry) {
    switch (id) {
    case GridId::Keys: {
        const std::uint8_t* rec = &img[mem::kKeys + entry * mem::kKeyRecordSize];
        const unsigned local = SwapBytes(static_cast<std::uint16_t>(rec[0] | rec[1] << 8));
        return {std::to_string(local), FormatKeyText(rec)};
    }
    case GridId::GeneralCodes: {
        const std::uint8_t* code = &img[mem::kGeneralCodes + 2 * entry];
        const std::uint8_t* attr = &img[mem::kGeneralAttrs + 2 * entry];
        const bool anyPanel = attr[0] == 0xFF && attr[1] == 0xFF;
        return {std::to_string(DecodeBcdCode(code)), anyPanel ? "255" : std::to_string(attr[0]),
                anyPanel || attr[1] != 0 ? "1" : "0"};
    }
    case GridId::Residents: {
        const int line = static_cast<int>(entry / mem::kResidentsPerLine) + 1;
        const int local = static_cast<int>(entry % mem::kResidentsPerLine) + 1;
        return {std::to_string(line) + "." + std::to_string(local),
                codeText(&img[residentOffset(ResidentCode::Logical, line, local)], "%d"),
                codeText(&img[residentOffset(ResidentCode::Open, line, local)], "%04d"),
                codeText(&img[residentOffset(ResidentCode::Main, line, local)], "%d")};
    }
    case GridId::Digitizers: {
        const std::uint8_t number = img[mem::kDigitNumbers + entry];
        const std::uint8_t* assign = &img[mem::kDigitAssigns + 2 * entry];
        return {std::to_string((assign[0] & 1) + 1) + "." + std::to_string(assign[1]), std::to_string(number),
                std::to_string(assign[0] >> 1)};
    }
    }
    return {};
}

ControlState showControl(const Parameter& p, const Image& img) {
    ControlState s;
    const int byte = img[p.offset];
    const int items = static_cast<int>(itemTexts(p.items).size());
    switch (p.kind) {
    case ControlKind::UpDown: {
        const int raw = p.width == 2 ? readLE16(img, p.offset) : byte;
        // A spin box holds its value within its range.
        s.value = std::clamp(raw, p.min, p.max);
        break;
    }
    case ControlKind::CheckBox: s.value = byte != 0; break;
    case ControlKind::ComboBox: s.value = byte < items ? byte : -1; break;
    case ControlKind::RadioGroup: s.value = byte < items ? byte : items - 1; break;
    case ControlKind::TrackBar: s.value = std::clamp(byte, p.min, p.max); break;
    case ControlKind::BitCheck: s.value = (byte >> p.bit) & 1; break;
    case ControlKind::MaskEdit:
        for (int i = 0; i < p.width; ++i) s.text += std::to_string(img[p.offset + i]);
        s.text.resize(std::min<std::size_t>(s.text.size(), 8));  // the edit holds 8 characters
        break;
    }
    return s;
}

WindowData showImage(const Image& image) {
    WindowData w;
    w.grid(GridId::Keys) = showTable(GridId::Keys, image, mem::kKeyCount, keyUsed);
    w.grid(GridId::GeneralCodes) = showTable(GridId::GeneralCodes, image, mem::kGeneralCount, generalUsed);
    w.grid(GridId::Residents) = showTable(GridId::Residents, image, 2 * mem::kResidentsPerLine, residentUsed);
    w.grid(GridId::Digitizers) = showTable(GridId::Digitizers, image, mem::kDigitCount, digitizerUsed);
    for (const auto& p : parameterTable()) w.controls[p.control] = showControl(p, image);
    return w;
}

}  // namespace kelvane
