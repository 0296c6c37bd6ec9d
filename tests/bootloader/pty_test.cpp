// One whole upgrade over a socat pty pair: the real QSerialPort line on one
// end, the command-line bootloader simulator on the other.
#include "bootloader/bootloader_protocol.h"
#include "bootloader/firmware_image.h"
#include "session/qt_serial_line.h"
#include "tests/bootloader/recording_view.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;
namespace fs = std::filesystem;
using namespace kelvane::bootloader;

namespace {

bool haveSocat() { return std::system("command -v socat >/dev/null 2>&1") == 0; }

pid_t spawn(const std::vector<std::string>& args, const std::string& out = {}) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (!out.empty()) posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

bool waitFor(const std::function<bool()>& done, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class PtyRun : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveSocat()) GTEST_SKIP() << "socat is not installed";
        dir_ = fs::temp_directory_path() / ("orva_pty_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        tool_ = (dir_ / "tool").string();
        device_ = (dir_ / "device").string();
        socat_ = spawn({"socat", "pty,raw,echo=0,link=" + tool_, "pty,raw,echo=0,link=" + device_});
        ASSERT_GT(socat_, 0);
        ASSERT_TRUE(waitFor([&] { return fs::exists(tool_) && fs::exists(device_); }, 5000));
    }
    void TearDown() override {
        for (pid_t pid : {sim_, socat_})
            if (pid > 0) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    void startSimulator(const std::vector<std::string>& extra) {
        std::vector<std::string> args = {ORVA_BOOTLOADER_SIM, "--port", device_, "--flash-out",
                                         (dir_ / "flash.bin").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        sim_ = spawn(args, (dir_ / "sim.out").string());
        ASSERT_GT(sim_, 0);
        ASSERT_TRUE(waitFor([&] { return slurp(dir_ / "sim.out").find("ready") != std::string::npos; }, 5000));
    }
    int simulatorExit() {
        int status = -1;
        if (!waitFor([&] { return ::waitpid(sim_, &status, WNOHANG) == sim_; }, 5000)) return -1;
        sim_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir_;
    std::string tool_, device_;
    pid_t socat_ = -1, sim_ = -1;
};

TEST_F(PtyRun, ShortFirmwareFileIsProgrammedOverTheRealLine) {
    startSimulator({});
    // A short file: signature and 1,000 image bytes; the rest is sent erased.
    {
        std::ofstream f(dir_ / kFirmwareFileName, std::ios::binary);
        f.write("Orva", 4);
        for (int i = 0; i < 1000; ++i) f.put(static_cast<char>(i * 13));
    }
    UpgradeState state;
    RecordingView view;
    ASSERT_TRUE(loadFirmwareImageFrom((dir_ / kFirmwareFileName).string(), state, view));

    StopFlag stop;
    StoppableClock clock(stop, 20);  // the protocol's pauses shrink; line time and time-outs do not
    int result = -1;
    // QSerialPort belongs to the thread that opens it: the whole run is on one.
    QThread* worker = QThread::create([&] {
        kelvane::session::QtSerialLine line;
        UpgradeLink link{line, clock, stop, view};
        if (OpenUpgradePort(state, link, tool_) && RequestBootloader(state, link))
            result = static_cast<int>(UpgradeWorker(state, link));
    });
    worker->start();
    ASSERT_TRUE(worker->wait(60000));
    delete worker;

    EXPECT_EQ(result, 1);
    EXPECT_EQ(view.shown.at(0), "ID: 7 Ser: 1234 FV: 105");
    EXPECT_EQ(view.status, "Zrobione!");
    EXPECT_EQ(view.position, kBlockCount);
    EXPECT_EQ(simulatorExit(), 0);
    EXPECT_NE(slurp(dir_ / "sim.out").find("ended=1 blocks=7680 frames=7680 bad=0"), std::string::npos);
    const std::string flash = slurp(dir_ / "flash.bin");
    ASSERT_EQ(flash.size(), kImageSize);
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), state.image->begin(),
                           [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
