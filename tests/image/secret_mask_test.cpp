// Masking an image for support: the masked secrets tell nothing of the real
// ones, the rest stays, and the masked image still goes through the window.
#include "image/codecs.h"
#include "image/secret_mask.h"
#include "image/window_data.h"
#include "sim/sample_building.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

namespace {

using namespace kelvane;

struct CountReports : RowReporter {
    int reports = 0;
    bool invalidEntry(GridId, int, const Grid&) override { return ++reports, false; }
    void repeatedEntry(GridId, int, const Grid&) override { ++reports; }
    void tableFull(GridId, int, const Grid&) override { ++reports; }
};

// The entries of a table: its offset and count.
struct Table {
    std::size_t offset, count;
};
const Table kCodeTables[] = {
    {mem::kLogicalLU1, 510}, {mem::kOpenLU1, 510}, {mem::kMainLU1, 510}, {mem::kGeneralCodes, mem::kGeneralCount}};

bool codeSet(const Image& img, std::size_t off) { return !(img[off] == 0xFF && img[off + 1] == 0xFF); }
bool keySet(const Image& img, std::size_t k) {
    const auto* serial = &img[mem::kKeys + 8 * k + 2];
    return !std::all_of(serial, serial + 6, [](std::uint8_t b) { return b == 0xFF; });
}

// The sample building with other values in the entries it has set: `code(i)`
// for entry i of each table, `serial(k)` for key k's six bytes, `digit(i)`
// for each digit of the password.
Image sampleWith(const std::function<int(std::size_t)>& code, const std::function<std::uint8_t(std::size_t, int)>& serial,
                 const std::function<std::uint8_t(std::size_t)>& digit) {
    Image img = sampleBuildingImage();
    for (const Table& t : kCodeTables)
        for (std::size_t i = 0; i < t.count; ++i)
            if (codeSet(img, t.offset + 2 * i)) writeBcdCode(img, t.offset + 2 * i, code(i));
    for (std::size_t k = 0; k < mem::kKeyCount; ++k)
        if (keySet(img, k))
            for (int b = 0; b < 6; ++b) img[mem::kKeys + 8 * k + 2 + static_cast<std::size_t>(b)] = serial(k, b);
    for (std::size_t i = 0; i < 8; ++i)
        if (img[mem::kParams + i] <= 9) img[mem::kParams + i] = digit(i);
    return img;
}

// The secrets the masker makes up (the values an older masker avoided, so
// that its second choice told the value).
Image madeUpValues() {
    const char* fake = "13572468";
    return sampleWith([](std::size_t i) { return 1000 + static_cast<int>(7 * i % 9000); },
                      [](std::size_t k, int b) {
                          const std::uint8_t s[6] = {
                              0x00, 0x4B, 0x56, static_cast<std::uint8_t>(k >> 8), static_cast<std::uint8_t>(k), 0x01};
                          return s[b];
                      },
                      [fake](std::size_t i) { return static_cast<std::uint8_t>(fake[i] - '0'); });
}

Image randomValues() {
    std::mt19937 random(49);
    return sampleWith([&](std::size_t) { return 1 + static_cast<int>(random() % 9999); },
                      [&](std::size_t, int) { return static_cast<std::uint8_t>(random() % 0xFF); },
                      [&](std::size_t) { return static_cast<std::uint8_t>(random() % 10); });
}

Image ninesPassword() {
    Image img = sampleBuildingImage();
    std::fill(img.begin() + mem::kParams, img.begin() + mem::kParams + 8, std::uint8_t{9});
    return img;
}

// Images whose entries are set alike but hold other values mask to the same
// image: the mask carries nothing of the values. The rest stays, the codes of
// a table stay distinct, and the window takes the masked building.
TEST(SecretMask, TheMaskTellsNothingOfTheSecretsKeepsTheRestAndTheWindowTakesIt) {
    const Image sample = sampleBuildingImage();
    Image expected = sample;
    maskSecrets(expected);
    const struct {
        const char* name;
        Image image;
    } cases[] = {{"sample building", sample},
                 {"the made-up values themselves", madeUpValues()},
                 {"random values", randomValues()},
                 {"password of nines", ninesPassword()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Image masked = c.image;
        maskSecrets(masked);
        std::size_t secretsSeen = 0;
        for (std::size_t off = 0; off < kImageSize; ++off) {
            if (isSecretByte(off)) {
                ASSERT_EQ(masked[off], expected[off]) << "offset " << off;
                secretsSeen += c.image[off] != 0xFF;
            } else {
                ASSERT_EQ(masked[off], c.image[off]) << "offset " << off;
            }
        }
        EXPECT_GT(secretsSeen, 0u);
        for (const Table& t : kCodeTables) {
            std::set<int> codes;
            for (std::size_t i = 0; i < t.count; ++i) {
                if (!codeSet(c.image, t.offset + 2 * i)) continue;
                EXPECT_TRUE(codes.insert(DecodeBcdCode(&masked[t.offset + 2 * i])).second) << "entry " << i;
            }
        }
        CountReports reporter;
        EXPECT_TRUE(buildImage(showImage(masked), masked, reporter).has_value());
        EXPECT_EQ(reporter.reports, 0);
    }
    EXPECT_NE(expected, sample);
}

// Every entry of every table set: codes stay distinct over a whole table,
// empty entries stay empty.
TEST(SecretMask, AFullTableStaysDistinctAndEmptyEntriesStayEmpty) {
    Image full = initialImage();
    for (const Table& t : kCodeTables)
        for (std::size_t i = 0; i < t.count; ++i) writeBcdCode(full, t.offset + 2 * i, 9999 - static_cast<int>(i));
    Image masked = full;
    maskSecrets(masked);
    for (const Table& t : kCodeTables) {
        std::set<int> codes;
        for (std::size_t i = 0; i < t.count; ++i) codes.insert(DecodeBcdCode(&masked[t.offset + 2 * i]));
        EXPECT_EQ(codes.size(), t.count);
    }
    Image empty = initialImage();
    const Image before = empty;
    maskSecrets(empty);
    for (std::size_t k = 0; k < mem::kKeyCount; ++k) EXPECT_EQ(keySet(empty, k), keySet(before, k)) << "key " << k;
    for (const Table& t : kCodeTables)
        for (std::size_t i = 0; i < t.count; ++i)
            EXPECT_EQ(codeSet(empty, t.offset + 2 * i), codeSet(before, t.offset + 2 * i));
}

}  // namespace
