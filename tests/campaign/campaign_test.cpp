// Fixed seeds of the fault campaign, each with one kind of fault, so a
// regression names its cause; and the campaign's power to find a bug.
#include "campaign/campaign.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace kelvane::campaign;
using kelvane::sim::Fault;

struct FixedSeed {
    Fault kind;
    Op op;
    std::uint64_t seed;
    bool succeeds;  // whether the operation gets through this fault
};

// Each seed was picked for the fault happening at least once in it.
const FixedSeed kFixedSeeds[] = {
    {Fault::Drop, Op::Flash, 3, false},  // a lost byte: the bootloader refuses, the run fails
    {Fault::Duplicate, Op::UploadChanged, 16, true},
    {Fault::FlipBit, Op::Download, 4, true},
    {Fault::Stray, Op::Probe, 31, false},
    {Fault::Reorder, Op::Check, 2, true},
    {Fault::Delay, Op::Download, 1, true},  // an answer held beyond the frame time-out, then resent frames
    // Answers later than the read: the bootloader took frames the tool sent
    // again, so the flash is out of step with the file; the run fails.
    {Fault::Late, Op::Flash, 1, false},
    {Fault::WrongAnswer, Op::UploadChanged, 19, true},  // the acknowledgement's value is not looked at
    {Fault::Resend, Op::UploadChanged, 31, true},
    {Fault::Chatter, Op::UploadChanged, 2, true},
    {Fault::Cut, Op::Download, 2, false},
    {Fault::Reset, Op::Download, 2, false},
};

TEST(CampaignTest, FixedSeedsKeepEveryInvariant) {
    for (const auto& row : kFixedSeeds) {
        SCOPED_TRACE(std::string(kelvane::sim::faultName(row.kind)) + " " + opName(row.op) + " seed " +
                     std::to_string(row.seed));
        const RunSetup setup = setupFor(row.seed, row.op, row.kind);
        const RunResult r = run(setup);
        int happened = 0;
        for (const auto& f : r.faults) happened += f.kind == row.kind;
        EXPECT_GT(happened, 0);
        EXPECT_TRUE(r.ok()) << describe(setup, r);
        EXPECT_EQ(r.succeeded, row.succeeds) << describe(setup, r);
    }
}

// Seeds that once broke an invariant, with what they found.
const std::pair<std::uint64_t, const char*> kRegressions[] = {
    {11, "an upload whose acknowledgement never came left the controller in upload mode"},
    {151, "a download with block 511 first was reported done, the other blocks erased"},
    {272, "a probe after a cancelled download took the rest of the image for the identity"},
    {526,
     "noise before the first answer put every acknowledgement one frame early: an upload "
     "was reported done while the controller lacked its last frame"},
    {5963863,
     "a probe after a cancelled download took for the identity the last eight bytes the controller "
     "sent after a pause longer than one read, just before it went silent"},
};

TEST(CampaignTest, SeedsThatOnceFailedKeepEveryInvariant) {
    for (const auto& [seed, found] : kRegressions) {
        const RunSetup setup = setupFor(seed);
        const RunResult r = run(setup);
        EXPECT_TRUE(r.ok()) << found << "\n" << describe(setup, r);
    }
}

// A replay is the same run: same faults at the same moments, same outcome.
TEST(CampaignTest, ASeedReplaysExactly) {
    for (std::uint64_t seed : {7u, 8u, 9u}) {
        const RunSetup setup = setupFor(seed);
        const RunResult a = run(setup), b = run(setup);
        ASSERT_EQ(a.faults.size(), b.faults.size());
        for (std::size_t i = 0; i < a.faults.size(); ++i) {
            EXPECT_EQ(a.faults[i].kind, b.faults[i].kind);
            EXPECT_EQ(a.faults[i].atMs, b.faults[i].atMs);
        }
        EXPECT_EQ(a.opMs, b.opMs);
        EXPECT_EQ(a.succeeded, b.succeeded);
    }
}

// A download that completes without one of its blocks is found among the
// first 10,000 seeds, the seed fails only because of the bug, and the
// shrinker shows that it needs no fault at all.
TEST(CampaignTest, FindsAPlantedBugWithinTenThousandSeeds) {
    Plant plant;
    plant.downloadLosesABlock = true;
    std::optional<std::uint64_t> found;
    RunResult failed;
    for (std::uint64_t seed = 1; seed <= 10000 && !found; ++seed) {
        const RunSetup setup = setupFor(seed);
        if (setup.op != Op::Download && setup.op != Op::Check) continue;
        const RunResult r = run(setup, std::nullopt, plant);
        if (r.broken[1] && run(setup).ok()) {
            found = seed;
            failed = r;
        }
    }
    ASSERT_TRUE(found.has_value());
    const RunSetup setup = setupFor(*found);
    const std::vector<int> kept = shrink(setup, failed, plant);
    EXPECT_TRUE(kept.empty());
    EXPECT_TRUE(run(setup, kept, plant).broken[1]);
}

// An upload flow that sends although the technician said no to the guard's
// question is found within a few hundred seeds of the flow alone.
TEST(CampaignTest, FindsAnUploadThatIgnoresTheGuard) {
    Plant plant;
    plant.uploadIgnoresTheGuard = true;
    std::optional<std::uint64_t> found;
    for (std::uint64_t seed = 1; seed <= 500 && !found; ++seed) {
        const RunSetup setup = setupFor(seed, Op::UploadFlow);
        if (run(setup, std::nullopt, plant).broken[5] && run(setup).ok()) found = seed;
    }
    EXPECT_TRUE(found.has_value());
}

}  // namespace
