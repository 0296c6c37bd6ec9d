// The upload's questions as the window asks them: the flow of
// jobs/upload_flow.h driven through the link's transfers, the guard, what
// the controller holds, the confirmation or the merge, and what the end says.
#include "shell/safety_net.h"

#include "shell/link_controller.h"
#include "shell/main_window.h"
#include "shell/merge_dialog.h"
#include "shell/shown_time.h"
#include "texts/change_text.h"
#include "texts/language_table.h"
#include "texts/report_text.h"
#include "texts/upload_text.h"
#include "texts/visit_texts.h"

#include <QAction>
#include <QSettings>
#include <QTimer>

#include <algorithm>

namespace kelvane::shell {

namespace {
using texts::Message;

// Remembered between runs.
const char kAskBeforeUpload[] = "askBeforeUpload";
const char kCheckAfterUpload[] = "checkAfterUpload";

QSettings settings() { return QSettings(QStringLiteral("Kelvane"), QStringLiteral("KelvaneMini")); }
}  // namespace

void SafetyNet::rememberAskBeforeUpload() {
    if (QAction* ask = form_.action("ASKUPLOAD")) {
        ask->setChecked(settings().value(QLatin1String(kAskBeforeUpload), true).toBool());
        connect(ask, &QAction::toggled, this, [](bool on) { settings().setValue(QLatin1String(kAskBeforeUpload), on); });
    }
}

void SafetyNet::startUpload() {
    if (flow_) return;  // one upload at a time
    jobs::UploadInput in;
    in.image = form_.document().working;
    registry::Register* reg = buildingRegister();
    // A loaded file's base as the register (or a test) gives it now: a sync
    // may have brought a colleague's visit since the file was loaded.
    work_.startUpload(in, link_.portName(), lookup_);
    flow_ = std::make_unique<jobs::UploadFlow>(in, reg, registerError_.toStdString());
    advance();
}

void SafetyNet::resume() {
    // Once the finished transfer has left the link (its next one may start then).
    QTimer::singleShot(0, this, [this] { advance(); });
}

void SafetyNet::advance() {
    using jobs::Step;
    const auto failed = [] {
        link::DownloadOutcome none;
        none.result = link::DownloadResult::Cancelled;
        return none;
    };
    while (flow_) {
        switch (flow_->next()) {
        case Step::Probe: flow_->probed(link_.probeConnected()); break;
        case Step::AskGuard: flow_->answerGuard(askGuard(flow_->guard())); break;
        case Step::AskHolding: flow_->answerHolding(askHolding()); break;
        case Step::Confirm: flow_->answerConfirm(askConfirm()); break;
        case Step::Read:
        case Step::ReadBack: {
            const bool back = flow_->next() == Step::ReadBack;
            const bool started = link_.readController([this, back](const session::TransferReport& report) {
                if (!flow_) return;
                back ? flow_->readBack(report.download) : flow_->read(report.download);
                resume();
            });
            if (started) return;
            back ? flow_->readBack(failed()) : flow_->read(failed());
            break;
        }
        case Step::Send: {
            const jobs::Plan& plan = flow_->sending();
            // What goes to the controller is what the window holds and shows afterwards.
            if (plan.image != form_.document().working) {
                form_.document().working = plan.image;
                form_.DisplayData();
            }
            const bool started = link_.sendBlocks(plan.image, plan.blocks, [this](const session::TransferReport& report) {
                if (!flow_) return;
                flow_->sent(report.upload);
                resume();
            });
            if (started) return;
            link::UploadOutcome none;
            none.result = link::UploadResult::LineBusy;  // nothing was sent
            flow_->sent(none);
            break;
        }
        case Step::Done: uploadEnded(); return;
        }
    }
}

jobs::GuardAnswer SafetyNet::askGuard(const jobs::Guard& guard) {
    const int language = form_.CurrentLanguage();
    QString warning;
    const auto bold = [](const QString& name) {
        return QStringLiteral("<b>") + name.toHtmlEscaped() + QStringLiteral("</b>");
    };
    if (guard.verdict == jobs::GuardVerdict::OtherController) {
        warning =
            fillFields(QString::fromUtf8(texts::messageText(Message::WrongBuildingPort, language)).toHtmlEscaped(),
                       {bold(buildingText(guard.origin->key)), bold(portText()), bold(buildingText(*guard.connected))});
    } else {
        warning = fillFields(
            QString::fromUtf8(texts::messageText(Message::GuardUndecided, language)).toHtmlEscaped(),
            {bold(portText()), QString::fromStdString(texts::guardReasonText(guard, language)).toHtmlEscaped()});
    }
    warning = QStringLiteral("<p style=\"color:#c00000\">") + warning + QStringLiteral("</p>");
    enum { Send, Cancel };
    const QString send = text(guard.verdict == jobs::GuardVerdict::OtherController ? Message::WrongBuildingSend
                                                                                   : Message::GuardSendAnyway);
    return form_.prompts().choose(&form_, text(Message::WrongBuildingTitle), warning,
                                  {send, text(Message::ButtonCancel)}, Cancel, Cancel) == Send
               ? jobs::GuardAnswer::Send
               : jobs::GuardAnswer::Cancel;
}

jobs::HoldingAnswer SafetyNet::askHolding() {
    // Without a base there is nothing to merge with: the confirmation says
    // the controller's contents are unknown and every block is sent.
    if (!flow_->baseKnown()) return jobs::HoldingAnswer::EveryBlock;
    enum { Read, EveryBlock, Cancel };
    QString question = text(Message::HoldingQuestion);
    question.replace(QLatin1String("%s"), baseText(flow_->baseWhen(), flow_->baseBy()));
    switch (form_.prompts().choose(
        &form_, text(Message::UploadQuestionTitle), question,
        {text(Message::ReadAndMerge), text(Message::SendEveryBlock), text(Message::ButtonCancel)}, Read, Cancel)) {
    case Read: return jobs::HoldingAnswer::Read;
    case EveryBlock: return jobs::HoldingAnswer::EveryBlock;
    default: return jobs::HoldingAnswer::Cancel;
    }
}

jobs::ConfirmAnswer SafetyNet::askConfirm() {
    const int language = form_.CurrentLanguage();
    const jobs::Proposal& proposal = flow_->proposal();
    const bool unknown = !proposal.deviceKnown;
    jobs::ConfirmAnswer a;
    a.checkAfter = settings().value(QLatin1String(kCheckAfterUpload), false).toBool();
    if (proposal.merge) {
        MergeDialogOptions options;
        options.baseDate = baseText(proposal.baseWhen, proposal.baseBy);
        options.offerCheckAfter = true;
        options.checkAfterTicked = a.checkAfter;
        const std::string baseDate = options.baseDate.toStdString();
        MergeDialog dialog(&form_, *proposal.merge, options, language,
                           [this, language, baseDate](const std::vector<MergeChoice>& choices, bool overwrite) {
                               return texts::uploadGroupsWithoutConflicts(
                                   flow_->proposal(), flow_->plan(choices, overwrite), language, baseDate);
                           });
        const MergeAnswer answer = dialog.answer(form_.prompts().runDialog(&dialog));
        a.send = answer.send;
        a.choices = answer.choices;
        a.overwrite = answer.overwrite;
        a.checkAfter = answer.checkAfter;
    } else {
        if (!unknown && !settings().value(QLatin1String(kAskBeforeUpload), true).toBool()) {
            a.send = true;
            return a;
        }
        const jobs::Plan plan = flow_->plan();
        ChangeDialogTexts t;
        t.title = text(Message::UploadQuestionTitle);
        if (unknown) t.warning = unknownWarning();
        t.accept = text(Message::ButtonSend);
        t.reject = text(Message::ButtonCancel);
        if (!unknown) t.dontAsk = text(Message::DontAskAgain);  // the unknown case is always asked
        t.checkAfter = text(Message::CheckAfterSending);
        t.checkAfterTicked = a.checkAfter;
        t.rejectIsDefault = unknown;
        const UploadAnswer answer =
            form_.prompts().showChanges(&form_, t, texts::uploadGroups(proposal, plan, language, std::string()));
        a.send = answer.send;
        a.checkAfter = answer.checkAfter;
        if (answer.send && answer.dontAskAgain) {
            settings().setValue(QLatin1String(kAskBeforeUpload), false);
            if (QAction* ask = form_.action("ASKUPLOAD")) ask->setChecked(false);
        }
    }
    if (a.send) settings().setValue(QLatin1String(kCheckAfterUpload), a.checkAfter);
    return a;
}

void SafetyNet::uploadEnded() {
    const jobs::UploadResult r = flow_->result();
    const jobs::Plan plan = flow_->sending();
    flow_.reset();
    const int language = form_.CurrentLanguage();
    switch (r.end) {
    case jobs::End::NothingToSend: form_.setStatusText(text(Message::NothingToSend)); break;
    case jobs::End::Declined:
    case jobs::End::Refused: form_.setStatusText(text(Message::UploadCancelled)); break;
    case jobs::End::Unresolved: form_.setStatusText(text(Message::UploadCancelled)); break;
    case jobs::End::Overfull:
        for (GridId grid : plan.overfull)
            form_.showMessage(
                text(Message::MergeOverfull)
                    .replace(QLatin1String("%s"), QString::fromStdString(texts::gridCaption(grid, language))));
        form_.setStatusText(text(Message::UploadCancelled));
        break;
    case jobs::End::ReadFailed: break;  // the link's status says why
    case jobs::End::SendFailed:
        // Blocks may have reached the controller before the line failed: what
        // was read or sent before no longer says what it holds.
        if (r.upload.result != link::UploadResult::LineBusy) work_.cutOff(link_.portName(), connected());
        form_.setNotice(QString());  // an earlier upload's "sent" no longer stands
        break;
    case jobs::End::Sent:
        if (r.back && r.back->result == link::DownloadResult::Completed) checkRead(r.back->image);
        if (r.recording == jobs::Recording::Recorded) offerReport();
        break;
    }
    QString why;
    if (r.recording == jobs::Recording::NoIdentity)
        why = QString::fromUtf8(texts::toolText(texts::ToolText::NoIdentity, language));
    if (r.recording == jobs::Recording::Failed) why = QString::fromStdString(r.recordError);
    if (!why.isEmpty())
        form_.setStatusText(
            form_.statusText() + QStringLiteral(" — ") +
            QString::fromUtf8(texts::toolText(texts::ToolText::VisitNotRecorded, language)).replace(QLatin1String("%s"), why));
}

void SafetyNet::offerReport() {
    // The upload's visit is the controller's newest: offered, not asked, so
    // the technician goes on working and makes the report when it suits.
    const auto& identity = link_.lastIdentity();
    registry::Register* reg = identity ? buildingRegister() : nullptr;
    if (!reg) return;
    const registry::ControllerKey key{identity->id, identity->serialNumber};
    const auto visits = reg->visits(key);
    const auto upload = std::find_if(visits.begin(), visits.end(),
                                     [](const registry::Visit& v) { return v.kind == registry::VisitKind::Upload; });
    if (upload == visits.end()) return;
    const std::int64_t visit = upload->id;
    form_.setNotice(
        [](int language) {
            return QString::fromUtf8(texts::reportText(texts::ReportText::Offer, language)).toHtmlEscaped() +
                   QStringLiteral(" <a href=\"report\">") +
                   QString::fromUtf8(texts::reportText(texts::ReportText::Command, language)).toHtmlEscaped() +
                   QStringLiteral("</a>");
        },
        [this, key, visit] { visitReport(key, visit); });
}

}  // namespace kelvane::shell
