#include "shell/safety_net.h"

#include "image/change_list.h"
#include "shell/backups.h"
#include "registry/key_store.h"
#include "shell/company_wiring.h"
#include "texts/change_text.h"
#include "texts/configuration_warnings.h"
#include "texts/language_table.h"
#include "texts/upload_text.h"
#include "texts/visit_texts.h"
#include "shell/link_controller.h"
#include "shell/main_window.h"
#include "shell/merge_dialog.h"
#include "shell/register_dialog.h"
#include "shell/shown_time.h"
#include "shell/visit_report_flow.h"
#include "texts/report_text.h"

#include <QAction>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

#include <algorithm>

namespace kelvane::shell {

namespace {
using texts::Message;

// The change list, then the configuration's warnings under their own heading.
// `unknown`: nothing was read from the controller, so its side is no more than
// the image the run started with and only the new values are shown.
std::vector<texts::ChangeGroup> listWithWarnings(const ChangeList& changes, const Image& working, int language,
                                                 bool unknown) {
    std::vector<texts::ChangeGroup> groups = texts::describeChanges(
        changes, language, unknown ? texts::ChangeSides::AfterOnly : texts::ChangeSides::BeforeAndAfter);
    for (auto& g : texts::warningGroups(checkConfiguration(working), language)) groups.push_back(std::move(g));
    return groups;
}

// Remembered between runs.
const char kAskBeforeUpload[] = "askBeforeUpload";
const char kCheckAfterUpload[] = "checkAfterUpload";

QSettings settings() { return QSettings(QStringLiteral("Kelvane"), QStringLiteral("KelvaneMini")); }
}  // namespace

SafetyNet::SafetyNet(MainWindow& form, shell::LinkController& link, QObject* parent)
    : QObject(parent), form_(form), link_(link), folder_(defaultBackupFolder()), now_([] {
          return QDateTime::currentDateTime();
      }) {
    // Backups of earlier versions come along into today's folder.
    MoveBackups(PreviousBackupFolder(), folder_);
    makeBackupsPrivate(folder_);
    lookup_ = [this](const Image& file) { return registeredBase(file); };
    if (QAction* ask = form.action("ASKUPLOAD")) {
        ask->setChecked(settings().value(QLatin1String(kAskBeforeUpload), true).toBool());
        connect(ask, &QAction::toggled, this, [](bool on) { settings().setValue(QLatin1String(kAskBeforeUpload), on); });
    }
    // The probe's answer; whether the device image still stands for what the
    // controller holds is judged at the upload (see deviceKnownHere()).
    connect(&link_, &LinkController::portProbed, this, [this] {
        const auto& now = link_.lastIdentity();
        // The building's name follows the probe's text when the register knows it.
        if (now) {
            if (registry::Register* reg = buildingRegister())
                if (const auto known = reg->controller({now->id, now->serialNumber}); known && !known->name.empty())
                    form_.setStatusText(form_.statusText() + QStringLiteral(" — ") + QString::fromStdString(known->name));
        }
    });
}

registry::Register* SafetyNet::buildingRegister() {
    if (!registerTried_) {
        registerTried_ = true;
        auto reg = std::make_unique<registry::Register>();
        if (reg->open(registry::Register::defaultPath())) {
            if (qEnvironmentVariableIsEmpty("KELVANE_REGISTER")) reg->importBackupsOnce(folder_.toStdString());
            register_ = std::move(reg);
        } else {
            registerError_ = QString::fromStdString(reg->error());
        }
    }
    return register_.get();
}

void SafetyNet::forgetRegister() {
    register_.reset();
    registerTried_ = false;
    registerError_.clear();
}

void SafetyNet::downloadFailed(link::DownloadResult result) {
    recordRead(jobs::downloadOutcomeCode(result), std::nullopt);
}

void SafetyNet::recordRead(const std::string& outcome, const std::optional<Image>& image) {
    // A build without the register has nothing to record and nothing to
    // repeat after every transfer.
    if (!registry::Register::available()) return;
    jobs::ReadVisit visit;
    visit.identity = link_.lastIdentity();
    visit.port = portText().toStdString();
    visit.outcome = outcome;
    visit.image = image;
    registry::Register* reg = visit.identity ? buildingRegister() : nullptr;
    const jobs::VisitRecord r = jobs::recordRead(reg, registerError_.toStdString(), visit);
    const int language = form_.CurrentLanguage();
    // Without the data key the visit is kept without its image: said once.
    static bool imagesNoteSaid = false;
    if (r.images != jobs::ImagesLeftOut::No && !imagesNoteSaid) {
        imagesNoteSaid = true;
        form_.setStatusText(form_.statusText() + QStringLiteral(" — ") +
                            QString::fromStdString(texts::imagesLeftOutText(r.images, r.key, language)));
    }
    // A key made in the own key file (no keychain answered): where it is, once.
    if (const auto made = registry::takeKeyMadeNote())
        form_.setStatusText(form_.statusText() + QStringLiteral(" — ") +
                            QString::fromUtf8(texts::messageText(texts::Message::KeyMadeInFile, language))
                                .replace(QLatin1String("%s"), QString::fromStdString(*made)));
    if (r.since) sinceLastVisit(*r.since);
    const std::string notRecorded = texts::notRecordedText(r, language);
    if (!notRecorded.empty())
        form_.setStatusText(form_.statusText() + QStringLiteral(" — ") + QString::fromStdString(notRecorded));
}

void SafetyNet::sinceLastVisit(const jobs::SinceLastVisit& since) {
    const QDateTime then = QDateTime::fromString(QString::fromStdString(since.time), Qt::ISODate);
    const QString stored = QString::fromStdString(since.time);
    const int changes = since.changes;
    // A colleague's visit names them: "3.11.2026 (Jan K.)".
    const std::string who = since.technician, me = registry::technicianName();
    // The notice follows the window's language, as the status text does.
    const auto notice = [then, stored, changes, who, me](int language) {
        const QString date = then.isValid() ? shownDate(then, language) : stored;
        return QString::fromUtf8(texts::messageText(Message::SinceLastVisit, language))
            .replace(QLatin1String("%s"), QString::fromStdString(texts::visitDateWithWho(date.toStdString(), who, me)))
            .replace(QLatin1String("%d"), QString::number(changes));
    };
    const Image before = since.before, after = form_.document().device;
    form_.setNotice(
        [notice](int language) {
            return notice(language).toHtmlEscaped() + QStringLiteral(" <a href=\"changes\">") +
                   QString::fromUtf8(texts::messageText(Message::SinceLastVisitShow, language)).toHtmlEscaped() +
                   QStringLiteral("</a>");
        },
        [this, before, after, notice] {
            ChangeDialogTexts t;
            t.title = text(Message::CompareTitle);
            t.note = notice(form_.CurrentLanguage());
            t.reject = text(Message::ButtonClose);
            std::vector<texts::ChangeGroup> groups =
                texts::describeChanges(listChanges(before, after), form_.CurrentLanguage());
            groups.erase(
                std::remove_if(groups.begin(), groups.end(),
                               [](const texts::ChangeGroup& g) { return g.kind == texts::ChangeGroupKind::Upload; }),
                groups.end());
            form_.prompts().showChanges(&form_, t, groups);
        });
}

QString SafetyNet::text(texts::Message message) const { return form_.messageText(message); }

QString SafetyNet::portText() const {
    // The name as the technician chose it, without the device-namespace prefix.
    QString port = QString::fromStdString(link_.portName());
    if (port.startsWith(QLatin1String("\\\\.\\"))) port.remove(0, 4);
    return port;
}

QString SafetyNet::buildingText(const registry::ControllerKey& key) {
    const QString identity = QString::fromStdString(registry::keyText(key));
    if (registry::Register* reg = buildingRegister())
        if (const auto known = reg->controller(key); known && !known->name.empty())
            return QString::fromStdString(known->name) + QStringLiteral(" (") + identity + QLatin1Char(')');
    return identity;
}

bool SafetyNet::deviceKnownHere() const {
    const auto& now = link_.lastIdentity();
    return held_ && heldPort_ == link_.portName() && now && held_->key.deviceId == now->id &&
           held_->key.serialNumber == now->serialNumber;
}

QString SafetyNet::unknownWarning() const {
    const auto& now = link_.lastIdentity();
    const bool cut = cutOff_ && cutOffPort_ == link_.portName() && now && cutOff_->deviceId == now->id &&
                     cutOff_->serialNumber == now->serialNumber;
    return text(cut ? Message::UnknownAfterCutOff : Message::UnknownController);
}

QString SafetyNet::dateText(const std::string& isoTime) const {
    const QDateTime when = QDateTime::fromString(QString::fromStdString(isoTime), Qt::ISODate);
    if (!when.isValid()) return QString::fromStdString(isoTime);
    return shownDateTime(when, form_.CurrentLanguage());
}

QString SafetyNet::baseText(const std::string& isoTime, const std::string& by) const {
    return QString::fromStdString(texts::visitDateWithWho(dateText(isoTime).toStdString(), by, registry::technicianName()));
}

void SafetyNet::startUpload() {
    if (flow_) return;  // one upload at a time
    jobs::UploadInput in;
    in.image = form_.document().working;
    in.origin = origin_;
    // Only what was read on this port may stand for what its controller holds;
    // the flow also wants the same controller (ID and serial number).
    if (held_ && heldPort_ == link_.portName()) in.held = held_;
    // A loaded file's base, as the register (or a test) gives it.
    if (origin_.kind == jobs::Origin::Kind::File && base_)
        in.base = jobs::Base{base_->image, base_->when.toString(Qt::ISODate).toStdString(), base_->by};
    in.port = portText().toStdString();
    registry::Register* reg = buildingRegister();
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
        if (r.upload.result != link::UploadResult::LineBusy) {
            held_.reset();
            if (const auto& id = link_.lastIdentity()) {
                cutOff_ = registry::ControllerKey{id->id, id->serialNumber};
                cutOffPort_ = link_.portName();
            }
        }
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

void SafetyNet::visitReport(const registry::ControllerKey& key, std::int64_t visit, QWidget* parent) {
    registry::Register* reg = buildingRegister();
    if (!reg) return;
    const int language = form_.CurrentLanguage();
    const QString path = makeVisitReport(parent ? parent : &form_, form_.prompts(), *reg, key, visit, language);
    if (path.isEmpty()) return;
    const QString name = QFileInfo(path).fileName();
    form_.setStatus([name](int language) {
        return QString::fromUtf8(texts::reportText(texts::ReportText::Written, language)).replace(QLatin1String("%s"), name);
    });
}

void SafetyNet::fileLoaded(const Image& image) {
    base_ = lookup_ ? lookup_(image) : std::nullopt;
    origin_ = jobs::Origin{jobs::Origin::Kind::File, registry::kUnknownController, image, {}, {}};
    fileImage_ = image;
}

std::optional<SafetyNet::Base> SafetyNet::registeredBase(const Image& file) {
    registry::Register* reg = buildingRegister();
    if (!reg) return std::nullopt;
    std::string when, by;
    auto image = reg->baseImageFor(file, &when, &by);
    if (!image) return std::nullopt;
    return Base{*image, QDateTime::fromString(QString::fromStdString(when), Qt::ISODate), by};
}

void SafetyNet::fileSaved(const QString& path) {
    fileImage_ = form_.document().working;
    registry::Register* reg = buildingRegister();
    // The file is saved all the same; only the register's note of its
    // building is missing, and its upload will not know where it comes from.
    const auto notNoted = [this](const QString& why) {
        form_.setNotice([why](int language) {
            return QString::fromUtf8(texts::messageText(Message::FileNotNoted, language))
                .replace(QLatin1String("%s"), why)
                .toHtmlEscaped();
        });
    };
    if (!reg) {
        if (registry::Register::available()) notNoted(registerError_);
        return;
    }
    std::optional<Image> base;
    if (base_) base = base_->image;
    std::optional<registry::ControllerKey> origin;
    if (origin_.kind == jobs::Origin::Kind::Download || origin_.kind == jobs::Origin::Kind::Visit) origin = origin_.key;
    if (origin_.kind == jobs::Origin::Kind::File)
        if (const auto origins = reg->originsOf(origin_.image); !origins.empty()) origin = origins.front().key;
    if (!reg->recordSavedFile(path.toStdString(), form_.document().working, origin, base))
        notNoted(QString::fromStdString(reg->error()));
}

void SafetyNet::transferCompleted(bool upload) {
    transferred_ = true;
    form_.setNotice(QString());
    if (!upload) {
        form_.setOpenFile(QString());  // the window now shows the controller, not a file
        fileImage_.reset();
    }
    // The working image now matches this controller's.
    const auto& identity = link_.lastIdentity();
    const registry::ControllerKey key =
        identity ? registry::ControllerKey{identity->id, identity->serialNumber} : registry::kUnknownController;
    held_ = jobs::Held{key, form_.document().device, registry::now()};
    cutOff_.reset();
    heldPort_ = link_.portName();
    origin_ = identity ? jobs::Origin{jobs::Origin::Kind::Download, key, {}, {}, {}} : jobs::Origin{};
    // A window that no longer matches its file (a merged upload) keeps its mark.
    if (!upload || !fileImage_ || *fileImage_ == form_.document().working) form_.imageKept();
    base_ = Base{form_.document().device, now_(), {}};  // further edits start from what the controller now holds

    // What the controller holds now; a backup that fails never fails the transfer.
    const QDateTime now = now_();
    QString error;
    const QString path = writeBackupFile(folder_, form_.document().device,
                                         backupDescription(upload, now, portText(), form_.CurrentLanguage()), now, &error);
    if (path.isEmpty())
        form_.setStatusText(form_.statusText() + QStringLiteral(" — ") +
                            text(Message::BackupFailed).replace(QLatin1String("%s"), error));
    // A download's visit goes to the building register (an upload's is the flow's).
    if (!upload) recordRead("completed", form_.document().device);
}

void SafetyNet::checkRead(const Image& controller) {
    const ChangeList changes = listChanges(form_.document().device, controller);
    if (changes.empty()) {
        form_.setStatusText(text(Message::CheckSame));
        return;
    }
    form_.setStatusText(text(Message::CheckDiffers));
    ChangeDialogTexts t;
    t.title = text(Message::CheckTitle);
    t.note = text(Message::CheckDiffers);
    t.reject = text(Message::ButtonClose);
    // What differs, without the blocks-to-send group: an upload sends what the
    // window changed, not these blocks.
    std::vector<texts::ChangeGroup> groups = texts::describeChanges(changes, form_.CurrentLanguage());
    groups.erase(std::remove_if(groups.begin(), groups.end(),
                                [](const texts::ChangeGroup& g) { return g.kind == texts::ChangeGroupKind::Upload; }),
                 groups.end());
    form_.prompts().showChanges(&form_, t, groups);
}

void SafetyNet::compare() {
    if (form_.GetData() != 1) return;
    const ChangeList changes = listChanges(form_.document().device, form_.document().working);
    ChangeDialogTexts t;
    t.title = text(Message::CompareTitle);
    const bool known = deviceKnownHere();
    if (!known) t.warning = unknownWarning();
    if (changes.empty()) t.note = text(Message::NoDifferences);
    t.reject = text(Message::ButtonClose);
    form_.prompts().showChanges(&form_, t,
                                listWithWarnings(changes, form_.document().working, form_.CurrentLanguage(), !known));
}

void SafetyNet::check() {
    if (!transferred_) {
        form_.showMessage(text(Message::CheckNothingKnown));
        return;
    }
    link_.checkController();
}

void SafetyNet::showBackups() {
    const int language = form_.CurrentLanguage();
    const QString path = form_.prompts().chooseBackup(&form_, folder_, language);
    if (path.isEmpty() || !form_.confirmDiscard(Message::UnsavedLoad)) return;
    form_.loadDataFile(path);
}

void SafetyNet::showRegister() {
    registry::Register* reg = buildingRegister();
    if (!reg) {
        form_.showMessage(text(Message::RegisterUnavailable).replace(QLatin1String("%s"), registerError_));
        return;
    }
    const int language = form_.CurrentLanguage();
    RegisterDialog dialog(&form_, *reg, language);
    dialog.setObjectName(QStringLiteral("RegisterDialog"));
    dialog.showChanges = [this, language](const Image& older, const Image& newer, const QString& title) {
        ChangeDialogTexts ct;
        ct.title = title;
        if (older == newer) ct.note = text(Message::NoDifferences);
        ct.reject = text(Message::ButtonClose);
        std::vector<texts::ChangeGroup> groups = texts::describeChanges(listChanges(older, newer), language);
        groups.erase(std::remove_if(groups.begin(), groups.end(),
                                    [](const texts::ChangeGroup& g) { return g.kind == texts::ChangeGroupKind::Upload; }),
                     groups.end());
        form_.prompts().showChanges(&form_, ct, groups);
    };
    dialog.report = [this](const QString& what) { form_.showMessage(what); };
    dialog.makeReport = [this, &dialog](const registry::ControllerKey& key, std::int64_t visit) {
        visitReport(key, visit, &dialog);
    };
    dialog.setCompanySync(company_);
    dialog.setFieldHistory([reg](const registry::ControllerKey& key) { return ReplacedEdits(*reg, key); });
    form_.prompts().runDialog(&dialog);
    const auto chosen = dialog.chosenImage();
    if (!chosen || !form_.confirmDiscard(Message::UnsavedLoad)) return;
    form_.loadImage(*chosen);
    // The window shows what the controller held at that visit: the guard and
    // the merge start from it, and the status and title say so.
    const auto key = dialog.chosenController();
    const auto id = dialog.chosenVisit();
    const auto visit = key && id ? reg->visit(*key, *id) : std::nullopt;
    if (!visit) return;
    origin_ = jobs::Origin{jobs::Origin::Kind::Visit, *key, *chosen, visit->time, visit->technician};
    base_.reset();
    fileImage_.reset();
    const QString building = buildingText(*key);
    const QDateTime when = QDateTime::fromString(QString::fromStdString(visit->time), Qt::ISODate);
    const auto name = [building, when](int language) {
        const QLocale locale(language == texts::kPolish ? QLocale::Polish : QLocale::English);
        return fillFields(QString::fromUtf8(texts::messageText(Message::VisitOpened, language)),
                          {locale.toString(when, QLocale::ShortFormat), building});
    };
    form_.setStatus(name);
    form_.setShownSource(name);
}

}  // namespace kelvane::shell
