// campaign: seeded runs of the programs' line protocols through a faulty line
// in virtual time, every run checked against the invariants (campaign.h).
//
//   campaign [--seeds N] [--from S] [--op OP] [--kind FAULT] [--jobs J] [--shrink K]
//   campaign --replay SEED [--op OP] [--kind FAULT] [--keep 3,7,...]
//
// Prints runs per second, the tallies of every invariant (held, waived,
// broken) and each failing seed with the command that replays it; --shrink
// reduces the first K failures to their fewest faults. Exit 1 when any run
// broke an invariant.
#include "campaign/campaign.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace kelvane::campaign;

namespace {

struct Options {
    std::string program = "campaign";
    std::uint64_t seeds = 1000;
    std::uint64_t from = 1;
    std::optional<Op> op;
    std::optional<kelvane::sim::Fault> kind;
    unsigned jobs = 1;
    int shrinkCount = 3;
    std::optional<std::uint64_t> replay;
    std::optional<std::vector<int>> keep;
};

[[noreturn]] void usage(const std::string& why) {
    std::cerr << "campaign: " << why << "\n"
              << "usage: campaign [--seeds N] [--from S] [--op OP] [--kind FAULT] [--jobs J] [--shrink K]\n"
              << "       campaign --replay SEED [--op OP] [--kind FAULT] [--keep ORDINALS]\n"
              << "OP: probe download upload upload-all check flash\nFAULT:";
    for (const auto& k : kelvane::sim::kFaultTable) std::cerr << ' ' << k.name;
    std::cerr << "\n";
    std::exit(2);
}

std::uint64_t number(const std::string& s) {
    try {
        std::size_t used = 0;
        const auto v = std::stoull(s, &used);
        if (used == s.size()) return v;
    } catch (...) {
    }
    usage("not a number: " + s);
}

Options parse(int argc, char** argv) {
    Options o;
    if (argc > 0) o.program = argv[0];
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "--seeds")
            o.seeds = number(value());
        else if (a == "--from")
            o.from = number(value());
        else if (a == "--jobs")
            o.jobs = static_cast<unsigned>(std::max<std::uint64_t>(1, number(value())));
        else if (a == "--shrink")
            o.shrinkCount = static_cast<int>(number(value()));
        else if (a == "--replay")
            o.replay = number(value());
        else if (a == "--op") {
            o.op = opByName(value());
            if (!o.op) usage("unknown operation");
        } else if (a == "--kind") {
            o.kind = kelvane::sim::faultByName(value());
            if (!o.kind) usage("unknown fault kind");
        } else if (a == "--keep") {
            std::vector<int> keep;
            std::stringstream in(value());
            for (std::string part; std::getline(in, part, ',');)
                if (!part.empty()) keep.push_back(static_cast<int>(number(part)));
            o.keep = keep;
        } else
            usage("unknown argument " + a);
    }
    return o;
}

std::string replayCommand(const Options& o, std::uint64_t seed, const std::vector<int>* keep = nullptr) {
    std::string cmd = o.program + " --replay " + std::to_string(seed);
    if (o.op) cmd += std::string(" --op ") + opName(*o.op);
    if (o.kind) cmd += std::string(" --kind ") + kelvane::sim::faultName(*o.kind);
    if (keep) {
        cmd += " --keep ";
        for (std::size_t i = 0; i < keep->size(); ++i) cmd += (i ? "," : "") + std::to_string((*keep)[i]);
        if (keep->empty()) cmd += "\"\"";
    }
    return cmd;
}

struct Tally {
    std::array<std::uint64_t, kInvariants> broken{}, waived{};
    std::array<std::uint64_t, kOps> runs{}, succeeded{};
    std::uint64_t faults = 0;
    std::vector<std::uint64_t> failures;
    // What the failures saw, numbers left out: how many, and the first seed.
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> causes;

    void cause(const std::string& why, std::uint64_t count, std::uint64_t seed) {
        auto& c = causes.try_emplace(why, 0, seed).first->second;
        c.first += count;
        c.second = std::min(c.second, seed);
    }

