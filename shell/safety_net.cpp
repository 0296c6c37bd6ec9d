#include "shell/safety_net.h"

#include "image/change_list.h"
#include "shell/backups.h"
#include "texts/change_text.h"
#include "texts/configuration_warnings.h"
#include "texts/language_table.h"
#include "shell/link_controller.h"
#include "shell/main_window.h"
#include "shell/merge_dialog.h"
#include "shell/register_dialog.h"
#include "shell/shown_time.h"

#include <QAction>
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
    std::vector<texts::ChangeGroup> groups = texts::DescribeChanges(
        changes, language, unknown ? texts::ChangeSides::AfterOnly : texts::ChangeSides::BeforeAndAfter);
    for (auto& g : texts::WarningGroups(CheckConfiguration(working), language)) groups.push_back(std::move(g));
    return groups;
}

// Remembered between runs.
const char kAskBeforeUpload[] = "askBeforeUpload";
const char kCheckAfterUpload[] = "checkAfterUpload";

QSettings settings() { return QSettings(QStringLiteral("Kelvane"), QStringLiteral("KelvaneMini")); }
}  // namespace

SafetyNet::SafetyNet(MainWindow& form, shell::LinkController& link, QObject* parent)
    : QObject(parent), form_(form), link_(link), folder_(BackupFolder()), now_([] {
          return QDateTime::currentDateTime();
      }) {
    MakeBackupsPrivate(folder_);
    lookup_ = [this](const Image& file) { return registeredBase(file); };
    if (QAction* ask = form.action("ASKUPLOAD")) {
        ask->setChecked(settings().value(QLatin1String(kAskBeforeUpload), true).toBool());
        connect(ask, &QAction::toggled, this, [](bool on) { settings().setValue(QLatin1String(kAskBeforeUpload), on); });
    }
    // Another port, or another controller on it (or one that no longer
    // answers): what was downloaded is not what this controller holds, so the
    // upload asks as when nothing was downloaded.
    connect(&link_, &LinkController::portProbed, this, [this] {
        const auto& now = link_.lastIdentity();
        const auto& then = downloadIdentity_;
        const bool same = link_.portName() == downloadPort_ && now && then && now->id == then->id &&
                          now->serialNumber == then->serialNumber;
        if (!same) downloaded_ = false;
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

void SafetyNet::recordVisit(bool upload) {
    // A build without the register has nothing to record and nothing to
    // repeat after every transfer.
    if (!registry::Register::available()) return;
    QString why;
    std::optional<registry::Recorded> recorded;
    if (const auto& identity = link_.lastIdentity(); !identity) {
        why = QString::fromUtf8(texts::toolText(texts::ToolText::NoIdentity, form_.CurrentLanguage()));
    } else if (registry::Register* reg = buildingRegister()) {
        registry::NewVisit v;
        v.key = {identity->id, identity->serialNumber};
        v.firmware = identity->firmware;
        v.kind = upload ? registry::VisitKind::Upload : registry::VisitKind::Download;
        v.port = portText().toStdString();
        v.image = form_.document().device;
        recorded = reg->recordVisit(v);
        if (!recorded) why = QString::fromStdString(reg->error());
        // Without the data key the visit is kept without its image: said once.
        static bool imagesNoteSaid = false;
        if (recorded && !reg->imagesNote().empty() && !imagesNoteSaid) {
            imagesNoteSaid = true;
            form_.setStatusText(form_.statusText() + QStringLiteral(" — ") + QString::fromStdString(reg->imagesNote()));
        }
    } else {
        why = registerError_;
    }
    if (recorded && !upload && recorded->previous && recorded->previousImage) sinceLastVisit(*recorded);
    if (!recorded)
        form_.setStatusText(form_.statusText() + QStringLiteral(" — ") +
                            QString::fromUtf8(texts::toolText(texts::ToolText::VisitNotRecorded, form_.CurrentLanguage()))
                                .replace(QLatin1String("%s"), why));
}

void SafetyNet::sinceLastVisit(const registry::Recorded& recorded) {
    const QDateTime then = QDateTime::fromString(QString::fromStdString(recorded.previous->time), Qt::ISODate);
    const QString stored = QString::fromStdString(recorded.previous->time);
    const int changes = recorded.changes.value_or(0);
    // The notice follows the window's language, as the status text does.
    const auto notice = [then, stored, changes](int language) {
        return QString::fromUtf8(texts::messageText(Message::SinceLastVisit, language))
            .replace(QLatin1String("%s"), then.isValid() ? shownDate(then, language) : stored)
            .replace(QLatin1String("%d"), QString::number(changes));
    };
    const Image before = *recorded.previousImage, after = form_.document().device;
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
                texts::DescribeChanges(ListChanges(before, after), form_.CurrentLanguage());
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

bool SafetyNet::confirmBuilding() {
    if (!origin_ || !origin_->known()) return true;  // where the image came from is not known: the usual question
    const auto identity = link_.probeConnected();
    if (!identity) return true;  // nothing answers: the upload itself says so
    const registry::ControllerKey connected{identity->id, identity->serialNumber};
    // Another controller than the one read in this run: what it holds is unknown.
    if (downloadIdentity_ &&
        (downloadIdentity_->id != identity->id || downloadIdentity_->serialNumber != identity->serialNumber))
        downloaded_ = false;
    if (*origin_ == connected) return true;
    enum { Send, Cancel };
    return form_.prompts().choose(
               &form_, text(Message::WrongBuildingTitle),
               WrongBuildingWarning(form_.CurrentLanguage(), buildingText(*origin_), buildingText(connected)),
               {text(Message::WrongBuildingSend), text(Message::ButtonCancel)}, Cancel, Cancel) == Send;
}

bool SafetyNet::confirmUpload() {
    if (!confirmBuilding()) return false;
    const bool unknown = !downloaded_;
    checkAfter_ = settings().value(QLatin1String(kCheckAfterUpload), false).toBool();
    // The controller, as read in this run, is no longer what the edits started from.
    if (!unknown && base_ && base_->image != form_.document().device) return confirmMerge();
    if (!unknown && !settings().value(QLatin1String(kAskBeforeUpload), true).toBool()) return true;

    const ChangeList changes = ListChanges(form_.document().device, form_.document().working);
    ChangeDialogTexts t;
    t.title = text(Message::UploadQuestionTitle);
    if (unknown) t.warning = text(Message::UnknownController);
    if (changes.empty()) t.note = text(Message::NothingToSend);
    t.accept = text(Message::ButtonSend);
    t.reject = text(Message::ButtonCancel);
    if (!unknown) t.dontAsk = text(Message::DontAskAgain);  // the unknown case is always asked
    t.checkAfter = text(Message::CheckAfterSending);
    t.checkAfterTicked = checkAfter_;
    t.rejectIsDefault = unknown;
    const UploadAnswer answer = form_.prompts().showChanges(
        &form_, t, listWithWarnings(changes, form_.document().working, form_.CurrentLanguage(), unknown));
    if (!answer.send) return false;
    if (answer.dontAskAgain) {
        settings().setValue(QLatin1String(kAskBeforeUpload), false);
        if (QAction* ask = form_.action("ASKUPLOAD")) ask->setChecked(false);
    }
    checkAfter_ = answer.checkAfter;
    settings().setValue(QLatin1String(kCheckAfterUpload), checkAfter_);
    return true;
}

bool SafetyNet::confirmMerge() {
    const ThreeWayMerge merge =
        MergeVersions({base_->image, {}}, {form_.document().working, {}}, {form_.document().device, {}});
    const int language = form_.CurrentLanguage();
    MergeDialogTexts t;
    t.title = text(Message::UploadQuestionTitle);
    t.baseDate = shownDateTime(base_->when, language);
    t.itemColumn = text(Message::MergeItemColumn);
    t.fileColumn = text(Message::MergeFile);
    t.controllerColumn = text(Message::MergeController);
    t.overwrite = text(Message::MergeOverwrite);
    t.send = text(Message::ButtonSend);
    t.cancel = text(Message::ButtonCancel);
    MergeDialog dialog(&form_, merge, t, language);
    const MergeAnswer answer = dialog.answer(form_.prompts().runDialog(&dialog));
    if (!answer.send) return false;
    if (!answer.overwrite) {
        const MergedVersion merged = ResolveMerge(merge, answer.choices);
        for (GridId grid : merged.overfull)
            form_.showMessage(
                text(Message::MergeOverfull)
                    .replace(QLatin1String("%s"), QString::fromStdString(texts::GridCaption(grid, language))));
        if (!merged.complete()) return false;
        // What goes to the controller is what the window holds and shows afterwards.
        form_.document().working = merged.version.image;
        form_.DisplayData();
    }
    return true;
}

void SafetyNet::fileLoaded(const Image& image) {
    base_ = lookup_ ? lookup_(image) : std::nullopt;
    origin_.reset();
    if (registry::Register* reg = buildingRegister())
        if (const auto origins = reg->originsOf(image); !origins.empty()) origin_ = origins.front().key;
}

std::optional<SafetyNet::Base> SafetyNet::registeredBase(const Image& file) {
    registry::Register* reg = buildingRegister();
    if (!reg) return std::nullopt;
    std::string when;
    auto image = reg->baseImageFor(file, &when);
    if (!image) return std::nullopt;
    return Base{*image, QDateTime::fromString(QString::fromStdString(when), Qt::ISODate)};
}

void SafetyNet::fileSaved(const QString& path) {
    registry::Register* reg = buildingRegister();
    if (!reg) return;  // the file is saved all the same; only the register's index of it is missing
    std::optional<Image> base;
    if (base_) base = base_->image;
    reg->recordSavedFile(path.toStdString(), form_.document().working, origin_, base);
}

void SafetyNet::transferCompleted(bool upload) {
    transferred_ = true;
    form_.setNotice(QString());
    if (!upload) {
        downloaded_ = true;
        downloadPort_ = link_.portName();
        downloadIdentity_ = link_.lastIdentity();
        form_.setOpenFile(QString());  // the window now shows the controller, not a file
    }
    // The working image now matches this controller's.
    if (const auto& identity = link_.lastIdentity())
        origin_ = registry::ControllerKey{identity->id, identity->serialNumber};
    form_.imageKept();
    base_ = Base{form_.document().device, now_()};  // further edits start from what the controller now holds

    // What the controller holds now; a backup that fails never fails the transfer.
    const QDateTime now = now_();
    QString error;
    const QString path = WriteBackup(folder_, form_.document().device,
                                     BackupDescription(upload, now, portText(), form_.CurrentLanguage()), now, &error);
    if (path.isEmpty())
        form_.setStatusText(form_.statusText() + QStringLiteral(" — ") +
                            text(Message::BackupFailed).replace(QLatin1String("%s"), error));
    // The visit goes to the building register; one that cannot take it says so.
    recordVisit(upload);

    if (upload && checkAfter_) {
        checkAfter_ = false;
        // Once the finished upload has left the link.
        QTimer::singleShot(0, &link_, [this] { link_.checkController(); });
    }
}

void SafetyNet::checkRead(const Image& controller) {
    const ChangeList changes = ListChanges(form_.document().device, controller);
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
    std::vector<texts::ChangeGroup> groups = texts::DescribeChanges(changes, form_.CurrentLanguage());
    groups.erase(std::remove_if(groups.begin(), groups.end(),
                                [](const texts::ChangeGroup& g) { return g.kind == texts::ChangeGroupKind::Upload; }),
                 groups.end());
    form_.prompts().showChanges(&form_, t, groups);
}

void SafetyNet::compare() {
    if (form_.GetData() != 1) return;
    const ChangeList changes = ListChanges(form_.document().device, form_.document().working);
    ChangeDialogTexts t;
    t.title = text(Message::CompareTitle);
    if (!downloaded_) t.warning = text(Message::UnknownController);
    if (changes.empty()) t.note = text(Message::NoDifferences);
    t.reject = text(Message::ButtonClose);
    form_.prompts().showChanges(
        &form_, t, listWithWarnings(changes, form_.document().working, form_.CurrentLanguage(), !downloaded_));
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
    BackupsDialogTexts t;
    t.title = text(Message::BackupsTitle);
    t.when = text(Message::BackupsWhen);
    t.port = text(Message::BackupsPort);
    t.source = text(Message::BackupsSource);
    t.downloaded = text(Message::BackupsDownloaded);
    t.uploaded = text(Message::BackupsUploaded);
    t.residents = QString::fromStdString(texts::GridCaption(GridId::Residents, language));
    t.keys = QString::fromStdString(texts::GridCaption(GridId::Keys, language));
    t.open = text(Message::BackupsOpen);
    t.openFolder = text(Message::BackupsOpenFolder);
    t.close = text(Message::ButtonClose);
    t.none = text(Message::BackupsNone);
    t.language = language;
    const QString path = form_.prompts().chooseBackup(&form_, folder_, t);
    if (path.isEmpty() || !form_.confirmDiscard(Message::UnsavedLoad)) return;
    form_.loadDataFile(path);
}

void SafetyNet::showRegister() {
    registry::Register* reg = buildingRegister();
    if (!reg) {
        form_.showMessage(text(Message::RegisterUnavailable).replace(QLatin1String("%s"), registerError_));
        return;
    }
    const RegisterDialogTexts t = RegisterTexts(form_.CurrentLanguage());
    RegisterDialog dialog(&form_, *reg, t);
    dialog.setObjectName(QStringLiteral("RegisterDialog"));
    const int language = form_.CurrentLanguage();
    dialog.showChanges = [this, language](const Image& older, const Image& newer, const QString& title) {
        ChangeDialogTexts ct;
        ct.title = title;
        if (older == newer) ct.note = text(Message::NoDifferences);
        ct.reject = text(Message::ButtonClose);
        std::vector<texts::ChangeGroup> groups = texts::DescribeChanges(ListChanges(older, newer), language);
        groups.erase(std::remove_if(groups.begin(), groups.end(),
                                    [](const texts::ChangeGroup& g) { return g.kind == texts::ChangeGroupKind::Upload; }),
                     groups.end());
        form_.prompts().showChanges(&form_, ct, groups);
    };
    dialog.report = [this](const QString& what) { form_.showMessage(what); };
    form_.prompts().runDialog(&dialog);
    const auto chosen = dialog.chosenImage();
    if (!chosen || !form_.confirmDiscard(Message::UnsavedLoad)) return;
    form_.loadImage(*chosen);
}

}  // namespace kelvane::shell
