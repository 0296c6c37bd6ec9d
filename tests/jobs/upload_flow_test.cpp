// The upload's steps as a table: each row an order of events (what the
// probe found, what the register knows, the technician's answers, how the
// transfers ended) and the steps the flow asked for on the way, with its end.
#include "jobs/upload_flow.h"
#include "registry/key_store.h"
#include "sim/sample_building.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace {

using namespace kelvane;
using jobs::End;
using jobs::GuardAnswer;
using jobs::GuardReason;
using jobs::HoldingAnswer;
using jobs::Origin;
using jobs::Step;

constexpr registry::ControllerKey kA{1, 4660}, kB{2, 12345};

Image edited(Image image, std::size_t at, std::uint8_t value) {
    image[at] = value;
    return image;
}

// A: what controller A held when the file was saved; the file: A with the
// technician's edit; A now: A with a change made at the keypad since.
const Image kBaseA = sampleBuildingImage();
const Image kFile = edited(kBaseA, 0x100, 0x42);
const Image kNowA = edited(kBaseA, 0x900, 0x17);

enum class Reg { WithKey, WithoutKey, None };
enum class Read { Now, File, Fails };

struct Row {
    const char* name;
    Origin::Kind origin;
    Reg reg;
    bool held;  // this run read A as it is now
    std::optional<registry::ControllerKey> connected;
    jobs::Mode mode;
    GuardAnswer guard;
    HoldingAnswer holding;
    Read read;
    bool confirm;
    bool checkAfter;
    bool sendCompletes;
    // The steps asked for, in order, and how the flow ended.
    const char* steps;
    End end;
    GuardReason reason;
};

const char* stepName(Step s) {
    switch (s) {
    case Step::Probe: return "probe";
    case Step::AskGuard: return "guard";
    case Step::AskHolding: return "holding";
    case Step::Read: return "read";
    case Step::Confirm: return "confirm";
    case Step::Send: return "send";
    case Step::ReadBack: return "back";
    case Step::Done: return "done";
    }
    return "?";
}

link::DownloadOutcome download(Read read) {
    link::DownloadOutcome out;
    out.result = read == Read::Fails ? link::DownloadResult::TimedOut : link::DownloadResult::Completed;
    out.image = read == Read::File ? kFile : kNowA;
    return out;
}

constexpr auto File = Origin::Kind::File, Download = Origin::Kind::Download, None = Origin::Kind::None;
constexpr auto Merge = jobs::Mode::Merge, EveryBlock = jobs::Mode::EveryBlock;
constexpr auto Send = GuardAnswer::Send, Cancel = GuardAnswer::Cancel, CheckFirst = GuardAnswer::CheckFirst;
constexpr auto ReadIt = HoldingAnswer::Read, AllBlocks = HoldingAnswer::EveryBlock;

// clang-format off
const Row kRows[] = {
    {"download, edit, send",          Download, Reg::WithKey,    true,  kA, Merge,      Send,       ReadIt,    Read::Now,   true,  false, true,  "probe confirm send",              End::Sent,          GuardReason::None},
    {"held image is the file",        Download, Reg::WithKey,    true,  kA, Merge,      Send,       ReadIt,    Read::Now,   true,  false, true,  "probe",                           End::NothingToSend, GuardReason::None},
    {"file of A at A: read, merge",   File,     Reg::WithKey,    false, kA, Merge,      Send,       ReadIt,    Read::Now,   true,  true,  true,  "probe holding read confirm send back", End::Sent,     GuardReason::None},
    {"file at A, every block",        File,     Reg::WithKey,    false, kA, EveryBlock, Send,       ReadIt,    Read::Now,   true,  false, true,  "probe confirm send",              End::Sent,          GuardReason::None},
    {"file at A, asked for all",      File,     Reg::WithKey,    false, kA, Merge,      Send,       AllBlocks, Read::Now,   true,  false, true,  "probe holding confirm send",      End::Sent,          GuardReason::None},
    {"file at A, already there",      File,     Reg::WithKey,    false, kA, Merge,      Send,       ReadIt,    Read::File,  true,  false, true,  "probe holding read",              End::NothingToSend, GuardReason::None},
    {"file at A, read fails",         File,     Reg::WithKey,    false, kA, Merge,      Send,       ReadIt,    Read::Fails, true,  false, true,  "probe holding read",              End::ReadFailed,    GuardReason::None},
    {"file at A, declined",           File,     Reg::WithKey,    false, kA, Merge,      Send,       ReadIt,    Read::Now,   false, false, true,  "probe holding read confirm",      End::Declined,      GuardReason::None},
    {"file at A, send fails",         File,     Reg::WithKey,    false, kA, Merge,      Send,       ReadIt,    Read::Now,   true,  false, false, "probe holding read confirm send", End::SendFailed,    GuardReason::None},
    {"file of A at B, cancel",        File,     Reg::WithKey,    false, kB, Merge,      Cancel,     ReadIt,    Read::Now,   true,  false, true,  "probe guard",                     End::Declined,      GuardReason::None},
    {"file of A at B, send anyway",   File,     Reg::WithKey,    false, kB, Merge,      Send,       ReadIt,    Read::Now,   true,  false, true,  "probe guard holding read confirm send", End::Sent,    GuardReason::None},
    {"file of A at B, check first",   File,     Reg::WithKey,    false, kB, Merge,      CheckFirst, ReadIt,    Read::Now,   true,  false, true,  "probe guard read",                End::Refused,       GuardReason::None},
    {"no data key",                   File,     Reg::WithoutKey, false, kA, Merge,      Cancel,     ReadIt,    Read::Now,   true,  false, true,  "probe guard",                     End::Declined,      GuardReason::NoDataKey},
    {"no data key, check: equal",     File,     Reg::WithoutKey, false, kA, Merge,      CheckFirst, ReadIt,    Read::File,  true,  false, true,  "probe guard read",                End::NothingToSend, GuardReason::NoDataKey},
    {"no register",                   File,     Reg::None,       false, kA, Merge,      Cancel,     ReadIt,    Read::Now,   true,  false, true,  "probe guard",                     End::Declined,      GuardReason::RegisterUnavailable},
    {"silent probe, check first",     File,     Reg::WithKey,    false, {}, Merge,      CheckFirst, ReadIt,    Read::Now,   true,  false, true,  "probe guard",                     End::Refused,       GuardReason::NoAnswer},
    {"made in the window, send",      None,     Reg::WithKey,    false, kA, Merge,      Send,       ReadIt,    Read::Now,   true,  false, true,  "probe guard holding read confirm send", End::Sent,    GuardReason::OriginUnknown},
};
// clang-format on

