#pragma once
// The upload, as KelvaneMini and kvtool both run it: one flow of steps, the
// same order for both, whichever way the technician got to it.
//
//   1. Probe: who is connected now.
//   2. Guard: where the image came from (this run's download, the visit it
//      was opened from, the register's record of the file) against who is
//      connected; when it cannot tell, it says why before anything is sent.
//   3. What the controller holds: what this run read from that very
//      controller, else read it (or, when asked, send every block).
//   4. Merge against the image the edits started from when the controller
//      changed since.
//   5. One confirmation: changes, the configuration's warnings, blocks and
//      time, "check after sending".
//   6. Send, read back when asked, record the visit.
//
// The flow does no waiting of its own: next() names the step the caller
// performs (a probe, a question, a download, an upload) and the caller hands
// the result back. The window runs the transfers on its worker thread and
// answers with dialogs; kvtool runs them on its own thread and answers from
// its options. Nothing here is text: the callers make their texts from the
// typed results.
//
//   UploadFlow flow(input, reg, why);
//   while (flow.next() != Step::Done) { ...perform flow.next()... }
//   const UploadResult& r = flow.result();
#include "image/change_list.h"
#include "image/image.h"
#include "image/merge.h"
#include "link/probe.h"
#include "link/transfer.h"
#include "jobs/read_visit.h"
#include "jobs/work_origin.h"
#include "registry/building_register.h"

#include <bitset>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::jobs {

using Blocks = std::bitset<kBlockCount>;

enum class Mode {
    Merge,       // keep what changed at the controller since the base (when it is known)
    Overwrite,   // make the controller equal to the image, only the differing blocks
    EveryBlock,  // every block, whatever the controller holds
};

struct UploadInput {
    Image image{};  // what the controller shall hold
    std::string description;
    Origin origin;
    std::optional<Held> held;  // nothing: nothing read in this run (or from another port)
    std::optional<Base> base;  // given by the caller; else found from the origin
    Mode mode = Mode::Merge;
    bool otherController = false;  // the guard is answered in advance: send
    std::string port;              // as the visit records it (portKey())
};

enum class GuardVerdict {
    Same,             // the image came from the connected controller
    OtherController,  // it came from another one (origin names it)
    Undecided,        // the guard cannot tell (reason)
};
// NoDataKey: the register keeps no images without this computer's key, so a
// file's origin cannot be known until the key is imported.
enum class GuardReason { None, RegisterUnavailable, NoAnswer, OriginUnknown, NoDataKey };

struct Guard {
    GuardVerdict verdict = GuardVerdict::Undecided;
    GuardReason reason = GuardReason::None;
    std::optional<registry::ControllerKey> connected;  // nothing: the probe went unanswered
    std::optional<int> firmware;
    // The controller the image came from, with its name when the register has one.
    std::optional<registry::Controller> origin;
    std::optional<registry::Controller> connectedKnown;  // the register's entry for the connected one
    std::string registerError;                           // RegisterUnavailable: why
    bool due() const { return verdict != GuardVerdict::Same; }
};

enum class Step {
    Probe,       // probe the port, then probed()
    AskGuard,    // guard() is due: answerGuard()
    AskHolding,  // the controller was not read in this run: answerHolding()
    Read,        // download the whole image, then read()
    Confirm,     // show proposal() and plan(), then answerConfirm()
    Send,        // upload sending(), then sent()
    ReadBack,    // download the whole image, then readBack()
    Done,        // result()
};

enum class GuardAnswer {
    Send,        // send all the same
    Cancel,      // send nothing
    CheckFirst,  // read the controller: equal images need no guard, else refused
};
enum class HoldingAnswer {
    Read,        // read the controller first (merge when the base is known)
    EveryBlock,  // send every block whatever it holds
    Cancel,
};

