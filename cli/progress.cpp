#include "cli/progress.h"

#include <cstdio>

namespace kelvane::cli {

namespace {

std::string clock(double s) {
    const int t = static_cast<int>(s + 0.5);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d:%02d", t / 60, t % 60);
    return buf;
}

}  // namespace

Progress::Progress(bool enabled, int total, std::string label)
    : enabled_(enabled), total_(total), label_(std::move(label)), start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
    if (drawn_) std::fputs("\n", stderr);
}

std::string Progress::line(const std::string& label, int done, int total, double elapsedS) {
    constexpr int kWidth = 30;
    const int filled = total > 0 ? done * kWidth / total : 0;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kWidth, '.');
    const int percent = total > 0 ? done * 100 / total : 0;
    const std::string left = done > 0 ? clock(elapsedS * (total - done) / done) : "?";
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s [%s] %d/%d %3d%%  %s elapsed, %s left", label.c_str(), bar.c_str(), done, total,
                  percent, clock(elapsedS).c_str(), left.c_str());
    return buf;
}

void Progress::set(int done) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && done < total_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stderr, "\r%s\033[K", line(label_, done, total_, elapsed).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace kelvane::cli
