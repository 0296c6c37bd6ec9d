// kvtool through ser2net at 0, 50 and 150 ms one-way delay against the
// controller simulator paced at 2400 baud: a full download, and an upload of
// 16 changed blocks as kvtool does it (probe, read the controller, merge,
// send), each against the same over the pty itself. Prints the
// time, the overhead and the round trips the protocol waited for (turns of
// the talk at the delaying proxy). Run by remote_bench.sh.
// Usage: remote_bench KVTOOL KELVANE_SIM
#include "files/data_file.h"
#include "tests/cli/remote_helpers.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

namespace {

std::string kvtool, simPath, work;

double run(std::vector<std::string> args) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open("/dev/null", O_RDWR), 0);
        ::dup2(::open("/dev/null", O_RDWR), 1);
        ::setenv("HOME", work.c_str(), 1);
        ::setenv("KELVANE_REGISTER", (work + "/register.sqlite").c_str(), 1);
        ::setenv("KELVANE_KEY_FILE", (work + "/data.key").c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        args.insert(args.begin(), kvtool);
        args.push_back("--quiet");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(kvtool.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "kvtool failed: %s\n", args[0].c_str());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    kvtool = argv[1];
    simPath = argv[2];
    char tmpl[] = "/tmp/remote-bench-XXXXXX";
    work = ::mkdtemp(tmpl);
    ptytest::PtyPair pair;
    ptytest::Child sim({simPath, "--port", pair.devPath(), "--paced", "--baud", "2400"}, true);
    if (!sim.waitForLine("ready", 3000)) return 1;
    const std::string a = work + "/a.kvd", b = work + "/b.kvd", edited = work + "/edited.kvd";
    int round = 0;
    // An upload of 16 blocks that differ from what the controller holds now.
    const auto upload = [&](const std::string& port) {
        auto f = kelvane::loadDataFileFrom(a);
        if (!f) return -1.0;
        ++round;
        for (std::size_t block = 100; block < 116; ++block)
            f->image[block * 32 + 5] ^= static_cast<std::uint8_t>(round);
        kelvane::saveDataFileTo(edited, f->image, "");
        return run({"upload", "--port", port, edited, "--yes", "--other-controller"});
    };
    struct Row {
        std::string what;
        double download, upload;
        long turnsDown, turnsUp;
    };
    std::vector<Row> rows;
    rows.push_back({"pty", run({"download", "--port", pair.appPath(), "-o", a}), upload(pair.appPath()), 0, 0});
    remotetest::Ser2net gateway(work, pair.appPath());
    if (!gateway.ready()) return 1;
    for (int delay : {0, 50, 150}) {
        Row r{std::to_string(delay) + " ms", 0, 0, 0, 0};
        const auto url = [](int port) { return "rfc2217://127.0.0.1:" + std::to_string(port); };
        {
            remotetest::Proxy proxy(gateway.port(), {delay, -1, -1, {}, {}});
            r.download = run({"download", "--port", url(proxy.port()), "-o", b});
            r.turnsDown = proxy.turns();
        }
        {
            remotetest::Proxy proxy(gateway.port(), {delay, -1, -1, {}, {}});
            r.upload = upload(url(proxy.port()));
            r.turnsUp = proxy.turns();
        }
        rows.push_back(r);
    }
    std::printf("%-8s %10s %10s %6s %10s %10s %6s\n", "line", "download", "overhead", "turns", "upload", "overhead",
                "turns");
    for (const Row& r : rows)
        std::printf("%-8s %9.3fs %+9.3fs %6ld %9.3fs %+9.3fs %6ld\n", r.what.c_str(), r.download,
                    r.download - rows[0].download, r.turnsDown, r.upload, r.upload - rows[0].upload, r.turnsUp);
    std::filesystem::remove_all(work);
    return 0;
}
