#pragma once
// An UpgradeView that keeps what was shown, for the protocol tests.
#include "bootloader/upgrade_view.h"

#include <string>
#include <vector>

struct RecordingView : kelvane::bootloader::UpgradeView {
    std::string status;              // the status line as it stands
    std::vector<std::string> shown;  // every complete status line, in order
    std::vector<std::string> calls;  // every call except progress positions
    int low = -1, high = -1, position = -1, positionCalls = 0, ended = 0;

    void clearStatus() override {
        if (!status.empty()) shown.push_back(status);
        status.clear();
        calls.push_back("clear");
    }
    void appendStatus(const std::string& s) override {
        status += s;
        calls.push_back("+" + s);
    }
    void setProgressRange(int l, int h) override {
        low = l;
        high = h;
        calls.push_back("range");
    }
    void setProgress(int p) override {
        position = p;
        ++positionCalls;
    }
    void runEnded() override {
        ++ended;
        calls.push_back("ended");
    }
    std::size_t callCount() const { return calls.size() + positionCalls; }
};
