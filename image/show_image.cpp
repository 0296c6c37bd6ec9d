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
    return v < 0 ? std::string() : FormatNumber(fmt, v);
}

void finish(Grid& g) {
    if (g.rowCount() < 2) g.append({});
    g.currentRow = 1;
    g.currentCol = 0;
}

Grid showKeys(const Image& img) {
    Grid g;
    g.rows.emplace_back(2);
    for (std::size_t i = 0; i < mem::kKeyCount; ++i) {
        const std::uint8_t* rec = &img[mem::kKeys + i * mem::kKeyRecordSize];
        if (rec[0] == 0xFF && rec[1] == 0xFF) continue;
        const unsigned local = SwapBytes(static_cast<std::uint16_t>(rec[0] | rec[1] << 8));
        g.append({std::to_string(local), FormatKeyText(rec)});
    }
    finish(g);
    return g;
}

Grid showGeneralCodes(const Image& img) {
    Grid g;
    g.rows.emplace_back(3);
    for (std::size_t i = 0; i < mem::kGeneralCount; ++i) {
        const std::uint8_t* code = &img[mem::kGeneralCodes + 2 * i];
        if (code[0] == 0xFF && code[1] == 0xFF) continue;
        const std::uint8_t* attr = &img[mem::kGeneralAttrs + 2 * i];
        const bool anyPanel = attr[0] == 0xFF && attr[1] == 0xFF;
        g.append({std::to_string(DecodeBcdCode(code)), anyPanel ? "255" : std::to_string(attr[0]),
                  anyPanel || attr[1] != 0 ? "1" : "0"});
    }
    finish(g);
    return g;
}

Grid showResidents(const Image& img) {
    Grid g;
    g.rows.emplace_back(4);
    for (int line = 1; line <= 2; ++line) {
        for (int local = 1; local <= 255; ++local) {
            const std::uint8_t* logical = &img[residentOffset(ResidentCode::Logical, line, local)];
            const std::uint8_t* open = &img[residentOffset(ResidentCode::Open, line, local)];
            const std::uint8_t* main = &img[residentOffset(ResidentCode::Main, line, local)];
            if (DecodeBcdCode(logical) < 0 && DecodeBcdCode(open) < 0 && DecodeBcdCode(main) < 0) continue;
            g.append({std::to_string(line) + "." + std::to_string(local), codeText(logical, "%d"),
                      codeText(open, "%04d"), codeText(main, "%d")});
        }
    }
    finish(g);
    return g;
}

Grid showDigitizers(const Image& img) {
    Grid g;
    g.rows.emplace_back(3);
    for (std::size_t i = 0; i < mem::kDigitCount; ++i) {
        const std::uint8_t number = img[mem::kDigitNumbers + i];
        if (number == 0xFF) continue;
        const std::uint8_t* assign = &img[mem::kDigitAssigns + 2 * i];
        g.append({std::to_string((assign[0] & 1) + 1) + "." + std::to_string(assign[1]), std::to_string(number),
                  std::to_string(assign[0] >> 1)});
    }
    finish(g);
    return g;
}

}  // namespace

ControlState ShowControl(const Parameter& p, const Image& img) {
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

WindowData ShowImage(const Image& image) {
    WindowData w;
    w.grid(GridId::Keys) = showKeys(image);
    w.grid(GridId::GeneralCodes) = showGeneralCodes(image);
    w.grid(GridId::Residents) = showResidents(image);
    w.grid(GridId::Digitizers) = showDigitizers(image);
    for (const auto& p : parameterTable()) w.controls[p.control] = ShowControl(p, image);
    return w;
}

}  // namespace kelvane
