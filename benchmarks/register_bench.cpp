// The building register at the size of a busy technician's years: 1,000
// controllers, 20 visits each (20,000 visits, every visit its own image, a few
// codes apart from the one before). Measures looking a controller up by its
// identity, recording a visit (image stored, change count against the
// previous image, one transaction), listing a controller's visits and all
// buildings (what the register's window opens with); reports the file's size.
// The register is generated once into $TMPDIR and reused by later runs.
#include "registry/building_register.h"
#include "registry/key_store.h"
#include "shell/register_dialog.h"
#include "sim/sample_building.h"

#include <QApplication>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <random>

namespace {

namespace fs = std::filesystem;
using namespace kelvane::registry;

constexpr int kControllers = 1000;
constexpr int kVisitsEach = 20;

fs::path registerFile() { return fs::temp_directory_path() / "kelvane_register_bench" / "register.sqlite"; }

// Visit v of controller c: a full building of its own (512 keys and 510
// residents' open codes, random per controller, the hardest case for the
// compression), with a few open codes changed from one visit to the next.
kelvane::Image imageFor(int c, int v) {
    kelvane::Image img = kelvane::sampleBuildingImage();
    std::mt19937 building(static_cast<unsigned>(c));
    const auto bcd = [&] { return static_cast<std::uint8_t>((building() % 10) << 4 | building() % 10); };
    for (std::size_t i = 0; i < kelvane::mem::kKeyCount * kelvane::mem::kKeyRecordSize; ++i)
        img[kelvane::mem::kKeys + i] = static_cast<std::uint8_t>(building());
    for (std::size_t i = 0; i < 2 * kelvane::mem::kResidentsPerLine * 2; ++i) img[kelvane::mem::kOpenLU1 + i] = bcd();
    for (int k = 0; k <= v % 4; ++k)
        img[kelvane::mem::kOpenLU1 + static_cast<std::size_t>((c * 7 + v * 3 + k) % 1000)] =
            static_cast<std::uint8_t>(0x10 + v % 80);
    return img;
}

std::unique_ptr<Register> g_register;  // closed before the application ends

Register& generated() {
    if (g_register) return *g_register;
    g_register = std::make_unique<Register>();
    Register& reg = *g_register;
    const bool existed = fs::exists(registerFile());
    if (!reg.open(registerFile().string())) {
        std::fprintf(stderr, "register: %s\n", reg.error().c_str());
        std::exit(1);
    }
    if (!existed || reg.controllers().size() < static_cast<std::size_t>(kControllers)) {
        for (int v = 0; v < kVisitsEach; ++v)
            for (int c = 0; c < kControllers; ++c) {
                NewVisit visit;
                visit.key = {1, c + 1};
                visit.firmware = 259;
                visit.port = "/dev/ttyUSB0";
                visit.image = imageFor(c, v);
                char time[32];
                std::snprintf(time, sizeof time, "2025-%02d-%02dT%02d:%02d:00+01:00", 1 + v % 12,
                              1 + v / 12 * 14 + c % 14, 8 + c % 10, c % 60);
                visit.time = time;
                if (!reg.recordVisit(visit)) {
                    std::fprintf(stderr, "register: %s\n", reg.error().c_str());
                    std::exit(1);
                }
            }
        for (int c = 0; c < kControllers; c += 3)
            reg.describe({1, c + 1}, "Building " + std::to_string(c + 1), "Street " + std::to_string(c));
    }
    return reg;
}

void BM_LookupByIdentity(benchmark::State& state) {
    Register& reg = generated();
    std::mt19937 random(1);
    for (auto _ : state) benchmark::DoNotOptimize(reg.controller({1, 1 + static_cast<int>(random() % kControllers)}));
    state.counters["file MB"] = static_cast<double>(fs::file_size(registerFile())) / 1e6;
}
BENCHMARK(BM_LookupByIdentity)->Unit(benchmark::kMillisecond);

void BM_RecordVisit(benchmark::State& state) {
    Register& reg = generated();
    std::mt19937 random(2);
    int n = 0;
    for (auto _ : state) {
        NewVisit visit;
        visit.key = {1, 1 + static_cast<int>(random() % kControllers)};
        visit.firmware = 259;
        visit.port = "/dev/ttyUSB0";
        visit.image = imageFor(visit.key.serialNumber, 1000 + ++n);
        if (!reg.recordVisit(visit)) state.SkipWithError(reg.error().c_str());
    }
}
BENCHMARK(BM_RecordVisit)->Unit(benchmark::kMillisecond);

void BM_VisitsOfOneBuilding(benchmark::State& state) {
    Register& reg = generated();
    std::mt19937 random(3);
    for (auto _ : state) benchmark::DoNotOptimize(reg.visits({1, 1 + static_cast<int>(random() % kControllers)}));
}
BENCHMARK(BM_VisitsOfOneBuilding)->Unit(benchmark::kMillisecond);

void BM_AllBuildings(benchmark::State& state) {
    Register& reg = generated();
    for (auto _ : state) benchmark::DoNotOptimize(reg.controllers());
}
BENCHMARK(BM_AllBuildings)->Unit(benchmark::kMillisecond);

void BM_SearchBuildings(benchmark::State& state) {
    Register& reg = generated();
    for (auto _ : state) benchmark::DoNotOptimize(reg.controllers("building 12"));
}
BENCHMARK(BM_SearchBuildings)->Unit(benchmark::kMillisecond);

void BM_OriginOfAnImage(benchmark::State& state) {
    Register& reg = generated();
    const kelvane::Image image = imageFor(500, 10);
    for (auto _ : state) benchmark::DoNotOptimize(reg.originsOf(image));
}
BENCHMARK(BM_OriginOfAnImage)->Unit(benchmark::kMillisecond);

// The register's window opened and shown with every building listed and the
// first building's visits.
void BM_OpenRegisterWindow(benchmark::State& state) {
    Register& reg = generated();
    for (auto _ : state) {
        kelvane::shell::RegisterDialog dialog(nullptr, reg, {});
        dialog.show();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(dialog.buildings()->topLevelItemCount());
    }
}
BENCHMARK(BM_OpenRegisterWindow)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The images sealed as the programs seal them, with a key kept beside the
    // register (which later runs reuse).
    fs::create_directories(registerFile().parent_path());
    kelvane::registry::setKeyFile((registerFile().parent_path() / "data.key").string());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_register.reset();
    return 0;
}
