#pragma once
// An UpgradeReport that keeps what was shown, as Orva's status line shows
// it (cleared, then built piece by piece), for the protocol tests.
#include "bootloader/upgrade_report.h"
#include "texts/upgrade_texts.h"

#include <optional>
#include <string>
#include <vector>

struct RecordingView : kelvane::bootloader::UpgradeReport {
    std::string status;              // the status line as it stands
    std::vector<std::string> shown;  // every complete status line, in order
    std::vector<std::string> calls;  // every call except progress positions
    int low = -1, high = -1, position = -1, positionCalls = 0, ended = 0;

    std::optional<kelvane::bootloader::UpgradeStatus> last;

    void showStatus(const kelvane::bootloader::UpgradeStatus& s) override {
        last = s;
        clearStatus();
        for (const std::string& piece : kelvane::texts::upgrade::statusPieces(s)) appendStatus(piece);
    }
    void clearStatus() {
        if (!status.empty()) shown.push_back(status);
        status.clear();
        calls.push_back("clear");
    }
    void appendStatus(const std::string& s) {
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
