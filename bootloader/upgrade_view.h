#pragma once
// What the upgrade logic shows: the window's status line, its progress bar and
// the end notice of a run. The window implements it; tests record it.
#include <string>

namespace kelvane::bootloader {

class UpgradeView {
public:
    virtual ~UpgradeView() = default;
    // The status line: a message is shown by clearing it, then appending.
    virtual void clearStatus() = 0;
    virtual void appendStatus(const std::string& utf8) = 0;
    // What explains the status line (why a port did not open), shown where
    // the line has no room: as its tooltip. Clearing the line clears it.
    virtual void setStatusDetail(const std::string& utf8) { (void)utf8; }
    virtual void setProgressRange(int low, int high) = 0;
    virtual void setProgress(int position) = 0;
    // The worker ended by itself (the button goes back to "Start").
    virtual void runEnded() = 0;
};

inline void ShowStatus(UpgradeView& view, const std::string& utf8) {
    view.clearStatus();
    view.appendStatus(utf8);
}

}  // namespace kelvane::bootloader
