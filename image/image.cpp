#include "image/image.h"

#include "image/parameters.h"

namespace kelvane {

std::size_t residentOffset(ResidentCode code, int line, int local) {
    std::size_t base = 0;
    switch (code) {
    case ResidentCode::Logical: base = mem::kLogicalLU1; break;
    case ResidentCode::Open: base = mem::kOpenLU1; break;
    case ResidentCode::Main: base = mem::kMainLU1; break;
    }
    // The LU2 array follows the LU1 array directly.
    return base + 2 * (static_cast<std::size_t>(line - 1) * mem::kResidentsPerLine + static_cast<std::size_t>(local - 1));
}

Image erasedImage() {
    Image img;
    img.fill(0xFF);
    return img;
}

namespace {
Image makeInitialImage() {
    Image img = erasedImage();
    for (const auto& p : parameterTable()) {
        switch (p.kind) {
        case ControlKind::UpDown:
            if (p.width == 2)
                writeLE16(img, p.offset, static_cast<std::uint16_t>(p.def));
            else
                img[p.offset] = static_cast<std::uint8_t>(p.def);
            break;
        case ControlKind::MaskEdit:
            for (int i = 0; i < 8; ++i) img[p.offset + i] = static_cast<std::uint8_t>(kFactoryPassword[i] - '0');
            break;
        case ControlKind::BitCheck:
            img[p.offset] = 0;  // every bit's default is 0
            break;
        default: img[p.offset] = static_cast<std::uint8_t>(p.def); break;
        }
    }
    for (const ReservedByte& r : kReservedParamBytes) img[mem::kParams + r.offset] = r.initial;
    const std::uint16_t hidden[] = {3150, 3150, 1950, 3150};
    for (int i = 0; i < 4; ++i) writeLE16(img, mem::kHiddenWords + 2 * i, hidden[i]);
    return img;
}
}  // namespace

const Image& initialImage() {
    static const Image img = makeInitialImage();
    return img;
}

}  // namespace kelvane
