// Window contents of any text: building an image succeeds or stops with a
// report, never writing outside the image; an image that was built shows and
// builds again without a report, and settles at the second rebuild.
#include "fuzz/fuzz_check.h"
#include "image/parameters.h"
#include "image/window_data.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

namespace {

struct Reporter : kelvane::RowReporter {
    bool abortOnInvalid = false;
    int reports = 0;
    bool invalidEntry(kelvane::GridId, int, const kelvane::Grid&) override {
        ++reports;
        return abortOnInvalid;
    }
    void repeatedEntry(kelvane::GridId, int, const kelvane::Grid&) override { ++reports; }
    void tableFull(kelvane::GridId, int, const kelvane::Grid&) override { ++reports; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvane;
    FuzzedDataProvider in(data, size);
    const Image& start = initialImage();
    WindowData window = showImage(start);
    Reporter reporter;
    reporter.abortOnInvalid = in.ConsumeBool();
    for (int g = 0; g < kGridCount; ++g) {
        Grid& grid = window.grids[g];
        const int rows = in.ConsumeIntegralInRange(0, g == 0 ? 600 : 120);
        for (int r = 0; r < rows && in.remaining_bytes() > 0; ++r) {
            Grid::Row row;
            for (int c = 0; c < grid.columns(); ++c) row.push_back(in.ConsumeRandomLengthString(24));
            grid.append(row);
        }
    }
    for (const Parameter& p : parameterTable()) {
        if (in.remaining_bytes() == 0) break;
        ControlState& state = window.controls[p.control];
        state.value = in.ConsumeIntegral<int>();
        state.text = in.ConsumeRandomLengthString(12);
    }
    const auto built = buildImage(window, start, reporter);
    if (!built) {
        FUZZ_CHECK(reporter.reports > 0);  // a refusal always says why
        return 0;
    }
    Reporter again;
    const auto second = buildImage(showImage(*built), *built, again);
    FUZZ_CHECK(second && again.reports == 0);
    const auto third = buildImage(showImage(*second), *second, again);
    FUZZ_CHECK(third && *third == *second && again.reports == 0);
    return 0;
}
