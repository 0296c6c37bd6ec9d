#pragma once
// The progress line on stderr: a bar, done of total, percent, elapsed and
// remaining time, redrawn in place at most ten times a second.
#include <chrono>
#include <string>

namespace kelvane::cli {

class Progress {
public:
    Progress(bool enabled, int total, std::string label);
    ~Progress();  // ends the line
    void set(int done);
    // The line for the given state (no carriage return).
    static std::string line(const std::string& label, int done, int total, double elapsedS);

private:
    bool enabled_;
    int total_;
    std::string label_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace kelvane::cli
