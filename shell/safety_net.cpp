#include "shell/safety_net.h"

#include "image/change_list.h"
#include "shell/backups.h"
#include "registry/key_store.h"
#include "shell/company_wiring.h"
#include "texts/change_text.h"
#include "texts/configuration_warnings.h"
#include "texts/language_table.h"
#include "texts/visit_texts.h"
#include "shell/link_controller.h"
#include "shell/main_window.h"
#include "shell/register_dialog.h"
#include "shell/shown_time.h"
#include "shell/visit_report_flow.h"
#include "texts/report_text.h"

#include <QAction>
#include <QFileInfo>

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
}  // namespace

SafetyNet::SafetyNet(MainWindow& form, shell::LinkController& link, QObject* parent)
    : QObject(parent), form_(form), link_(link), folder_(defaultBackupFolder()), now_([] {
          return QDateTime::currentDateTime();
      }) {
    // Backups of earlier versions come along into today's folder.
    MoveBackups(PreviousBackupFolder(), folder_);
    makeBackupsPrivate(folder_);
    lookup_ = [this](const Image& file) { return jobs::registeredBase(buildingRegister(), file); };
    rememberAskBeforeUpload();
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

QString SafetyNet::portText() const { return QString::fromStdString(jobs::portKey(link_.portName())); }

std::optional<registry::ControllerKey> SafetyNet::connected() const {
    const auto& now = link_.lastIdentity();
    if (!now) return std::nullopt;
    return registry::ControllerKey{now->id, now->serialNumber};
}

QString SafetyNet::buildingText(const registry::ControllerKey& key) {
    const QString identity = QString::fromStdString(registry::keyText(key));
    if (registry::Register* reg = buildingRegister())
        if (const auto known = reg->controller(key); known && !known->name.empty())
            return QString::fromStdString(known->name) + QStringLiteral(" (") + identity + QLatin1Char(')');
    return identity;
}

bool SafetyNet::deviceKnownHere() const { return work_.holds(link_.portName(), connected()); }

QString SafetyNet::unknownWarning() const {
    return text(work_.cutOffAt(link_.portName(), connected()) ? Message::UnknownAfterCutOff : Message::UnknownController);
}

QString SafetyNet::dateText(const std::string& isoTime) const {
    const QDateTime when = QDateTime::fromString(QString::fromStdString(isoTime), Qt::ISODate);
    if (!when.isValid()) return QString::fromStdString(isoTime);
    return shownDateTime(when, form_.CurrentLanguage());
}

QString SafetyNet::baseText(const std::string& isoTime, const std::string& by) const {
    return QString::fromStdString(texts::visitDateWithWho(dateText(isoTime).toStdString(), by, registry::technicianName()));
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
    work_.fileLoaded(image);
    fileImage_ = image;
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
    const std::string why =
        jobs::recordSavedFile(*reg, path.toStdString(), form_.document().working, work_.savedFrom(lookup_));
    if (!why.empty()) notNoted(QString::fromStdString(why));
}

void SafetyNet::transferCompleted(bool upload) {
    form_.setNotice(QString());
    if (!upload) {
        form_.setOpenFile(QString());  // the window now shows the controller, not a file
        fileImage_.reset();
    }
    // The working image now matches this controller's.
    // Further edits start from what the controller now holds.
    work_.transferred(link_.portName(), connected().value_or(registry::kUnknownController), form_.document().device,
                      registry::now());
    // A window that no longer matches its file (a merged upload) keeps its mark.
    if (!upload || !fileImage_ || *fileImage_ == form_.document().working) form_.imageKept();

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
    if (!work_.transferredInRun()) {
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
    work_.visitOpened(*key, *chosen, visit->time, visit->technician);
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
