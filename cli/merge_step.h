#pragma once
// The three-way merge as the commands run it: the three groups printed, the
// conflicts decided by --prefer or the command stopped.
#include "cli/tool_context.h"
#include "image/merge.h"

#include <string>

namespace kelvane::cli {

struct MergeStep {
    int exit = 0;                  // kDone, or kDifferences when conflicts stay or rows do not fit
    kelvane::ImageVersion merged;  // what to send or write, with kDone
};

// `baseDate` names the base in the "changed at the controller since" title.
MergeStep mergeWithBase(const Tool& tool, const std::string& baseDate, const kelvane::ImageVersion& base,
                        const kelvane::ImageVersion& file, const kelvane::ImageVersion& controller);

}  // namespace kelvane::cli
