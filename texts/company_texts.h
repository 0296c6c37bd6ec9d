#pragma once
// The company register's setup and sync in words: why one ended, what a
// setup did, why everything travelled again, which pulled rows were refused
// and what went each way. The reasons' details (a file, a table, libpq's or
// the server's own words) are filled in as they are.
#include "registry/company_results.h"

#include <string>

namespace kelvane::texts {

// "the company register's schema (version 9) is newer than this program's: update the program"
std::string serverReasonText(const registry::ServerReason& reason, int language);
std::string setupStepText(const registry::SetupDone& done, int language);
// "skipped a row from the company register: visits: a visit whose image was refused"
std::string skippedRowText(const registry::SkippedRow& row, int language);
std::string skippedMoreText(int more, int language);
// "pushed: visits 3, images 3 (rows 6, bytes 70 112)"; the kinds with rows only.
std::string syncCountsText(const registry::SyncCounts& counts, bool pushed, int language);

// The texts by their keys, for the reviewed copy of every text.
enum class SyncText {
    Pushed,       // "%1": the counts
    Pulled,       // "%1": the counts
    Nothing,      // no row of any kind
    Controllers,  // "%1": how many
    Visits,
    SavedFiles,
    Images,
    FieldEdits,
    Withdrawn,
    Traffic,      // "%1" rows, "%2" bytes
    SkippedRow,   // "%1": the row's table and why
    SkippedMore,  // "%1": how many more
    Count         // not a text: how many there are
};
const char* syncText(SyncText text, int language);
const char* problemText(registry::ServerProblem problem, int language);
const char* stringProblemText(registry::StringProblem problem, int language);
const char* resendReasonText(registry::Resend why, int language);  // empty for Resend::None
const char* setupText(registry::SetupStep step, int language);
const char* skipText(registry::SkipReason reason, int language);
const char* textName(SyncText text);
const char* textName(registry::ServerProblem problem);
const char* textName(registry::StringProblem problem);
const char* textName(registry::Resend why);
const char* textName(registry::SetupStep step);
const char* textName(registry::SkipReason reason);

}  // namespace kelvane::texts
