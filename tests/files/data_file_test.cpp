#include "files/cp1250.h"
#include "files/data_file.h"
#include "sim/sample_building.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace kelvane;

TEST(DataFile, ImageThenDescriptionInWindows1250) {
    const Image img = sampleBuildingImage();
    const std::string text = "Blok ul. Łódzka 5\r\nklatka B: ł";
    const auto bytes = writeDataFile(img, text);
    ASSERT_EQ(bytes.size(), kImageSize + 30);
    EXPECT_TRUE(std::equal(img.begin(), img.end(), bytes.begin()));
    EXPECT_EQ(bytes[kImageSize + 9], 0xA3);  // Ł
    EXPECT_EQ(bytes.back(), 0xB3);           // ł
    const auto back = readDataFile(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->image, img);
    EXPECT_EQ(back->description, text);
}

TEST(DataFile, AnImageAloneHasAnEmptyDescriptionAndAShortFileIsRefused) {
    std::vector<std::uint8_t> bytes(kImageSize, 0x11);
    auto file = readDataFile(bytes);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->description.empty());
    bytes.pop_back();
    EXPECT_FALSE(readDataFile(bytes));
    EXPECT_FALSE(readDataFile({}));
}

TEST(DataFile, SavingAndLoadingFiles) {
    // Test runs of other build folders share the temporary directory.
    const std::string path = testing::TempDir() + "/round_" + std::to_string(std::random_device{}()) + ".kvd";
    EXPECT_TRUE(saveDataFileTo(path, initialImage(), "Opis"));
    auto file = loadDataFileFrom(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->image, initialImage());
    EXPECT_EQ(file->description, "Opis");
    EXPECT_TRUE(saveDataFileTo(path, sampleBuildingImage(), ""));  // replaces the old file
    EXPECT_EQ(loadDataFileFrom(path)->description, "");
    std::remove(path.c_str());
    EXPECT_FALSE(loadDataFileFrom(path));
    EXPECT_FALSE(saveDataFileTo(testing::TempDir() + "/no/such/dir/x.kvd", initialImage(), ""));
    // A directory opens but cannot be read: a load error, not an exception.
    EXPECT_FALSE(loadDataFileFrom(testing::TempDir()));
    EXPECT_FALSE(saveDataFileTo(testing::TempDir(), initialImage(), ""));
    std::ofstream(path, std::ios::binary) << "short";
    EXPECT_FALSE(loadDataFileFrom(path));
    std::remove(path.c_str());
}

TEST(DataFile, AReadErrorAfterTheImageLoadsNothing) {
    // Hands out a file's bytes, then fails like a disk would part-way through.
    struct FailingBuffer : std::streambuf {
        std::vector<char> bytes;
        std::size_t failAt = 0;
        int_type underflow() override {
            const std::size_t end = std::min(failAt, bytes.size());
            if (gptr() == nullptr) setg(bytes.data(), bytes.data(), bytes.data() + end);
            if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
            if (end == failAt) throw std::ios_base::failure("read error");
            return traits_type::eof();
        }
    };
    const auto file = writeDataFile(sampleBuildingImage(), "opis");
    for (const std::size_t failAt : {kImageSize + 2, file.size(), file.size() + 1}) {
        FailingBuffer buffer;
        buffer.bytes.assign(file.begin(), file.end());
        buffer.failAt = failAt;
        std::istream in(&buffer);
        EXPECT_EQ(loadDataFileFrom(in).has_value(), failAt > file.size()) << failAt;
    }
}

TEST(DataFile, AFailedSaveLeavesTheOldFileWhole) {
    namespace fs = std::filesystem;
    const std::string path = testing::TempDir() + "/keep_" + std::to_string(std::random_device{}()) + ".kvd";
    ASSERT_TRUE(saveDataFileTo(path, sampleBuildingImage(), "stary opis"));
    // The file was made read-only: the save is refused and says why.
    fs::permissions(path, fs::perms::owner_read, fs::perm_options::replace);
    WriteFault fault = WriteFault::None;
    EXPECT_FALSE(saveDataFileTo(path, initialImage(), "nowy", &fault));
    EXPECT_EQ(fault, WriteFault::ReadOnly);
    const auto kept = loadDataFileFrom(path);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->image, sampleBuildingImage());
    EXPECT_EQ(kept->description, "stary opis");
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace);
    std::remove(path.c_str());
}

