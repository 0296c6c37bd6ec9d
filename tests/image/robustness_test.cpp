// Random window contents through the conversions: never a crash or a write
// outside the image, and what is stored settles: showing and rebuilding it
// again changes nothing. (A code of five or more digits keeps its last four,
// zeros included: 10123 is stored as 01 23, shows as "123" and is stored as
// F1 23 the next time. So the images are compared from the second rebuild on.)
#include "image/codecs.h"
#include "image/window_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace kelvane;

namespace {

struct IgnoreAll : RowReporter {
    int reports = 0;
    bool invalidEntry(GridId, int, const Grid&) override {
        ++reports;
        return false;
    }
    void repeatedEntry(GridId, int, const Grid&) override { ++reports; }
    void tableFull(GridId, int, const Grid&) override { ++reports; }
};

std::string randomCell(std::mt19937& rng) {
    static const std::string pieces[] = {"",  " ", "1",   "2",     ".",           "0",        "9", "12", "255",  "256",
                                         "-", "+", "1.7", "2.255", "99999999999", "\xC5\x82", "A", "FF", "0123", "\t"};
    std::string s;
    const int n = static_cast<int>(rng() % 4);
    for (int i = 0; i < n; ++i) s += pieces[rng() % (sizeof pieces / sizeof *pieces)];
    if (rng() % 10 == 0) s += static_cast<char>(rng());
    return s;
}

std::string randomKey(std::mt19937& rng) {
    std::uint8_t rec[8] = {0, 1};
    for (int i = 2; i < 8; ++i) rec[i] = static_cast<std::uint8_t>(rng() % 4);  // small space: repeats happen
    return FormatKeyText(rec);
}

void putCode(Image& img, std::size_t off, int value) {
    const auto bcd = EncodeBcdCode(value);
    img[off] = bcd[0];
    img[off + 1] = bcd[1];
}

// An image a controller could hold: packed tables of valid entries, the
// first and last slot of every table used, codes 1..9999. (A built image
// leaves the hidden values erased.)
Image randomValidImage(std::mt19937& rng) {
    Image img = initialImage();
    std::fill(img.begin() + mem::kHiddenWords, img.end(), 0xFF);
    const auto code = [&] { return static_cast<int>(rng() % 9999) + 1; };
    const bool full = rng() % 2 == 0;
    const auto count = [&](std::size_t capacity) { return full ? capacity : 1 + rng() % capacity; };
    const std::size_t keys = count(mem::kKeyCount);
    for (std::size_t i = 0; i < keys; ++i) {
        std::uint8_t* rec = &img[mem::kKeys + i * mem::kKeyRecordSize];
        const int local = i == 0 ? 1 : i + 1 == keys ? 9999 : code();
        rec[0] = static_cast<std::uint8_t>(local >> 8);
        rec[1] = static_cast<std::uint8_t>(local);
        rec[2] = static_cast<std::uint8_t>(i);  // unique serials
        rec[3] = static_cast<std::uint8_t>(i >> 8);
        for (int b = 4; b < 8; ++b) rec[b] = static_cast<std::uint8_t>(rng());
    }
    for (int line = 1; line <= 2; ++line)
        for (int local = 1; local <= 255; ++local) {
            if (local != 1 && local != 255 && rng() % 3 != 0) continue;
            for (auto kind : {ResidentCode::Logical, ResidentCode::Open, ResidentCode::Main})
                if (rng() % 2 || kind == ResidentCode::Logical) putCode(img, residentOffset(kind, line, local), code());
        }
    const std::size_t general = count(mem::kGeneralCount);
    for (std::size_t i = 0; i < general; ++i) {
        putCode(img, mem::kGeneralCodes + 2 * i, code());
        const int panel = static_cast<int>(rng() % 255) + 1;  // 255: any panel
        img[mem::kGeneralAttrs + 2 * i] = static_cast<std::uint8_t>(panel);
        img[mem::kGeneralAttrs + 2 * i + 1] = panel == 255 || rng() % 2 ? 0xFF : 0x00;
    }
    const std::size_t digitizers = count(mem::kDigitCount);
    for (std::size_t i = 0; i < digitizers; ++i) {
        img[mem::kDigitNumbers + i] = static_cast<std::uint8_t>(4 * (1 + rng() % 63));
        img[mem::kDigitAssigns + 2 * i] = static_cast<std::uint8_t>(rng());  // key 0..127, line bit
        img[mem::kDigitAssigns + 2 * i + 1] = static_cast<std::uint8_t>(rng());
    }
    return img;
}

// Offset of the first byte in which two images differ, or -1.
long firstDifference(const Image& a, const Image& b) {
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return -1;
}

}  // namespace

TEST(Conversions, RandomWindowContentsRoundTrip) {
    std::mt19937 rng(2026);
    int built = 0;
    for (int round = 0; round < 300; ++round) {
        WindowData w = showImage(initialImage());
        for (int g = 0; g < kGridCount; ++g) {
            Grid& grid = w.grids[g];
            grid.rows.resize(1);
            const int rows = static_cast<int>(rng() % 40);
            for (int r = 0; r < rows; ++r) {
                Grid::Row row;
                for (int c = 0; c < grid.columns(); ++c)
                    row.push_back(g == 0 && c == 1 && rng() % 2 ? randomKey(rng) : randomCell(rng));
                grid.append(row);
            }
        }
        IgnoreAll reporter;
        const auto img = buildImage(w, initialImage(), reporter);
        if (!img) continue;
        ++built;
        IgnoreAll again;
        const auto second = buildImage(showImage(*img), *img, again);
        ASSERT_TRUE(second);
        EXPECT_EQ(again.reports, 0);
        const auto third = buildImage(showImage(*second), *second, again);
        ASSERT_TRUE(third);
        ASSERT_EQ(firstDifference(*third, *second), -1) << "round " << round;
    }
    EXPECT_GT(built, 50);
}

TEST(Conversions, AnyImageShowsAndRebuildsToAFixedPoint) {
    std::mt19937 rng(99);
    for (int round = 0; round < 100; ++round) {
        Image img;
        for (auto& b : img) b = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
        IgnoreAll reporter;
        const auto first = buildImage(showImage(img), img, reporter);
        if (!first) continue;  // e.g. two stored keys with the same serial
        IgnoreAll again;
        const auto second = buildImage(showImage(*first), *first, again);
        ASSERT_TRUE(second);
        const auto third = buildImage(showImage(*second), *second, again);
        ASSERT_TRUE(third);
        ASSERT_EQ(firstDifference(*third, *second), -1) << "round " << round;
    }
}

TEST(Conversions, AValidImageComesBackWholeFromTheWindow) {
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        const Image img = randomValidImage(rng);
        IgnoreAll reporter;
        const auto rebuilt = buildImage(showImage(img), img, reporter);
        ASSERT_TRUE(rebuilt) << "round " << round;
        EXPECT_EQ(reporter.reports, 0);
        ASSERT_EQ(firstDifference(*rebuilt, img), -1) << "round " << round;
    }
}
