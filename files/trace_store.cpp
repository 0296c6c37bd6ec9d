#include "files/trace_store.h"

#include "files/private_file.h"
#include "image/local_time.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace kelvane {

namespace fs = std::filesystem;

std::vector<std::string> TraceStore::traces(int newest) const {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path& p = it->path();
        if (p.extension() == kTraceExtension && it->is_regular_file(error)) found.push_back(p.string());
    }
    std::sort(found.begin(), found.end());
    if (newest > 0 && found.size() > static_cast<std::size_t>(newest)) found.erase(found.begin(), found.end() - newest);
    return found;
}

void TraceStore::prune(int room, long long roomBytes) const {
    std::vector<std::string> all = traces();
    std::vector<long long> sizes;
    long long total = 0;
    for (const std::string& t : all) {
        std::error_code error;
        const auto s = static_cast<long long>(fs::file_size(t, error));
        sizes.push_back(error ? 0 : s);
        total += sizes.back();
    }
    std::size_t first = 0;
    while (first < all.size() &&
           (static_cast<long long>(all.size() - first) + room > maxCount || total + roomBytes > maxBytes)) {
        std::error_code error;
        fs::remove(all[first], error);
        total -= sizes[first];
        ++first;
    }
}

std::string TraceStore::newTracePath(const std::string& stamp, const std::string& program) const {
    if (!makePrivateFolder(folder)) return {};
    prune(1);
    const std::string base = (fs::path(folder) / (stamp + "-" + program)).string();
    std::string path = base + kTraceExtension;
    std::error_code error;
    for (int n = 2; fs::exists(path, error); ++n) path = base + "-" + std::to_string(n) + kTraceExtension;
    return path;
}

std::string traceStamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    char millis[8];
    std::snprintf(millis, sizeof millis, "-%03d", ms);
    return formatLocalTime(t, "%Y%m%d-%H%M%S") + millis;
}

}  // namespace kelvane
