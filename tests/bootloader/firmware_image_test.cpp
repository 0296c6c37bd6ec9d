#include "bootloader/firmware_image.h"
#include "tests/bootloader/recording_view.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/file.h>
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using namespace kelvane::bootloader;

namespace {

class FirmwareFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("orva_fw_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        old_ = fs::current_path();
        fs::current_path(dir_);
    }
    void TearDown() override {
        fs::current_path(old_);
        fs::remove_all(dir_);
    }
    void write(const std::vector<std::uint8_t>& bytes) {
        std::ofstream f(kFirmwareFileName, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<std::uint8_t> file(std::size_t imageBytes, std::uint8_t salt = 0) {
        std::vector<std::uint8_t> v{'O', 'r', 'v', 'a'};
        for (std::size_t i = 0; i < imageBytes; ++i) v.push_back(static_cast<std::uint8_t>(i * 7 + salt));
        return v;
    }
    fs::path dir_, old_;
    UpgradeState state;
    RecordingView view;
};

TEST_F(FirmwareFile, MissingFileIsReportedWithAFreshErasedBuffer) {
    EXPECT_FALSE(LoadFirmwareImage(state, view));
    EXPECT_EQ(view.status, "Brak pliku: 4817_05.dat");
    EXPECT_EQ(view.calls.front(), "clear");
    ASSERT_TRUE(state.image);
    EXPECT_EQ(state.image->size(), kImageSize);
    EXPECT_EQ(std::count(state.image->begin(), state.image->end(), 0xFF), static_cast<long>(kImageSize));
}

TEST_F(FirmwareFile, SignatureMustMatchByteForByte) {
    const std::vector<std::vector<std::uint8_t>> bad = {
        {'O', 'r', 'v', 'b', 1, 2, 3},  // fourth byte differs
        {'O', 'x', 'x', 'x', 1, 2, 3},  // only the first byte matches
        {'o', 'r', 'v', 'a', 1, 2, 3},  // other letter case
        {'O', 'R', 'V', 'A', 1, 2, 3},
        {'O', 'r', 'v'},  // shorter than the signature
        {},
    };
    for (const auto& bytes : bad) {
        write(bytes);
        view = RecordingView{};
        EXPECT_FALSE(LoadFirmwareImage(state, view));
        EXPECT_EQ(view.status, "B\u0142\u0119dny plik: 4817_05.dat");
    }
}

TEST_F(FirmwareFile, SignatureAloneLeavesItInTheFirstBlock) {
    write(file(0));
    ASSERT_TRUE(LoadFirmwareImage(state, view));
    EXPECT_TRUE(view.calls.empty());  // success shows nothing
    const auto& img = *state.image;
    EXPECT_EQ(std::string(img.begin(), img.begin() + 4), "Orva");
    EXPECT_TRUE(std::all_of(img.begin() + 4, img.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(FirmwareFile, ShortImagePartsKeepErasedBytesAndSignatureRemains) {
    write(file(2));  // two image bytes: signature bytes 2 and 3 stay behind them
    ASSERT_TRUE(LoadFirmwareImage(state, view));
    EXPECT_EQ((*state.image)[0], 0);
    EXPECT_EQ((*state.image)[1], 7);
    EXPECT_EQ((*state.image)[2], 'v');
    EXPECT_EQ((*state.image)[3], 'a');
    EXPECT_EQ((*state.image)[4], 0xFF);

    write(file(100));
    ASSERT_TRUE(LoadFirmwareImage(state, view));
    const auto& img = *state.image;
    for (std::size_t i = 0; i < 100; ++i) ASSERT_EQ(img[i], static_cast<std::uint8_t>(i * 7));
    EXPECT_TRUE(std::all_of(img.begin() + 100, img.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(FirmwareFile, FullImageAndAnythingBeyondItIsIgnored) {
    auto full = file(kImageSize, 3);
    write(full);
    ASSERT_TRUE(LoadFirmwareImage(state, view));
    const auto first = *state.image;
    EXPECT_TRUE(std::equal(first.begin(), first.end(), full.begin() + 4));

    full.insert(full.end(), 5000, 0x42);
    write(full);
    ASSERT_TRUE(LoadFirmwareImage(state, view));
    EXPECT_EQ(*state.image, first);
}

TEST_F(FirmwareFile, EveryLoadReadsTheFileAgainIntoANewBuffer) {
    write(file(kImageSize, 1));
    ASSERT_TRUE(LoadFirmwareImage(state, view));
    write(file(10, 2));
    ASSERT_TRUE(LoadFirmwareImage(state, view));
    EXPECT_EQ((*state.image)[0], 2);
    EXPECT_EQ((*state.image)[10], 0xFF);  // nothing of the longer first file remains
    // The file is not kept open: it can be removed right away.
    EXPECT_TRUE(fs::remove(kFirmwareFileName));
}

TEST_F(FirmwareFile, DirectoryOfThatNameCountsAsMissing) {
    fs::create_directory(kFirmwareFileName);
    EXPECT_FALSE(LoadFirmwareImage(state, view));
    EXPECT_EQ(view.status, "Brak pliku: 4817_05.dat");
}

#ifndef _WIN32
TEST_F(FirmwareFile, FifoOrDeviceOfThatNameCountsAsMissingWithoutBlocking) {
    for (const char* target : {"fifo", "/dev/zero"}) {
        SCOPED_TRACE(target);
        fs::remove(kFirmwareFileName);
        if (std::string(target) == "fifo")
            ASSERT_EQ(::mkfifo(kFirmwareFileName, 0600), 0);
        else
            fs::create_symlink(target, kFirmwareFileName);
        auto load = std::async(std::launch::async, [&] { return LoadFirmwareImage(state, view); });
        if (load.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
            ADD_FAILURE() << "the load blocked";
            ::close(::open(kFirmwareFileName, O_WRONLY | O_NONBLOCK));  // lets it go
        }
        EXPECT_FALSE(load.get());
        EXPECT_EQ(view.status, "Brak pliku: 4817_05.dat");
    }
}

#endif

TEST_F(FirmwareFile, FileLockedByAnotherProgramCountsAsMissing) {
    write(file(16));
#ifdef _WIN32
    // Any other open handle keeps the exclusive open out.
    std::FILE* held = std::fopen(kFirmwareFileName, "rb");
    ASSERT_NE(held, nullptr);
#else
    int fd = ::open(kFirmwareFileName, O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
#endif
    EXPECT_FALSE(LoadFirmwareImage(state, view));
    EXPECT_EQ(view.status, "Brak pliku: 4817_05.dat");
#ifdef _WIN32
    std::fclose(held);
#else
    ::close(fd);
#endif
    EXPECT_TRUE(LoadFirmwareImage(state, view));
}

}  // namespace
