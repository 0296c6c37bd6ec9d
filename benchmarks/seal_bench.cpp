// What sealing costs: one image sealed and opened, its lookup hash, and the
// sealing of a plain register of 1,000 controllers and 20,000 visits (every
// visit its own image, as register_bench makes them) at the first open with
// a key, the rewriting of the whole file included. The plain register is
// generated once into $TMPDIR/kelvane_seal_bench/ and copied for each run.
#include "files/sealing.h"
#include "registry/building_register.h"
#include "sim/sample_building.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

namespace {

namespace fs = std::filesystem;
using namespace kelvane::registry;

constexpr int kControllers = 1000;
constexpr int kVisitsEach = 20;

fs::path folder() { return fs::temp_directory_path() / "kelvane_seal_bench"; }

kelvane::Image imageFor(int c, int v) {
    kelvane::Image img = kelvane::sampleBuildingImage();
    std::mt19937 building(static_cast<unsigned>(c));
    for (std::size_t i = 0; i < kelvane::mem::kKeyCount * kelvane::mem::kKeyRecordSize; ++i)
        img[kelvane::mem::kKeys + i] = static_cast<std::uint8_t>(building());
    for (int k = 0; k <= v % 4; ++k)
        img[kelvane::mem::kOpenLU1 + static_cast<std::size_t>((c * 7 + v * 3 + k) % 1000)] =
            static_cast<std::uint8_t>(0x10 + v % 80);
    return img;
}

void BM_SealAndOpenImage(benchmark::State& state) {
    const auto key = kelvane::DataKey::generate();
    const kelvane::Image image = imageFor(1, 1);
    for (auto _ : state) {
        const auto sealed = kelvane::sealBytes(*key, image.data(), image.size(), "kelvane image 1");
        benchmark::DoNotOptimize(kelvane::openBytes(*key, sealed.data(), sealed.size(), "kelvane image 1"));
    }
}
BENCHMARK(BM_SealAndOpenImage)->Unit(benchmark::kMicrosecond);

void BM_LookupHash(benchmark::State& state) {
    const auto key = kelvane::DataKey::generate();
    const kelvane::Image image = imageFor(1, 1);
    for (auto _ : state) benchmark::DoNotOptimize(kelvane::lookupHash(*key, image.data(), image.size()));
}
BENCHMARK(BM_LookupHash)->Unit(benchmark::kMicrosecond);

// The plain register, made once (an older program's: schema 2).
fs::path plainRegister() {
    const fs::path file = folder() / "plain.sqlite";
    if (fs::exists(file)) return file;
    fs::create_directories(folder());
    const fs::path making = folder() / "making.sqlite";
    fs::remove(making);
    {
        Register reg;
        if (!reg.open(making.string(), 2)) std::exit(1);
        for (int v = 0; v < kVisitsEach; ++v)
            for (int c = 0; c < kControllers; ++c) {
                NewVisit visit;
                visit.key = {1, c + 1};
                visit.image = imageFor(c, v);
                char time[32];
                std::snprintf(time, sizeof time, "2025-%02d-%02dT%02d:%02d:00+01:00", 1 + v % 12, 1 + c % 28,
                              8 + c % 10, c % 60);
                visit.time = time;
                if (!reg.recordVisit(visit)) std::exit(1);
            }
    }
    fs::rename(making, file);
    return file;
}

void BM_SealPlainRegister(benchmark::State& state) {
    const fs::path plain = plainRegister();
    const fs::path copy = folder() / "sealing.sqlite";
    const auto key = kelvane::DataKey::generate();
    for (auto _ : state) {
        state.PauseTiming();
        for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(copy.string() + suffix);
        fs::copy_file(plain, copy);
        state.ResumeTiming();
        Register reg;
        reg.setDataKey(key);
        if (!reg.open(copy.string()) || !reg.imagesNote().empty()) state.SkipWithError(reg.error().c_str());
    }
    state.counters["file MB"] = static_cast<double>(fs::file_size(copy)) / 1e6;
    state.counters["plain MB"] = static_cast<double>(fs::file_size(plain)) / 1e6;
}
BENCHMARK(BM_SealPlainRegister)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
