#include "jobs/upload_flow.h"

#include <algorithm>
#include <utility>

namespace kelvane::jobs {

namespace {

// What the confirmation compares with when the controller was not read: an
// image that differs from `image` in every byte, so every block is listed as
// sent, as every block is.
Image standIn(const Image& image) {
    Image other{};
    for (std::size_t i = 0; i < image.size(); ++i) other[i] = static_cast<std::uint8_t>(~image[i]);
    return other;
}

registry::Controller named(registry::Register* reg, const registry::ControllerKey& key) {
    if (reg)
        if (auto known = reg->controller(key)) return *known;
    registry::Controller unnamed;
    unnamed.key = key;
    return unnamed;
}

}  // namespace

const char* uploadOutcomeCode(link::UploadResult result) {
    switch (result) {
    case link::UploadResult::Completed: return "completed";
    case link::UploadResult::Cancelled: return "cancelled";
    case link::UploadResult::NoAnswer: return "no answer";
    case link::UploadResult::LineBusy: return "line busy";
    }
    return "no answer";
}

const char* downloadOutcomeCode(link::DownloadResult result) {
    switch (result) {
    case link::DownloadResult::Completed: return "completed";
    case link::DownloadResult::Incomplete: return "incomplete";
    case link::DownloadResult::Cancelled: return "cancelled";
    case link::DownloadResult::TimedOut: return "no answer";
    case link::DownloadResult::LineBusy: return "line busy";
    }
    return "no answer";
}

UploadFlow::UploadFlow(UploadInput input, registry::Register* reg, std::string registerError)
    : in_(std::move(input)), reg_(reg), registerError_(std::move(registerError)) {
    plan_.image = in_.image;
}

void UploadFlow::probed(const std::optional<link::ProbeReply>& reply) {
    if (step_ != Step::Probe) return;
    reply_ = reply;
    Guard& g = result_.guard;
    if (reply) {
        g.connected = registry::ControllerKey{reply->id, reply->serialNumber};
        g.firmware = reply->firmware;
    }
    decideGuard();
    // What this run read from the connected controller is the image itself:
    // nothing would be sent, so there is nothing to guard.
    if (in_.held && g.connected && in_.held->key == *g.connected && in_.held->image == in_.image)
        return finish(End::NothingToSend);
    if (g.due() && !in_.otherController) {
        step_ = Step::AskGuard;
        return;
    }
    sendAnyway_ = g.verdict == GuardVerdict::OtherController;
    afterGuard();
}

void UploadFlow::decideGuard() {
    Guard& g = result_.guard;
    if (!g.connected) {
        g.verdict = GuardVerdict::Undecided;
        g.reason = GuardReason::NoAnswer;
        return;
    }
    const registry::ControllerKey connected = *g.connected;
    if (reg_) g.connectedKnown = reg_->controller(connected);
    const auto from = [&](const registry::ControllerKey& origin) {
        g.verdict = origin == connected ? GuardVerdict::Same : GuardVerdict::OtherController;
        if (g.verdict == GuardVerdict::OtherController) g.origin = named(reg_, origin);
    };
    switch (in_.origin.kind) {
    case Origin::Kind::Download:
    case Origin::Kind::Visit:
        if (in_.origin.key.known()) return from(in_.origin.key);
        break;
    case Origin::Kind::File: {
        if (!reg_) {
            g.verdict = GuardVerdict::Undecided;
            g.reason = GuardReason::RegisterUnavailable;
            g.registerError = registerError_;
            return;
        }
        const auto origins = reg_->originsOf(in_.origin.image);
        if (std::any_of(origins.begin(), origins.end(), [&](const auto& o) { return o.key == connected; }))
            return from(connected);
        if (!origins.empty()) return from(origins.front().key);
        if (!reg_->imagesNote().empty()) {
            g.verdict = GuardVerdict::Undecided;
            g.reason = GuardReason::NoDataKey;
            return;
        }
        break;
    }
    case Origin::Kind::None: break;
    }
    g.verdict = GuardVerdict::Undecided;
    g.reason = GuardReason::OriginUnknown;
}

void UploadFlow::answerGuard(GuardAnswer answer) {
    if (step_ != Step::AskGuard) return;
    switch (answer) {
    case GuardAnswer::Cancel: result_.declinedAt = Step::AskGuard; return finish(End::Declined);
    case GuardAnswer::CheckFirst:
        // A controller that did not answer the probe will not be read either.
        if (!result_.guard.connected) return finish(End::Refused);
        checkingFirst_ = true;
        step_ = Step::Read;
        return;
    case GuardAnswer::Send: sendAnyway_ = result_.guard.verdict == GuardVerdict::OtherController; return afterGuard();
    }
}

void UploadFlow::findBase() {
    base_.reset();
    // Another building's base says nothing of what this one held.
    if (sendAnyway_) return;
    if (in_.base) {
        base_ = in_.base;
        return;
    }
    switch (in_.origin.kind) {
    case Origin::Kind::Visit: base_ = Base{in_.origin.image, in_.origin.when, in_.origin.technician}; break;
    case Origin::Kind::Download:
        if (in_.held && in_.held->key == in_.origin.key) base_ = Base{in_.held->image, in_.held->when, {}};
        break;
    case Origin::Kind::File:
        if (reg_) {
            std::string when, by;
            if (auto image = reg_->baseImageFor(in_.origin.image, &when, &by)) base_ = Base{*image, when, by};
        }
        break;
    case Origin::Kind::None: break;
    }
}

void UploadFlow::afterGuard() {
    findBase();
    const auto& connected = result_.guard.connected;
    // Only what was read from this very controller tells what it holds.
    if (in_.held && connected && in_.held->key == *connected) return propose(in_.held->image, true);
    if (in_.mode == Mode::EveryBlock) return propose(in_.image, false);
    step_ = Step::AskHolding;
}

void UploadFlow::answerHolding(HoldingAnswer answer) {
    if (step_ != Step::AskHolding) return;
    switch (answer) {
    case HoldingAnswer::Read: step_ = Step::Read; return;
    case HoldingAnswer::EveryBlock: return propose(in_.image, false);
    case HoldingAnswer::Cancel: result_.declinedAt = Step::AskHolding; return finish(End::Declined);
    }
}

void UploadFlow::read(const link::DownloadOutcome& outcome) {
    if (step_ != Step::Read) return;
    if (outcome.result != link::DownloadResult::Completed) {
        result_.read = outcome;
        // A guard that could not check stays a refusal.
        return finish(checkingFirst_ ? End::Refused : End::ReadFailed);
    }
    if (checkingFirst_) return finish(outcome.image == in_.image ? End::NothingToSend : End::Refused);
    propose(outcome.image, true);
}

void UploadFlow::propose(const Image& device, bool known) {
    if (known && device == in_.image) return finish(End::NothingToSend);
    proposal_ = Proposal{};
    proposal_.deviceKnown = known;
    proposal_.device = known ? device : standIn(in_.image);
    proposal_.otherBuilding = sendAnyway_;
    // Merge only against what was read from the controller, and only when it
    // changed since the base.
    if (known && in_.mode == Mode::Merge && base_ && base_->image != device) {
        proposal_.merge =
            mergeVersions({base_->image, in_.description}, {in_.image, in_.description}, {device, in_.description});
        proposal_.baseWhen = base_->when;
        proposal_.baseBy = base_->technician;
    }
    step_ = Step::Confirm;
}

Plan UploadFlow::plan(const std::vector<MergeChoice>& choices, bool overwrite) const {
    Plan p;
    p.image = in_.image;
    if (proposal_.merge && !overwrite) {
        const MergedVersion merged = resolveMerge(*proposal_.merge, choices);
        p.undecided = merged.undecided;
        p.overfull = merged.overfull;
        p.image = merged.version.image;
    }
    p.changes = listChanges(proposal_.device, p.image);
    if (!proposal_.deviceKnown)
        p.blocks.set();
    else
        for (int b : p.changes.blocks) p.blocks.set(static_cast<std::size_t>(b));
    return p;
}

void UploadFlow::answerConfirm(const ConfirmAnswer& answer) {
    if (step_ != Step::Confirm) return;
    if (!answer.send) {
        result_.declinedAt = Step::Confirm;
        return finish(End::Declined);
    }
    plan_ = plan(answer.choices, answer.overwrite);
    if (!plan_.undecided.empty()) return finish(End::Unresolved);
    if (!plan_.overfull.empty()) return finish(End::Overfull);
    if (plan_.blocks.none()) return finish(End::NothingToSend);
    checkAfter_ = answer.checkAfter;
    step_ = Step::Send;
}

void UploadFlow::sent(const link::UploadOutcome& outcome) {
    if (step_ != Step::Send) return;
    result_.upload = outcome;
    result_.sent = plan_.image;
    result_.blocks = static_cast<int>(plan_.blocks.count());
    record(outcome);
    if (outcome.result != link::UploadResult::Completed) return finish(End::SendFailed);
    if (checkAfter_) {
        step_ = Step::ReadBack;
        return;
    }
    finish(End::Sent);
}

void UploadFlow::readBack(const link::DownloadOutcome& outcome) {
    if (step_ != Step::ReadBack) return;
    result_.back = outcome;
    if (outcome.result == link::DownloadResult::Completed) result_.checkSame = outcome.image == plan_.image;
    finish(End::Sent);
}

void UploadFlow::record(const link::UploadOutcome& outcome) {
    if (!registry::Register::available()) return;  // nothing to record in this build
    if (!reply_) {
        result_.recording = Recording::NoIdentity;
        return;
    }
    if (!reg_) {
        result_.recording = Recording::Failed;
        result_.recordError = registerError_;
        return;
    }
    registry::NewVisit v;
    v.key = *result_.guard.connected;
    v.firmware = reply_->firmware;
    v.kind = registry::VisitKind::Upload;
    v.outcome = uploadOutcomeCode(outcome.result);
    v.port = portKey(in_.port);
    if (outcome.result == link::UploadResult::Completed) v.image = plan_.image;
    if (reg_->recordVisit(v)) {
        result_.recording = Recording::Recorded;
    } else {
        result_.recording = Recording::Failed;
        result_.recordError = reg_->error();
    }
}

void UploadFlow::finish(End end) {
    result_.end = end;
    step_ = Step::Done;
}

}  // namespace kelvane::jobs