TEST(DataFile, NamesWithPolishLettersSaveAndLoad) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(testing::TempDir()) / ("names_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    for (const char* name : {u8"Krak\u00f3w.kvd", u8"Wroc\u0142aw.kvd", u8"Gda\u0144sk.kvd"}) {
        const fs::path path = dir / fs::u8path(name);
        EXPECT_TRUE(saveDataFileTo(path, sampleBuildingImage(), name)) << name;
        const auto back = loadDataFileFrom(path);
        ASSERT_TRUE(back) << name;
        EXPECT_EQ(back->image, sampleBuildingImage());
        EXPECT_EQ(pathToUtf8(fs::directory_iterator(dir)->path().filename()), name);
        fs::remove(path);
    }
    fs::remove_all(dir);
}

TEST(DataFile, OnlyRegularFilesUpToTheSizeLimitAreReadAndNothingBlocks) {
    const std::string dir = testing::TempDir() + "/kinds_" + std::to_string(std::random_device{}());
    std::filesystem::create_directory(dir);
    const std::string fifo = dir + "/fifo.kvd", big = dir + "/big.kvd";
    struct Case {
        std::string path;
        std::uintmax_t size;  // for a regular file made to this size
        bool loads;
    };
    std::vector<Case> cases = {
        {big, kImageSize + kMaxDescriptionBytes, true},
        {big, kImageSize + kMaxDescriptionBytes + 1, false},
    };
#ifndef _WIN32
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    cases.push_back({fifo, 0, false});
    cases.push_back({"/dev/zero", 0, false});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.size));
        if (c.path == big) {
            std::ofstream(big, std::ios::binary | std::ios::trunc).close();
            std::filesystem::resize_file(big, c.size);
        }
        auto load = std::async(std::launch::async, [&] { return loadDataFileFrom(c.path).has_value(); });
        if (load.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
            ADD_FAILURE() << "the load blocked";
#ifndef _WIN32
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // lets it go
#endif
        }
        EXPECT_EQ(load.get(), c.loads);
    }
    std::filesystem::remove_all(dir);
}

TEST(Cp1250, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(utf8ToCp1250(cp1250ToUtf8(all)), all);
    EXPECT_EQ(cp1250ToUtf8("\xB3"), "ł");
    EXPECT_EQ(cp1250ToUtf8("\x80"), "€");
    EXPECT_EQ(utf8ToCp1250("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ"),
              "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF");
}

TEST(Cp1250, UnmappableOrBrokenTextKeepsTheRest) {
    EXPECT_EQ(utf8ToCp1250("a€b"),
              "a\x80"
              "b");
    EXPECT_EQ(utf8ToCp1250("a漢b"), "a?b");                // no Windows-1250 byte
    EXPECT_EQ(utf8ToCp1250("a\xC5"), "a?");                // cut off sequence
    EXPECT_EQ(utf8ToCp1250("a\xC5z"), "a?z");              // bad continuation
    EXPECT_EQ(utf8ToCp1250("a\xF0\x9F\x98\x80z"), "a?z");  // outside the BMP
    EXPECT_EQ(utf8ToCp1250("\r\n"), "\r\n");
}

TEST(Cp1250, NamesEachCharacterThatWouldBecomeAQuestionMark) {
    const struct {
        const char* text;
        const char* lost;
    } cases[] = {
        {"Klatka Ж 中", "Ж 中"},
        {"Ж Ж ąę Ж?", "Ж"},  // each once; Polish letters and "?" itself survive
        {"a\xC5z", "\xC5"},  // a broken sequence is lost too
        {"a\xF0\x9F\x98\x80z", "\xF0\x9F\x98\x80"},
        {"zażółć € ł\r\n", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(cp1250Unmappable(c.text), c.lost) << c.text;
}