link::ProbeReply reply(const registry::ControllerKey& key) {
    return {static_cast<std::uint8_t>(key.deviceId), static_cast<std::uint16_t>(key.serialNumber), 259};
}

registry::KeyState keyState(bool withKey) {
    registry::KeyState s;
    if (withKey) s.key = DataKey::generate();
    s.missing = withKey ? KeyMissing::None : KeyMissing::KeychainOff;
    s.why = withKey ? "" : "switched off";
    return s;
}

TEST(UploadFlow, EachOrderOfEventsAsksItsStepsAndEndsAsItShould) {
    if (!registry::Register::available() || !DataKey::generate())
        GTEST_SKIP() << "a build without the register or sealing";
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir dir;
        registry::setDataKey(keyState(row.reg == Reg::WithKey));
        std::unique_ptr<registry::Register> reg;
        if (row.reg != Reg::None) {
            reg = std::make_unique<registry::Register>();
            ASSERT_TRUE(reg->open(dir.filePath(QStringLiteral("register.sqlite")).toStdString())) << reg->error();
            // The office saved the file from A: the register knows A's image then.
            registry::NewVisit v;
            v.key = kA;
            v.firmware = 259;
            v.image = kBaseA;
            v.time = "2026-12-01T10:00:00+01:00";
            ASSERT_TRUE(reg->recordVisit(v)) << reg->error();
            reg->recordSavedFile(dir.filePath(QStringLiteral("office.kvd")).toStdString(), kFile, kA, kBaseA);
        }
        jobs::UploadInput in;
        in.image = std::string(row.name) == "held image is the file" ? kNowA : kFile;
        in.origin.kind = row.origin;
        in.origin.key = row.origin == Download ? kA : registry::kUnknownController;
        in.origin.image = kFile;
        if (row.held) in.held = jobs::Held{kA, kNowA, "2026-12-09T09:00:00+01:00"};
        in.mode = row.mode;
        in.port = "COM3";
        jobs::UploadFlow flow(in, reg.get(), reg ? std::string() : "the register is locked");

        std::string steps;
        while (flow.next() != Step::Done) {
            const Step step = flow.next();
            steps += std::string(steps.empty() ? "" : " ") + stepName(step);
            switch (step) {
            case Step::Probe:
                flow.probed(row.connected ? std::optional<link::ProbeReply>(reply(*row.connected)) : std::nullopt);
                break;
            case Step::AskGuard: flow.answerGuard(row.guard); break;
            case Step::AskHolding: flow.answerHolding(row.holding); break;
            case Step::Read: flow.read(download(row.read)); break;
            case Step::Confirm: flow.answerConfirm({row.confirm, {}, false, row.checkAfter}); break;
            case Step::Send: {
                link::UploadOutcome out;
                out.result = row.sendCompletes ? link::UploadResult::Completed : link::UploadResult::NoAnswer;
                flow.sent(out);
                break;
            }
            case Step::ReadBack: {
                link::DownloadOutcome back = download(Read::Now);
                back.image = flow.sending().image;
                flow.readBack(back);
                break;
            }
            case Step::Done: break;
            }
            ASSERT_LT(steps.size(), 200u) << "the flow goes round: " << steps;
        }
        const jobs::UploadResult& r = flow.result();
        EXPECT_EQ(steps, row.steps);
        EXPECT_EQ(r.end, row.end);
        EXPECT_EQ(r.guard.reason, row.reason);
        if (r.end == End::Sent) {
            // What a read found merged with the file: the keypad's change kept.
            const bool merged = row.mode == Merge && row.holding == ReadIt && !row.held && row.origin == File &&
                                row.connected == std::optional<registry::ControllerKey>(kA);
            EXPECT_EQ(r.sent, merged ? edited(kFile, 0x900, 0x17) : in.image);
            EXPECT_EQ(r.recording, jobs::Recording::Recorded);
            EXPECT_EQ(flow.proposal().otherBuilding, row.connected == std::optional<registry::ControllerKey>(kB));
            if (row.checkAfter) {
                EXPECT_EQ(r.checkSame, std::optional<bool>(true));
            }
        }
    }
    registry::setDataKey(keyState(true));
}

}  // namespace
