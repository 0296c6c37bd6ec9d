// What tracing costs a download: the whole 512-frame download from the
// simulated controller in virtual time (so only the program's own work is
// timed), untraced and traced into a file as the programs trace it (every
// event handed to the system at once).
#include "files/private_file.h"
#include "link/port.h"
#include "link/traced_line.h"
#include "link/transfer.h"
#include "sim/controller.h"
#include "sim/sample_building.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

using namespace kelvane;

void download(link::Line& line, sim::VirtualClock& clock, benchmark::State& state) {
    link::OpenPort(line, "COM8");
    link::TransferContext ctx{line, clock, nullptr, {}, {}};
    if (link::DownloadThread(ctx).result != link::DownloadResult::Completed) state.SkipWithError("download failed");
    line.close();
}

void BM_Download(benchmark::State& state) {
    const bool traced = state.range(0) != 0;
    const std::string path = (std::filesystem::temp_directory_path() / "kelvane_trace_bench.trace").string();
    for (auto _ : state) {
        sim::VirtualClock clock;
        sim::Controller device(sampleBuildingImage());
        sim::VirtualLine virtualLine(clock, device);
        if (!traced) {
            download(virtualLine, clock, state);
            continue;
        }
        auto file = std::make_shared<PrivateFile>();
        file->open(path);
        link::TracedLine line(
            virtualLine, [file](const std::string& t) { return file->write(t); }, "bench");
        download(line, clock, state);
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_Download)->Arg(0)->Arg(1)->ArgNames({"traced"})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
