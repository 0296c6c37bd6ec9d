#include "texts/upload_text.h"

#include "image/configuration_check.h"
#include "texts/configuration_warnings.h"
#include "texts/language_table.h"
#include "texts/merge_text.h"

#include <algorithm>
#include <cstdio>

namespace kelvane::texts {

namespace {

std::vector<ChangeGroup> groups(const jobs::Proposal& proposal, const jobs::Plan& plan, int language,
                                const std::string& baseDate, bool withConflicts) {
    std::vector<ChangeGroup> out;
    std::vector<ChangeGroup> changes = describeChanges(
        plan.changes, language, proposal.deviceKnown ? ChangeSides::BeforeAndAfter : ChangeSides::AfterOnly);
    if (proposal.merge) {
        out = describeMerge(*proposal.merge, baseDate, language);
        const std::string conflicts = messageText(Message::MergeConflicts, language);
        if (!withConflicts && !out.empty() && out.back().title == conflicts) out.pop_back();
        // What goes on the line, as the plain list says it.
        for (auto& g : changes)
            if (g.kind == ChangeGroupKind::Upload) out.push_back(std::move(g));
    } else {
        out = std::move(changes);
    }
    for (auto& g : warningGroups(checkConfiguration(plan.image), language)) out.push_back(std::move(g));
    return out;
}

}  // namespace

std::vector<ChangeGroup> uploadGroups(const jobs::Proposal& proposal, const jobs::Plan& plan, int language,
                                      const std::string& baseDate) {
    return groups(proposal, plan, language, baseDate, true);
}

std::vector<ChangeGroup> uploadGroupsWithoutConflicts(const jobs::Proposal& proposal, const jobs::Plan& plan,
                                                      int language, const std::string& baseDate) {
    return groups(proposal, plan, language, baseDate, false);
}

std::string guardReasonText(const jobs::Guard& guard, int language) {
    switch (guard.reason) {
    case jobs::GuardReason::RegisterUnavailable: {
        char buf[1024];
        std::snprintf(buf, sizeof buf, messageText(Message::GuardNoRegister, language), guard.registerError.c_str());
        return buf;
    }
    case jobs::GuardReason::NoAnswer: return messageText(Message::GuardNoAnswer, language);
    case jobs::GuardReason::OriginUnknown: return messageText(Message::GuardOriginUnknown, language);
    case jobs::GuardReason::NoDataKey: return messageText(Message::GuardNoDataKey, language);
    case jobs::GuardReason::None: break;
    }
    return {};
}

}  // namespace kelvane::texts
