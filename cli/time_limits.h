#pragma once
// How long kvtool waits at most, as its --help and docs/kvtool.md state them.
#include "jobs/stall_watch.h"
#include "link/quiet_line.h"
#include "link/transfer.h"

namespace kelvane::cli {

// The longest a whole download or upload may take: the wait for a line still
// busy with an earlier download, then twice the line time of a full image at
// 2400 baud, and 10 s for the read in progress, so the transfer's own bounds
// come first. Only a controller (or line) that keeps sending without ever
// finishing reaches it; silence ends a transfer much sooner.
constexpr int kTransferLimitMs = kelvane::link::kQuietLineLimitMs + kelvane::link::kDownloadLimitMs + 10000;

// Longest time the bootloader may stay without a visible step (a status text
// or a programmed block) before a flash is given up as a time-out; covers the
// wait for the banner, which the protocol itself repeats without end. The
// job's own limit (jobs/stall_watch.h), the same in Orva_Upgrade.
constexpr int kFlashSilenceMs = kelvane::jobs::kFlashStallMs;

}  // namespace kelvane::cli
