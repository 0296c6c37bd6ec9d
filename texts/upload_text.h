#pragma once
// The upload's texts, made from its typed results for the window and kvtool
// alike: the confirmation's list and why the guard cannot tell where an
// image came from.
#include "jobs/upload_flow.h"
#include "texts/change_text.h"

#include <string>
#include <vector>

namespace kelvane::texts {

// The confirmation's groups: the merge's (to be sent, kept, conflicts) or
// the change list, the blocks and line time of what `plan` sends, then the
// configuration's warnings about what the controller will hold.
std::vector<ChangeGroup> uploadGroups(const jobs::Proposal& proposal, const jobs::Plan& plan, int language,
                                      const std::string& baseDate);
// The merge's groups without its conflicts: what the window lists above the rows to decide.
std::vector<ChangeGroup> uploadGroupsWithoutConflicts(const jobs::Proposal& proposal, const jobs::Plan& plan,
                                                      int language, const std::string& baseDate);

// Why the guard cannot tell ("the controller does not answer the probe").
std::string guardReasonText(const jobs::Guard& guard, int language);

}  // namespace kelvane::texts
