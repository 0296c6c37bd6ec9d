#pragma once
// The program log: warnings and errors, one line each with the local time,
// beside the traces. When it passes maxBytes it becomes "<name>.1" (the one
// before that goes) and a new one begins. A log that cannot be written is
// left alone: logging never stops the program.
#include <mutex>
#include <string>

namespace kelvane {

class ProgramLog {
public:
    explicit ProgramLog(std::string path, long long maxBytes = 1024 * 1024)
        : path_(std::move(path)), maxBytes_(maxBytes) {}

    // level: "warning", "error"... Thread-safe.
    void add(const std::string& level, const std::string& text);
    const std::string& path() const { return path_; }

private:
    std::mutex mutex_;
    std::string path_;
    long long maxBytes_;
};

}  // namespace kelvane