    void add(const RunSetup& s, const RunResult& r) {
        for (int i = 0; i < kInvariants; ++i) {
            broken[i] += r.broken[i];
            waived[i] += r.waived[i];
        }
        ++runs[static_cast<int>(s.op)];
        succeeded[static_cast<int>(s.op)] += r.succeeded;
        faults += r.faults.size();
        if (r.ok()) return;
        failures.push_back(s.seed);
        std::string why;
        for (char ch : r.why)
            if (!std::isdigit(static_cast<unsigned char>(ch)))
                why += ch;
            else if (why.empty() || why.back() != 'N')
                why += 'N';
        cause(why, 1, s.seed);
    }
    void merge(const Tally& t) {
        for (int i = 0; i < kInvariants; ++i) {
            broken[i] += t.broken[i];
            waived[i] += t.waived[i];
        }
        for (int i = 0; i < kOps; ++i) {
            runs[i] += t.runs[i];
            succeeded[i] += t.succeeded[i];
        }
        faults += t.faults;
        failures.insert(failures.end(), t.failures.begin(), t.failures.end());
        for (const auto& [why, c] : t.causes) cause(why, c.first, c.second);
    }
};

int replay(const Options& o) {
    const RunSetup setup = setupFor(*o.replay, o.op, o.kind);
    const RunResult r = run(setup, o.keep);
    std::cout << describe(setup, r) << "\n"
              << (r.ok() ? "every invariant held" : "FAILED") << (r.succeeded ? " (reported success)" : "") << ", "
              << r.opMs << " ms virtual\n";
    return r.ok() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    if (o.replay) return replay(o);

    std::atomic<std::uint64_t> next{0};
    std::mutex mutex;
    Tally total;
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (unsigned j = 0; j < o.jobs; ++j) {
        threads.emplace_back([&] {
            Tally mine;
            for (std::uint64_t i; (i = next++) < o.seeds;) {
                const RunSetup setup = setupFor(o.from + i, o.op, o.kind);
                mine.add(setup, run(setup));
            }
            std::lock_guard<std::mutex> lock(mutex);
            total.merge(mine);
        });
    }
    for (auto& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::sort(total.failures.begin(), total.failures.end());
    std::printf("%llu runs (seeds %llu..%llu) in %.1f s on %u jobs: %.0f runs/s, %llu faults injected\n",
                static_cast<unsigned long long>(o.seeds), static_cast<unsigned long long>(o.from),
                static_cast<unsigned long long>(o.from + o.seeds - 1), seconds, o.jobs,
                static_cast<double>(o.seeds) / seconds, static_cast<unsigned long long>(total.faults));
    for (int i = 0; i < kOps; ++i)
        if (total.runs[i])
            std::printf("  %-11s %9llu runs, %9llu reported success\n", opName(static_cast<Op>(i)),
                        static_cast<unsigned long long>(total.runs[i]),
                        static_cast<unsigned long long>(total.succeeded[i]));
    for (int i = 0; i < kInvariants; ++i)
        std::printf("  invariant %d %-15s held %9llu, waived %9llu, broken %llu\n", i + 1, kInvariantNames[i],
                    static_cast<unsigned long long>(o.seeds - total.broken[i] - total.waived[i]),
                    static_cast<unsigned long long>(total.waived[i]), static_cast<unsigned long long>(total.broken[i]));
    for (const auto& [why, c] : total.causes)
        std::printf("  %7llu x %s (first: seed %llu)\n", static_cast<unsigned long long>(c.first), why.c_str(),
                    static_cast<unsigned long long>(c.second));
    int shown = 0;
    for (std::uint64_t seed : total.failures) {
        const RunSetup setup = setupFor(seed, o.op, o.kind);
        const RunResult r = run(setup);
        std::printf("FAIL %s\n  replay: %s\n", describe(setup, r).c_str(), replayCommand(o, seed).c_str());
        if (shown < o.shrinkCount) {
            const std::vector<int> keep = shrink(setup, r);
            std::printf("  shrunk to %zu of %zu faults: %s\n", keep.size(), r.faults.size(),
                        replayCommand(o, seed, &keep).c_str());
        }
        if (++shown == 50) {
            std::printf("... %zu failures in all\n", total.failures.size());
            break;
        }
    }
    return total.failures.empty() ? 0 : 1;
}
