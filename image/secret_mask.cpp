#include "image/secret_mask.h"

#include "image/codecs.h"

#include <algorithm>

namespace kelvane {
namespace {

struct CodeTable {
    std::size_t offset;
    std::size_t count;
};

// Resident codes of both handset lines, then the general codes.
constexpr CodeTable kCodeTables[] = {
    {mem::kLogicalLU1, 2 * mem::kResidentsPerLine},
    {mem::kOpenLU1, 2 * mem::kResidentsPerLine},
    {mem::kMainLU1, 2 * mem::kResidentsPerLine},
    {mem::kGeneralCodes, mem::kGeneralCount},
};

constexpr std::size_t kPasswordOffset = mem::kParams;
constexpr std::size_t kPasswordDigits = 8;

// Entry i of a table gets 1000 + 7i: four digits, distinct over a table (it
// has at most 510 entries). Never a second choice where that is the entry's
// own code: which one was taken would tell the code.
void maskCodes(Image& img, const CodeTable& t, std::size_t from, std::size_t to) {
    for (std::size_t i = from > t.offset ? (from - t.offset + 1) / 2 : 0; i < t.count && t.offset + 2 * i < to; ++i) {
        const std::size_t off = t.offset + 2 * i;
        if (img[off] == 0xFF && img[off + 1] == 0xFF) continue;
        writeBcdCode(img, off, 1000 + static_cast<int>((7 * i) % 9000));
    }
}

// A key record: local number (2 bytes), then six serial bytes. The made-up
// serial carries the record's number.
void maskKeys(Image& img, std::size_t from, std::size_t to) {
    const std::size_t size = mem::kKeyRecordSize;
    for (std::size_t k = from > mem::kKeys ? (from - mem::kKeys + size - 1) / size : 0;
         k < mem::kKeyCount && mem::kKeys + k * size < to; ++k) {
        std::uint8_t* serial = &img[mem::kKeys + k * mem::kKeyRecordSize + 2];
        if (std::all_of(serial, serial + 6, [](std::uint8_t b) { return b == 0xFF; })) continue;
        const std::uint8_t fake[6] = {
            0x00, 0x4B, 0x56, static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k & 0xFF), 0x01};
        std::copy(fake, fake + 6, serial);
    }
}

// The password is one digit a byte; bytes that hold no digit (a shorter
// password) stay.
void maskPassword(Image& img) {
    static const char kFake[] = "13572468";
    std::uint8_t* p = &img[kPasswordOffset];
    for (std::size_t i = 0; i < kPasswordDigits; ++i)
        if (p[i] <= 9) p[i] = static_cast<std::uint8_t>(kFake[i] - '0');
}

}  // namespace

void maskSecrets(Image& img) { maskSecretsIn(img, 0, kImageSize); }

void maskSecretsIn(Image& img, std::size_t from, std::size_t to) {
    for (const CodeTable& t : kCodeTables) maskCodes(img, t, from, to);
    maskKeys(img, from, to);
    if (kPasswordOffset >= from && kPasswordOffset < to) maskPassword(img);
}

bool isSecretByte(std::size_t offset) {
    for (const CodeTable& t : kCodeTables)
        if (offset >= t.offset && offset < t.offset + 2 * t.count) return true;
    if (offset >= mem::kKeys && offset < mem::kKeys + mem::kKeyCount * mem::kKeyRecordSize)
        return (offset - mem::kKeys) % mem::kKeyRecordSize >= 2;
    return offset >= kPasswordOffset && offset < kPasswordOffset + kPasswordDigits;
}

bool IsSecretColumn(GridId grid, int column) {
    switch (grid) {
    case GridId::Keys: return column == 1;
    case GridId::Residents: return column >= 1 && column <= 3;
    case GridId::GeneralCodes: return column == 0;
    case GridId::Digitizers: return false;
    }
    return false;
}

}  // namespace kelvane
