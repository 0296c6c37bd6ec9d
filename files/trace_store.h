#pragma once
// The folder that keeps the traces of the last line sessions: one file per
// session, named by the time it began so that name order is age order. A new
// trace first makes room: the oldest go until fewer than maxCount remain and
// those kept take at most maxBytes (the new one, still growing, comes on top).
#include <string>
#include <vector>

namespace kelvane {

inline constexpr const char* kTraceExtension = ".trace";

struct TraceStore {
    std::string folder;
    int maxCount = 50;
    long long maxBytes = 20LL * 1024 * 1024;

    // The path of a new trace (the file is not made), after pruning; empty
    // when the folder cannot be made. stamp: the session's start as
    // "YYYYMMDD-HHMMSS-mmm"; program goes into the name.
    std::string newTracePath(const std::string& stamp, const std::string& program) const;
    // Removes the oldest traces until `room` more files and `roomBytes` more
    // bytes fit within the limits.
    void prune(int room = 0, long long roomBytes = 0) const;
    // The traces, oldest first; at most `newest` of the newest when positive.
    std::vector<std::string> traces(int newest = 0) const;
};

// The local time now as "YYYYMMDD-HHMMSS-mmm".
std::string traceStamp();

}  // namespace kelvane
