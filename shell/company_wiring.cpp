#include "shell/company_wiring.h"

#include "registry/building_register.h"
#include "registry/company_sync.h"
#include "shell/company_sync_runner.h"
#include "shell/main_window.h"
#include "shell/prompts.h"
#include "shell/shown_time.h"
#include "texts/company_texts.h"
#include "texts/language_table.h"

#include <QDateTime>
#include <QInputDialog>
#include <QLineEdit>
#include <QTimer>

#include <map>
#include <memory>

namespace kelvane::shell {

namespace {

// The state as the laptop's register tells it, without the network. The
// register is opened on the window's thread once (which also loads the data
// key before any run needs it); a sync opens its own.
texts::CompanyRegisterState readState(std::unique_ptr<registry::Register>& reg) {
    texts::CompanyRegisterState s;
    const auto url = registry::serverUrl();
    if (!url) return s;
    s.serverSet = true;
    s.noDriver = !registry::serverDriverAvailable();
    const auto address = registry::parseServerUrl(*url);
    s.notVerified = address && !address->verified();
    if (!reg) {
        reg = std::make_unique<registry::Register>();
        reg->open(registry::Register::defaultPath());
    }
    // A register file that cannot be opened is this computer's fault, not the network's.
    if (!reg->isOpen()) {
        s.registerError = reg->error();
        if (s.registerError.empty()) s.registerError = "?";
        return s;
    }
    const registry::SyncState state = registry::syncState(*reg);
    if (state.lastSync) {
        const QDateTime t = QDateTime::fromString(QString::fromStdString(*state.lastSync), Qt::ISODate);
        if (t.isValid()) s.lastSync = localTime(t);
    }
    s.waiting = state.waitingVisits;
    // The last try reached no server: the window tells "offline" and the
    // count waiting (kvtool register sync says why); a server that refused
    // (a newer schema, another key) is named with its reason.
    s.offline = state.offline;
    s.failure = state.lastReason;
    return s;
}

registry::ServerReason runSync(const std::atomic<bool>& cancel) {
    const auto url = registry::serverUrl();
    if (!url) return {};
    registry::ServerReason why;
    const auto address = registry::parseServerUrl(*url, nullptr, &why);
    if (!address) return why;
    // Its own connection to the register file, on the runner's thread.
    registry::Register reg;
    if (!reg.open(registry::Register::defaultPath()))
        return {registry::ServerProblem::RegisterNotOpen, registry::StringProblem::None, reg.error(), {}};
    const registry::SyncResult r = registry::syncNow(reg, *address, {}, &cancel);
    return r.ok || r.cancelled ? registry::ServerReason() : r.reason;
}

}  // namespace

std::vector<ReplacedEdit> ReplacedEdits(registry::Register& reg, const registry::ControllerKey& key) {
    const auto now = reg.controller(key);
    std::map<std::string, std::string> newer;  // per field: the value that replaced the one looked at
    if (now) newer = {{"name", now->name}, {"address", now->address}, {"notes", now->notes}};
    std::vector<ReplacedEdit> out;
    for (const registry::FieldEdit& e : reg.fieldHistory(key)) {
        out.push_back({e.field, e.editedAt.empty() ? e.replacedAt : e.editedAt, e.editedBy, e.value, newer[e.field]});
        newer[e.field] = e.value;
    }
    return out;
}

CompanySyncRunner* WireCompanyRegister(MainWindow& form) {
    auto reg = std::make_shared<std::unique_ptr<registry::Register>>();
    CompanySyncHooks hooks;
    hooks.read = [reg] { return readState(*reg); };
    hooks.run = runSync;
    auto* runner = new CompanySyncRunner(std::move(hooks), &form);
    form.setCompanyStatus([runner](int language) { return runner->text(language); });
    QObject::connect(runner, &CompanySyncRunner::changed, &form, [&form] { form.refreshCompanyStatus(); });
    // At start, once the window is up; a minute after another laptop's push
    // kept the server busy.
    QTimer::singleShot(0, runner, [runner] { runner->request(); });
    auto* retry = new QTimer(runner);
    retry->setSingleShot(true);
    retry->setInterval(std::chrono::minutes(1));
    QObject::connect(retry, &QTimer::timeout, runner, [runner] { runner->request(); });
    QObject::connect(runner, &CompanySyncRunner::changed, retry, [runner, retry] {
        if (!runner->running() && runner->state().failure.problem == registry::ServerProblem::Busy && !retry->isActive())
            retry->start();
    });
    return runner;
}

void AskTechnician(MainWindow& form) {
    const int language = form.CurrentLanguage();
    QInputDialog dialog(&form);
    dialog.setObjectName(QStringLiteral("TechnicianDialog"));
    dialog.setWindowTitle(form.action("TECHNICIAN")->text().remove(QChar(0x2026)));
    dialog.setLabelText(QString::fromUtf8(texts::messageText(texts::Message::TechnicianQuestion, language)));
    dialog.setTextValue(QString::fromStdString(registry::technicianName()));
    if (auto* edit = dialog.findChild<QLineEdit*>()) edit->setMaxLength(registry::kMaxTechnicianLength);
    if (form.prompts().runDialog(&dialog) != QDialog::Accepted) return;
    const std::string name = dialog.textValue().toStdString();
    registry::setTechnicianSetting(name == registry::systemUser() ? std::string() : name);
}

void AskCompanyServer(MainWindow& form, CompanySyncRunner& runner) {
    const int language = form.CurrentLanguage();
    const auto text = [language](texts::Message m) { return QString::fromUtf8(texts::messageText(m, language)); };
    QInputDialog dialog(&form);
    dialog.setObjectName(QStringLiteral("CompanyServerDialog"));
    dialog.setWindowTitle(form.action("COMPANYSERVER")->text().remove(QChar(0x2026)));
    dialog.setLabelText(text(texts::Message::CompanyServerQuestion));
    dialog.setTextValue(QString::fromStdString(registry::serverUrl().value_or("")));
    if (auto* edit = dialog.findChild<QLineEdit*>()) edit->setMaxLength(4000);
    if (form.prompts().runDialog(&dialog) != QDialog::Accepted) return;
    const std::string given = dialog.textValue().trimmed().toStdString();
    if (!given.empty()) {
        registry::ServerReason why;
        const auto address = registry::parseServerUrl(given, nullptr, &why);
        if (!address) {
            const QString reason = QString::fromStdString(texts::serverReasonText(why, language));
            form.prompts().error(&form, dialog.windowTitle(),
                                 text(texts::Message::CompanyServerRefused).replace(QLatin1String("%s"), reason));
            return;
        }
        registry::setServerUrl(address->url());
        if (!address->secrets.empty())
            form.prompts().message(&form, dialog.windowTitle(), text(texts::Message::CompanyServerNoPassword));
        // A string that leaves the server unchecked (an old sslmode=require)
        // is kept as given, with how to have it checked.
        if (!address->verified())
            form.prompts().message(&form, dialog.windowTitle(),
                                   QString::fromUtf8(texts::toolText(texts::ToolText::ServerNotVerified, language))
                                       .replace(QLatin1String("%s"), QString::fromStdString(address->sslmode())));
    } else {
        registry::setServerUrl({});
    }
    form.refreshCompanyStatus();
    if (!given.empty()) runner.request();
}

}  // namespace kelvane::shell
