#include "shell/safety_net.h"

#include "image/change_list.h"
#include "shell/backups.h"
#include "texts/change_text.h"
#include "texts/configuration_warnings.h"
#include "texts/language_table.h"
#include "shell/link_controller.h"
#include "shell/main_window.h"

#include <QAction>
#include <QSettings>
#include <QTimer>

#include <algorithm>

namespace kelvane::shell {

namespace {
using texts::Message;

// The change list, then the configuration's warnings under their own heading.
std::vector<texts::ChangeGroup> listWithWarnings(const ChangeList& changes, const Image& working, int language) {
    std::vector<texts::ChangeGroup> groups = texts::DescribeChanges(changes, language);
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
    if (QAction* ask = form.action("ASKUPLOAD")) {
        ask->setChecked(settings().value(QLatin1String(kAskBeforeUpload), true).toBool());
        connect(ask, &QAction::toggled, this, [](bool on) { settings().setValue(QLatin1String(kAskBeforeUpload), on); });
    }
}

QString SafetyNet::text(texts::Message message) const { return form_.messageText(message); }

QString SafetyNet::portText() const {
    // The name as the technician chose it, without the device-namespace prefix.
    QString port = QString::fromStdString(link_.portName());
    if (port.startsWith(QLatin1String("\\\\.\\"))) port.remove(0, 4);
    return port;
}

bool SafetyNet::confirmUpload() {
    const bool unknown = !downloaded_;
    checkAfter_ = settings().value(QLatin1String(kCheckAfterUpload), false).toBool();
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
        &form_, t, listWithWarnings(changes, form_.document().working, form_.CurrentLanguage()));
    if (!answer.send) return false;
    if (answer.dontAskAgain) {
        settings().setValue(QLatin1String(kAskBeforeUpload), false);
        if (QAction* ask = form_.action("ASKUPLOAD")) ask->setChecked(false);
    }
    checkAfter_ = answer.checkAfter;
    settings().setValue(QLatin1String(kCheckAfterUpload), checkAfter_);
    return true;
}

void SafetyNet::transferCompleted(bool upload) {
    transferred_ = true;
    if (!upload) downloaded_ = true;
    form_.imageKept();

    // What the controller holds now; a backup that fails never fails the transfer.
    const QDateTime now = now_();
    QString error;
    const QString path = WriteBackup(folder_, form_.document().device,
                                     BackupDescription(upload, now, portText(), form_.CurrentLanguage()), now, &error);
    if (path.isEmpty())
        form_.setStatusText(form_.statusText() + QStringLiteral(" — ") +
                            text(Message::BackupFailed).replace(QLatin1String("%s"), error));

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
    form_.prompts().showChanges(&form_, t, listWithWarnings(changes, form_.document().working, form_.CurrentLanguage()));
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
    t.residents = QString::fromStdString(texts::GridCaption(GridId::Residents, language));
    t.keys = QString::fromStdString(texts::GridCaption(GridId::Keys, language));
    t.open = text(Message::BackupsOpen);
    t.openFolder = text(Message::BackupsOpenFolder);
    t.close = text(Message::ButtonClose);
    t.none = text(Message::BackupsNone);
    const QString path = form_.prompts().chooseBackup(&form_, folder_, t);
    if (path.isEmpty() || !form_.confirmDiscard(Message::UnsavedLoad)) return;
    form_.loadDataFile(path);
}

}  // namespace kelvane::shell
