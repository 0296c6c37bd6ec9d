// The company register's sync inside one process, without the program's
// start: the register opened once, then syncs with nothing new, each timed
// (company_sync_bench.sh runs it against the register it made).
//
//   company_sync_time REGISTER URL [RUNS]
#include "registry/building_register.h"
#include "registry/company_sync.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: company_sync_time REGISTER URL [RUNS]\n");
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
    const auto address = kelvane::registry::parseServerUrl(argv[2]);
    if (!address) return 2;
    const Clock::time_point opening = Clock::now();
    kelvane::registry::Register reg;
    if (!reg.open(argv[1])) {
        std::fprintf(stderr, "%s\n", reg.error().c_str());
        return 1;
    }
    const double opened = ms(Clock::now() - opening);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        const auto r = kelvane::registry::syncNow(reg, *address);
        times.push_back(ms(Clock::now() - start));
        if (!r.ok) {
            std::fprintf(stderr, "%s\n", r.error.c_str());
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "register opened in %.1f ms; sync with nothing new: median %.1f ms, fastest %.1f ms, slowest %.1f ms"
        " (%d runs)\n",
        opened, times[times.size() / 2], times.front(), times.back(), runs);
    return 0;
}
