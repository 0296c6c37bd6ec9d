// Low latency set after the open and taken off before the close, on a driver
// that records it, and left alone where the driver refuses.
#include "link/low_latency.h"

#include <gtest/gtest.h>

#include <vector>

using kelvane::link::kLowLatencyFlag;

TEST(LowLatency, SetAfterOpenTakenOffOnCloseIgnoredWhereRefused) {
    struct Driver {
        int flags;
        bool refuseGet, refuseSet;
    };
    struct Case {
        const char* what;
        Driver driver;
        bool enabled;
        std::vector<int> written;
    } cases[] = {
        {"adapter", {0x10, false, false}, true, {0x10 | kLowLatencyFlag, 0x10}},
        {"pty", {0x10, true, false}, false, {}},
        {"driver refuses the change", {0x10, false, true}, false, {}},
        {"already low latency", {0x10 | kLowLatencyFlag, false, false}, false, {}},
    };
    for (Case& c : cases) {
        Driver& d = c.driver;
        std::vector<int> written;
        kelvane::link::LowLatency line({[&d](int, int& f) {
                                            f = d.flags;
                                            return !d.refuseGet;
                                        },
                                        [&d, &written](int, int f) {
                                            if (d.refuseSet) return false;
                                            d.flags = f;
                                            written.push_back(f);
                                            return true;
                                        }});
        EXPECT_EQ(line.enable(3), c.enabled) << c.what;
        line.restore();
        line.restore();  // a second close takes off nothing more
        EXPECT_EQ(written, c.written) << c.what;
    }
    EXPECT_FALSE(kelvane::link::LowLatency().enable(-1));  // no device: nothing asked
}
