// What a firmware job leaves in the register, whatever program ran it.
#include "jobs/flash_visits.h"

#include <gtest/gtest.h>

namespace {

using namespace kelvane;
using jobs::JobEnd;
using registry::VisitKind;

TEST(FlashVisits, EachOutcomeLeavesTheBackupAndTheFlashWithBothVersions) {
    const link::ProbeReply before{1, 4660, 259}, after{1, 4660, 106};
    Image backup = initialImage();
    backup[100] = 7;
    struct Visit {
        VisitKind kind;
        int firmware;
        std::string outcome;
        bool image;
    };
    const struct Case {
        const char* name;
        JobEnd result;
        bool hasBefore, hasAfter, hasBackup, hasNow;
        std::vector<Visit> visits;
    } cases[] = {
        {"verified",
         JobEnd::Done,
         true,
         true,
         true,
         true,
         {{VisitKind::Backup, 259, "completed", true}, {VisitKind::Flash, 106, "completed, firmware 259 -> 106", true}}},
        {"changed",
         JobEnd::Changed,
         true,
         true,
         true,
         true,
         {{VisitKind::Backup, 259, "completed", true},
          {VisitKind::Flash, 106, "completed, configuration changed, firmware 259 -> 106", true}}},
        {"never came back",
         JobEnd::NotBack,
         true,
         false,
         true,
         false,
         {{VisitKind::Backup, 259, "completed", true}, {VisitKind::Flash, 259, "no answer", false}}},
        {"without a backup",
         JobEnd::Done,
         true,
         true,
         false,
         false,
         {{VisitKind::Flash, 106, "completed, firmware 259 -> 106", false}}},
        {"from the bootloader", JobEnd::Done, false, true, false, false, {{VisitKind::Flash, 106, "completed", false}}},
        {"no controller", JobEnd::NoController, false, false, false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        jobs::JobResult job;
        job.end = c.result;
        if (c.hasBefore) job.before = before;
        if (c.hasAfter) job.after = after;
        if (c.hasBackup) job.backup = backup;
        if (c.hasNow) job.now = initialImage();
        const auto visits = jobs::flashVisits(job, "COM3");
        ASSERT_EQ(visits.size(), c.visits.size());
        for (std::size_t i = 0; i < visits.size(); ++i) {
            EXPECT_EQ(visits[i].kind, c.visits[i].kind);
            EXPECT_EQ(visits[i].firmware, c.visits[i].firmware);
            EXPECT_EQ(visits[i].outcome, c.visits[i].outcome);
            EXPECT_EQ(visits[i].image.has_value(), c.visits[i].image);
            EXPECT_EQ(visits[i].key, (registry::ControllerKey{1, 4660}));
            EXPECT_EQ(visits[i].port, "COM3");
        }
        if (c.hasBackup) {
            EXPECT_EQ(*visits[0].image, backup);
        }
    }
}

}  // namespace
