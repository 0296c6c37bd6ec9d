#include "sim/sample_building.h"

#include "image/codecs.h"

namespace kelvane {

namespace {
// Small deterministic generator, so the sample is the same on every run.
struct Lcg {
    std::uint32_t state = 20261208u;
    std::uint32_t next() { return state = state * 1664525u + 1013904223u; }
    int below(int n) { return static_cast<int>((next() >> 8) % static_cast<std::uint32_t>(n)); }
};
}  // namespace

Image sampleBuildingImage() {
    Image img = initialImage();
    Lcg rng;
    int flat = 1;
    const int flatsPerLine[2] = {40, 32};
    for (int line = 1; line <= 2; ++line) {
        for (int local = 1; local <= flatsPerLine[line - 1]; ++local, ++flat) {
            writeBcdCode(img, residentOffset(ResidentCode::Logical, line, local), flat);
            writeBcdCode(img, residentOffset(ResidentCode::Open, line, local), 1 + rng.below(9999));
            if (local % 4 != 0) writeBcdCode(img, residentOffset(ResidentCode::Main, line, local), 100 + flat);
        }
    }
    // Touch keys: one or two per flat for the first 24 flats.
    int key = 0;
    for (int f = 1; f <= 24; ++f) {
        for (int k = 0; k < 1 + (f % 3 == 0); ++k, ++key) {
            std::uint8_t* rec = &img[mem::kKeys + key * mem::kKeyRecordSize];
            rec[0] = static_cast<std::uint8_t>(f >> 8);
            rec[1] = static_cast<std::uint8_t>(f & 0xFF);
            for (int i = 2; i < 8; ++i) rec[i] = static_cast<std::uint8_t>(rng.below(256));
            rec[7] = 0x00;  // real iButton serials start with zero high bytes
        }
    }
    // General codes: postman and caretaker at any panel, cleaning at panel 2 of bus 0.
    const int general[][3] = {{1357, 255, 1}, {2468, 255, 1}, {9753, 2, 0}, {8642, 1, 1}};
    for (int i = 0; i < 4; ++i) {
        writeBcdCode(img, mem::kGeneralCodes + 2 * i, general[i][0]);
        std::uint8_t* attr = &img[mem::kGeneralAttrs + 2 * i];
        if (general[i][1] == 255) {
            attr[0] = attr[1] = 0xFF;
        } else {
            attr[0] = static_cast<std::uint8_t>(general[i][1]);
            attr[1] = general[i][2] ? 0xFF : 0x00;
        }
    }
    // Digitizer 4 serves the first eight flats of LU2 from push-buttons 1..8.
    for (int i = 0; i < 8; ++i) {
        img[mem::kDigitNumbers + i] = 4;
        img[mem::kDigitAssigns + 2 * i] = static_cast<std::uint8_t>((i + 1) * 2 + 1);
        img[mem::kDigitAssigns + 2 * i + 1] = static_cast<std::uint8_t>(i + 1);
    }
    return img;
}

}  // namespace kelvane
