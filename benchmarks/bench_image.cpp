// Show, build, the change list and the configuration check on a full image:
// 512 keys, 510 residents, 64 general codes, 96 digitizers; and the
// three-way merge of two such images against a third.
#include "image/change_list.h"
#include "image/codecs.h"
#include "image/configuration_check.h"
#include "image/merge.h"
#include "image/window_data.h"
#include "texts/change_text.h"
#include "texts/language_table.h"

#include <benchmark/benchmark.h>

using namespace kelvane;

namespace {

Image fullImage() {
    Image img = initialImage();
    for (int i = 0; i < 512; ++i) {
        std::uint8_t* rec = &img[mem::kKeys + 8 * i];
        rec[0] = static_cast<std::uint8_t>((i + 1) >> 8);
        rec[1] = static_cast<std::uint8_t>(i + 1);
        rec[2] = static_cast<std::uint8_t>(i);  // unique serials
        rec[3] = static_cast<std::uint8_t>(i >> 8);
        for (int b = 4; b < 8; ++b) rec[b] = static_cast<std::uint8_t>(i * 7 + b * 13);
    }
    for (int line = 1; line <= 2; ++line)
        for (int local = 1; local <= 255; ++local) {
            const int n = (line - 1) * 255 + local;
            for (auto c : {ResidentCode::Logical, ResidentCode::Open, ResidentCode::Main}) {
                const auto bcd = EncodeBcdCode(n + static_cast<int>(c) * 1000);
                img[residentOffset(c, line, local)] = bcd[0];
                img[residentOffset(c, line, local) + 1] = bcd[1];
            }
        }
    for (int i = 0; i < 64; ++i) {
        const auto bcd = EncodeBcdCode(5000 + i);
        img[mem::kGeneralCodes + 2 * i] = bcd[0];
        img[mem::kGeneralCodes + 2 * i + 1] = bcd[1];
        img[mem::kGeneralAttrs + 2 * i] = static_cast<std::uint8_t>(1 + i);
        img[mem::kGeneralAttrs + 2 * i + 1] = 0;
    }
    for (int i = 0; i < 96; ++i) {
        img[mem::kDigitNumbers + i] = static_cast<std::uint8_t>(4 * (1 + i % 63));
        img[mem::kDigitAssigns + 2 * i] = static_cast<std::uint8_t>(2 * (i % 128));
        img[mem::kDigitAssigns + 2 * i + 1] = static_cast<std::uint8_t>(i);
    }
    return img;
}

struct NoReports : RowReporter {
    bool invalidEntry(GridId, int, const Grid&) override { return true; }
    void repeatedEntry(GridId, int, const Grid&) override {}
    void tableFull(GridId, int, const Grid&) override {}
};

void BM_ShowFullImage(benchmark::State& state) {
    const Image img = fullImage();
    for (auto _ : state) benchmark::DoNotOptimize(showImage(img));
}
BENCHMARK(BM_ShowFullImage)->Unit(benchmark::kMicrosecond);

void BM_BuildFullImage(benchmark::State& state) {
    const Image img = fullImage();
    const WindowData window = showImage(img);
    NoReports reporter;
    for (auto _ : state) {
        auto built = buildImage(window, img, reporter);
        if (!built) state.SkipWithError("the full image did not rebuild");
        benchmark::DoNotOptimize(built);
    }
}
BENCHMARK(BM_BuildFullImage)->Unit(benchmark::kMicrosecond);

// The change list of a full image against the initial image: every row added.
void BM_ChangeListFullImage(benchmark::State& state) {
    const Image img = fullImage();
    for (auto _ : state) benchmark::DoNotOptimize(listChanges(initialImage(), img));
}
BENCHMARK(BM_ChangeListFullImage)->Unit(benchmark::kMicrosecond);

// The same, with its texts in Polish, as the window shows it.
void BM_ChangeListTextFullImage(benchmark::State& state) {
    const Image img = fullImage();
    for (auto _ : state)
        benchmark::DoNotOptimize(texts::describeChanges(listChanges(initialImage(), img), texts::kPolish));
}
BENCHMARK(BM_ChangeListTextFullImage)->Unit(benchmark::kMicrosecond);

void BM_CheckFullImage(benchmark::State& state) {
    const Image img = fullImage();
    for (auto _ : state) benchmark::DoNotOptimize(checkConfiguration(img));
}
BENCHMARK(BM_CheckFullImage)->Unit(benchmark::kMicrosecond);

// The merge at its busiest: every resident changed on one side or both
// (a third of them in conflict), every key moved to another flat, every
// general code and digitizer changed, settings and free bytes on both sides.
void BM_MergeFullImages(benchmark::State& state) {
    const Image base = fullImage();
    Image file = base, controller = base;
    for (int line = 1; line <= 2; ++line)
        for (int local = 1; local <= 255; ++local) {
            const std::size_t off = residentOffset(ResidentCode::Open, line, local);
            if (local % 3 != 1) file[off + 1] ^= 0x01;
            if (local % 3 != 2) controller[off + 1] ^= 0x02;
        }
    for (int i = 0; i < 512; ++i) (i % 2 ? file : controller)[mem::kKeys + 8 * i + 1] ^= 0x80;
    for (int i = 0; i < 64; ++i) (i % 2 ? file : controller)[mem::kGeneralAttrs + 2 * i] ^= 0x40;
    for (int i = 0; i < 96; ++i) (i % 2 ? file : controller)[mem::kDigitAssigns + 2 * i + 1] ^= 0x10;
    for (std::size_t off = 0; off < 0x2000; off += 64) file[off] = 1, controller[off + 32] = 2;
    writeLE16(file, mem::kWords, 3000);
    writeLE16(controller, mem::kWords + 2, 3000);
    const ImageVersion b{base, "A"}, f{file, "B"}, c{controller, "A"};
    for (auto _ : state) {
        const ThreeWayMerge m = mergeVersions(b, f, c);
        benchmark::DoNotOptimize(resolveMerge(m, chooseAll(m, MergeChoice::Controller)));
    }
}
BENCHMARK(BM_MergeFullImages)->Unit(benchmark::kMicrosecond);

}  // namespace
