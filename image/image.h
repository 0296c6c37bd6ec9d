#pragma once
// The controller's 16,384-byte configuration image and its memory map.
#include <array>
#include <cstddef>
#include <cstdint>

namespace kelvane {

constexpr std::size_t kImageSize = 16384;
constexpr std::size_t kBlockSize = 32;  // unit of transfer to and from the controller
constexpr std::size_t kBlockCount = 512;

using Image = std::array<std::uint8_t, kImageSize>;

// Offsets into the image. 0xFF (0xFFFF for 16-bit fields) marks an empty
// entry in every table; every byte no field covers is 0xFF.
namespace mem {
constexpr std::size_t kResidentsPerLine = 255;  // local numbers 1..255 per handset line
constexpr std::size_t kLogicalLU1 = 0x2000;     // BCD codes, entry = local number - 1
constexpr std::size_t kLogicalLU2 = 0x21FE;
constexpr std::size_t kOpenLU1 = 0x2400;
constexpr std::size_t kOpenLU2 = 0x25FE;
constexpr std::size_t kMainLU1 = 0x2900;
constexpr std::size_t kMainLU2 = 0x2AFE;

constexpr std::size_t kGeneralCodes = 0x2800;  // 64 BCD codes
constexpr std::size_t kGeneralAttrs = 0x2880;  // 64 x (panel, bus flag)
constexpr std::size_t kGeneralCount = 64;

constexpr std::size_t kKeys = 0x2D00;  // 512 records of 8 bytes
constexpr std::size_t kKeyCount = 512;
constexpr std::size_t kKeyRecordSize = 8;

constexpr std::size_t kDigitNumbers = 0x3D00;  // 96 bytes, 0xFF = empty entry
constexpr std::size_t kDigitAssigns = 0x3D60;  // 96 x 2 bytes
constexpr std::size_t kDigitCount = 96;

constexpr std::size_t kWords = 0x3F20;  // nine 16-bit little-endian settings
constexpr std::size_t kWordCount = 9;
constexpr std::size_t kParams = 0x3F40;  // 56-byte parameter block
constexpr std::size_t kParamCount = 56;
constexpr std::size_t kHiddenWords = 0x3F78;  // four 16-bit values the window never shows
}  // namespace mem

// Offset of a resident's code of the given kind; line 1 or 2, local 1..255.
enum class ResidentCode { Logical, Open, Main };
std::size_t residentOffset(ResidentCode code, int line, int local);

// The constant image the program starts from: all 0xFF except the settings'
// defaults and the four hidden values.
const Image& initialImage();

// Image with every byte 0xFF.
Image erasedImage();

inline std::uint16_t readLE16(const Image& img, std::size_t off) {
    return static_cast<std::uint16_t>(img[off] | (img[off + 1] << 8));
}
inline void writeLE16(Image& img, std::size_t off, std::uint16_t v) {
    img[off] = static_cast<std::uint8_t>(v & 0xFF);
    img[off + 1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace kelvane
