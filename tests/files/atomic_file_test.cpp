// Replacing a file keeps what its owner set on it: its permissions, and a
// symbolic link to it stays a link.
#include "files/atomic_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#ifndef _WIN32
namespace fs = std::filesystem;

TEST(AtomicFile, ReplacedFileKeepsItsPermissionsAndItsLink) {
    const fs::path dir = fs::path(testing::TempDir()) / ("atomic_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const fs::path file = dir / "private.kvd", link = dir / "link.kvd";
    for (bool viaLink : {false, true}) {
        SCOPED_TRACE(viaLink ? "through a link" : "the file itself");
        ASSERT_TRUE(kelvane::WriteFileAtomically(file.string(), "old", 3));
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
        if (viaLink) fs::create_symlink(file.filename(), link);
        ASSERT_TRUE(kelvane::WriteFileAtomically((viaLink ? link : file).string(), "new", 3));
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");
        EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(fs::is_symlink(link), viaLink);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), viaLink ? 2 : 1);
    }
    fs::remove_all(dir);
}
#endif
