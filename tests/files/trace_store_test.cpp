// The traces folder keeps the newest sessions within its count and size, and
// nobody but its owner reads it.
#include "files/private_file.h"
#include "files/trace_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

TEST(TraceStore, OldestTracesGoFirstByCountAndBySizeAndAllStayPrivate) {
    const struct {
        const char* name;
        int maxCount;
        long long maxBytes;
        int sessions;
        int kept;
    } cases[] = {{"by count", 5, 1 << 20, 8, 5}, {"by size", 50, 2500, 8, 3}, {"within both", 50, 1 << 20, 8, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = fs::temp_directory_path() / ("trace_store_" + std::to_string(::getpid())) / "traces";
        fs::remove_all(folder.parent_path());
        const kelvane::TraceStore store{folder.string(), c.maxCount, c.maxBytes};
        std::vector<std::string> made;
        for (int i = 0; i < c.sessions; ++i) {
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "20261209-0500%02d-000", i);
            const std::string path = store.newTracePath(stamp, "test");
            ASSERT_FALSE(path.empty());
            kelvane::PrivateFile f;
            ASSERT_TRUE(f.open(path));
            ASSERT_TRUE(f.write(std::string(1000, 'x')));
            made.push_back(path);
        }
        const std::vector<std::string> kept = store.traces();
        EXPECT_EQ(kept, std::vector<std::string>(made.end() - c.kept, made.end()));
#ifndef _WIN32
        EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
        for (const std::string& t : kept)
            EXPECT_EQ(fs::status(t).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
#endif
        EXPECT_EQ(store.traces(1), std::vector<std::string>{made.back()});
        fs::remove_all(folder.parent_path());
    }
}

}  // namespace
