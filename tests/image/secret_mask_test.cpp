// Masking an image for support: every secret differs, the rest stays, and the
// masked image still goes through the window.
#include "image/codecs.h"
#include "image/secret_mask.h"
#include "image/window_data.h"
#include "sim/sample_building.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace kelvane;

struct CountReports : RowReporter {
    int reports = 0;
    bool invalidEntry(GridId, int, const Grid&) override { return ++reports, false; }
    void repeatedEntry(GridId, int, const Grid&) override { ++reports; }
    void tableFull(GridId, int, const Grid&) override { ++reports; }
};

// Every code is the first value masking would choose for its entry, every key
// has the first made-up serial and the password is the first made-up one: the
// masker must take its second choices everywhere and still keep codes distinct.
Image firstChoicesImage() {
    Image img = initialImage();
    for (std::size_t t : {mem::kLogicalLU1, mem::kOpenLU1, mem::kMainLU1})
        for (std::size_t i = 0; i < 510; ++i) writeBcdCode(img, t + 2 * i, 1000 + static_cast<int>(7 * i % 9000));
    for (std::size_t i = 0; i < mem::kGeneralCount; ++i)
        writeBcdCode(img, mem::kGeneralCodes + 2 * i, 1000 + static_cast<int>(7 * i));
    for (std::size_t k = 0; k < mem::kKeyCount; ++k) {
        const std::uint8_t rec[8] = {0,
                                     static_cast<std::uint8_t>(k % 200 + 1),
                                     0x00,
                                     0x4B,
                                     0x56,
                                     static_cast<std::uint8_t>(k >> 8),
                                     static_cast<std::uint8_t>(k),
                                     0x01};
        std::copy(rec, rec + 8, img.begin() + static_cast<long>(mem::kKeys + 8 * k));
    }
    const char* fake = "13572468";
    for (int i = 0; i < 8; ++i) img[mem::kParams + i] = static_cast<std::uint8_t>(fake[i] - '0');
    return img;
}

Image ninesPassword() {
    Image img = sampleBuildingImage();
    std::fill(img.begin() + mem::kParams, img.begin() + mem::kParams + 8, std::uint8_t{9});
    return img;
}

TEST(SecretMask, EverySecretDiffersTheRestStaysAndTheWindowTakesIt) {
    const struct {
        const char* name;
        Image image;
        bool throughWindow;  // a building the window's rules accept
    } cases[] = {{"sample building", sampleBuildingImage(), true},
                 {"first choices taken", firstChoicesImage(), false},
                 {"initial image", initialImage(), true},
                 {"password of nines", ninesPassword(), true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Image masked = c.image;
        maskSecrets(masked);
        std::size_t secretsSeen = 0;
        for (std::size_t off = 0; off < kImageSize; ++off) {
            if (!isSecretByte(off)) {
                ASSERT_EQ(masked[off], c.image[off]) << "offset " << off;
                continue;
            }
            if (c.image[off] == 0xFF) continue;  // empty entries and unset digits stay
            ++secretsSeen;
        }
        EXPECT_GT(secretsSeen, 0u);
        // Field by field: every code that was set now differs; codes of a table stay distinct.
        for (std::size_t t : {mem::kLogicalLU1, mem::kOpenLU1, mem::kMainLU1, mem::kGeneralCodes}) {
            const std::size_t n = t == mem::kGeneralCodes ? mem::kGeneralCount : 510;
            std::set<int> codes;
            for (std::size_t i = 0; i < n; ++i) {
                const std::size_t off = t + 2 * i;
                if (c.image[off] == 0xFF && c.image[off + 1] == 0xFF) continue;
                EXPECT_NE(DecodeBcdCode(&masked[off]), DecodeBcdCode(&c.image[off])) << "offset " << off;
                EXPECT_TRUE(codes.insert(DecodeBcdCode(&masked[off])).second) << "offset " << off;
            }
        }
        for (std::size_t k = 0; k < mem::kKeyCount; ++k) {
            const std::size_t off = mem::kKeys + 8 * k + 2;
            if (std::all_of(&c.image[off], &c.image[off] + 6, [](std::uint8_t b) { return b == 0xFF; })) continue;
            EXPECT_FALSE(std::equal(&masked[off], &masked[off] + 6, &c.image[off])) << "key " << k;
        }
        EXPECT_FALSE(std::equal(&masked[mem::kParams], &masked[mem::kParams] + 8, &c.image[mem::kParams]));
        if (c.throughWindow) {
            CountReports reporter;
            EXPECT_TRUE(buildImage(showImage(masked), masked, reporter).has_value());
            EXPECT_EQ(reporter.reports, 0);
        }
    }
}

}  // namespace
