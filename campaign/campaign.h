#pragma once
// One seeded run of the fault campaign: the programs' own probe, transfers
// and firmware upgrade against the simulated controller or bootloader,
// through a faulty line, in virtual time; then the invariants every run must
// keep, whatever the line did:
//   1 ended: the run ends within its bound (and promptly after a cancel);
//   2 truthful: success is reported only for what really happened (the
//     downloaded image is the controller's, the upload or flash left exactly
//     the intended image), and a run without faults succeeds;
//   3 failure: a failure or cancel names its cause (cancelled, no answer...)
//     and never claims success;
//   4 upload closed: an upload that sent its command also sent the end frame,
//     unless the port itself failed;
//   5 no stray write: nothing outside the intended blocks was written; the
//     bootloader got no end byte after a failed block and no block out of
//     place;
//   6 no other building: the upload flow sends nothing unless the guard
//     found the image's own controller or the technician said to send anyway;
//   7 one image: after the upload flow the controller holds what it held, the
//     file or the merge with what it held (after a failed send each block
//     from one of those), never a mix.
// Where the wire has no check (the controller's frames and acknowledgements,
// the bootloader's answers), a run whose faults changed those bytes cannot be
// judged on content: invariants 2 and 5 are then waived for its content and
// counted as such.
#include "sim/fault_tap.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::campaign {

// UploadFlow: the upload as the programs run it, guard and merge included
// (campaign/upload_flow_runs.cpp).
enum class Op { Probe, Download, UploadChanged, UploadAll, Check, Flash, UploadFlow };
constexpr int kOps = 7;
const char* opName(Op op);
std::optional<Op> opByName(const std::string& name);

constexpr int kInvariants = 7;
extern const std::array<const char*, kInvariants> kInvariantNames;

// What a seed decides besides the faults.
struct RunSetup {
    std::uint64_t seed = 0;
    Op op = Op::Probe;
    bool interruptedDownloadFirst = false;  // a download cancelled just before
    std::int64_t cancelAtMs = -1;           // Esc / Stop after the op started; none when negative
    int frameOrder = 0;                     // the controller's order of download frames
    sim::FaultPlan plan;
};

// The run of a seed; op and only narrow the draw (a campaign over one
// operation, a fixed seed for one fault kind).
RunSetup setupFor(std::uint64_t seed, std::optional<Op> op = std::nullopt, std::optional<sim::Fault> only = std::nullopt);

// A bug planted on purpose, to show the campaign finds it.
struct Plant {
    bool downloadLosesABlock = false;    // a completed download lacks one block
    bool uploadIgnoresTheGuard = false;  // the upload flow sends after the guard's question was answered no
};

struct RunResult {
    std::array<bool, kInvariants> broken{};
    std::array<bool, kInvariants> waived{};
    std::string why;  // what the first broken invariant saw
    std::vector<sim::FaultEvent> faults;
    std::int64_t opMs = 0;  // virtual time the operation took
    bool succeeded = false;
    bool ok() const;
};

// Runs a seed's setup; with `kept`, only those faults happen (see FaultTap).
RunResult run(const RunSetup& setup, const std::optional<std::vector<int>>& kept = std::nullopt, const Plant& plant = {});

// The fewest faults (by ordinal) with which the run still breaks the same
// invariant: each fault is left out in turn and stays out if it still fails.
std::vector<int> shrink(const RunSetup& setup, const RunResult& failed, const Plant& plant = {});

// One line naming a run: seed, operation, cancel and its faults.
std::string describe(const RunSetup& setup, const RunResult& result);

}  // namespace kelvane::campaign