// What the confirmation shows.
struct Proposal {
    bool deviceKnown = false;  // false: every block is sent (device is a stand-in)
    Image device{};
    std::optional<ThreeWayMerge> merge;  // the controller changed since the base
    std::string baseWhen;
    std::string baseBy;          // who saw the controller hold the base (empty: not known)
    bool otherBuilding = false;  // the guard was answered "send anyway"
};

// What a confirmation's choices would send.
struct Plan {
    Image image{};
    Blocks blocks;
    ChangeList changes;  // from what the controller holds to image (device unknown: against the stand-in)
    std::vector<std::size_t> undecided;
    std::vector<GridId> overfull;
    bool complete() const { return undecided.empty() && overfull.empty(); }
};

struct ConfirmAnswer {
    bool send = false;
    std::vector<MergeChoice> choices;  // one per merge item (empty: none decided)
    bool overwrite = false;            // the merge's "make the controller equal to the file"
    bool checkAfter = false;
};

enum class End {
    Sent,           // the upload completed (check says whether it reads back equal)
    NothingToSend,  // the controller already holds the image
    Declined,       // the technician said no at a question
    Refused,        // the guard refused (CheckFirst found the images differ)
    Unresolved,     // conflicts without a choice
    Overfull,       // merged rows that do not fit their table
    ReadFailed,     // what the controller holds could not be read
    SendFailed,     // the upload did not complete
};

struct UploadResult {
    End end = End::Declined;
    Guard guard;
    Step declinedAt = Step::Done;               // Declined: the question answered no
    link::DownloadOutcome read;                 // ReadFailed: how the read ended
    link::UploadOutcome upload;                 // Sent, SendFailed
    std::optional<bool> checkSame;              // after the read-back
    std::optional<link::DownloadOutcome> back;  // the read-back, when it ran
    Image sent{};                               // what went to the controller
    int blocks = 0;
    Recording recording = Recording::NotNeeded;
    std::string recordError;
};

// The register's outcome code of an upload (stored as it is).
const char* uploadOutcomeCode(link::UploadResult result);
// ... and of a download that failed.
const char* downloadOutcomeCode(link::DownloadResult result);

class UploadFlow {
public:
    // `reg` may be null (then `registerError` says why); it is used only
    // during the calls below.
    UploadFlow(UploadInput input, registry::Register* reg, std::string registerError = {});

    Step next() const { return step_; }

    void probed(const std::optional<link::ProbeReply>& reply);
    const Guard& guard() const { return result_.guard; }
    void answerGuard(GuardAnswer answer);

    // A base is known: a read can merge (the window's default then reads).
    bool baseKnown() const { return base_.has_value(); }
    std::string baseWhen() const { return base_ ? base_->when : std::string(); }
    std::string baseBy() const { return base_ ? base_->technician : std::string(); }
    void answerHolding(HoldingAnswer answer);
    void read(const link::DownloadOutcome& outcome);

    const Proposal& proposal() const { return proposal_; }
    Plan plan(const std::vector<MergeChoice>& choices = {}, bool overwrite = false) const;
    void answerConfirm(const ConfirmAnswer& answer);

    const Plan& sending() const { return plan_; }
    void sent(const link::UploadOutcome& outcome);
    bool checkAfter() const { return checkAfter_; }
    void readBack(const link::DownloadOutcome& outcome);

    const UploadResult& result() const { return result_; }

private:
    void decideGuard();
    void findBase();
    void afterGuard();
    void propose(const Image& device, bool known);
    void finish(End end);
    void record(const link::UploadOutcome& outcome);

    UploadInput in_;
    registry::Register* reg_;
    std::string registerError_;
    Step step_ = Step::Probe;
    std::optional<link::ProbeReply> reply_;
    std::optional<Base> base_;
    bool checkingFirst_ = false;
    bool sendAnyway_ = false;
    bool checkAfter_ = false;
    Proposal proposal_;
    Plan plan_;
    UploadResult result_;
};

}  // namespace kelvane::jobs
