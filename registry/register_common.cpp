#include "registry/building_register.h"

#include "image/change_list.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

// What every build of the register shares, with or without its database:
// controller keys, visit kinds, the technician, the time and the paths.
namespace kelvane::registry {

namespace {

const char* const kKinds[kVisitKindCount] = {"download", "upload", "check", "flash", "backup", "report"};

QString q(const std::string& s) { return QString::fromStdString(s); }

// The settings KelvaneMini, Orva_Upgrade and kvtool share (the company
// register's server is there too), not one program's own.
QSettings organisationSettings() { return QSettings(QStringLiteral("Kelvane"), QStringLiteral("Kelvane")); }
constexpr const char* kTechnicianKey = "technician";

std::string& technicianForRun() {
    static std::string name;
    return name;
}

// One line, trimmed, and no longer than a name needs.
std::string cleanName(const std::string& name) { return q(name).simplified().left(kMaxTechnicianLength).toStdString(); }

#if defined(_WIN32) && defined(__GNUC__)
// The register matches names with QRegularExpression on the jobs' threads.
// Its compiled matcher keeps a stack per thread in a C++ thread_local, and
// with MinGW's emulated thread-local storage that storage is freed before
// its destructor runs when the thread ends: the destructor faulted at the
// end of every job that recorded a visit, and the lock the fault left held
// hung the program at its exit. Without the compiled matcher no such stack
// is ever made; the register's patterns are short, so nothing is lost.
// Set before main(), before any pattern is compiled.
const bool kNoMatcherStacks = qputenv("QT_ENABLE_REGEXP_JIT", "0");
#endif

}  // namespace

std::string keyText(const ControllerKey& key) {
    if (!key.known()) return "unknown";
    return std::to_string(key.deviceId) + "/" + std::to_string(key.serialNumber);
}

std::optional<ControllerKey> parseKey(const std::string& text, int* deviceId) {
    if (text == "unknown") return kUnknownController;
    static const QRegularExpression form(QStringLiteral("^(?:(\\d{1,3})/)?(\\d{1,5})$"));
    const auto m = form.match(q(text));
    if (!m.hasMatch()) return std::nullopt;
    const int serial = m.captured(2).toInt();
    if (serial > 0xFFFF) return std::nullopt;
    if (m.captured(1).isEmpty()) {
        if (deviceId) *deviceId = -1;  // any device ID
        return ControllerKey{-1, serial};
    }
    const int id = m.captured(1).toInt();
    if (id > 0xFF) return std::nullopt;
    if (deviceId) *deviceId = id;
    return ControllerKey{id, serial};
}

const char* kindName(VisitKind kind) { return kKinds[static_cast<int>(kind)]; }

std::string systemUser() {
    for (const char* var : {"USER", "USERNAME", "LOGNAME"}) {
        const QString v = qEnvironmentVariable(var);
        if (!v.isEmpty()) return v.toStdString();
    }
#ifdef Q_OS_UNIX
    if (const passwd* pw = ::getpwuid(::getuid())) return pw->pw_name;
#endif
    return "?";
}

std::string technicianSetting() {
    return cleanName(organisationSettings().value(QLatin1String(kTechnicianKey)).toString().toStdString());
}

void setTechnicianSetting(const std::string& name) {
    QSettings settings = organisationSettings();
    if (const std::string clean = cleanName(name); clean.empty())
        settings.remove(QLatin1String(kTechnicianKey));
    else
        settings.setValue(QLatin1String(kTechnicianKey), q(clean));
    settings.sync();
}

void setTechnicianForRun(const std::string& name) { technicianForRun() = cleanName(name); }

std::string technicianName() {
    if (!technicianForRun().empty()) return technicianForRun();
    if (std::string set = technicianSetting(); !set.empty()) return set;
    return systemUser();
}

std::string now() {
    const QDateTime t = QDateTime::currentDateTime();
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate).toStdString();
}

int changeCount(const Image& before, const Image& after) {
    const ChangeList c = listChanges(before, after);
    return static_cast<int>(c.settings.size() + c.rows.size() + c.bytes.size());
}

std::string Register::defaultPath() {
    const QString env = qEnvironmentVariable("KELVANE_REGISTER");
    if (!env.isEmpty()) return env.toStdString();
    return (QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/Kelvane/register.sqlite"))
        .toStdString();
}

std::string Register::defaultBackupFolder() {
    return (QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/Kelvane/KelvaneMini/backups"))
        .toStdString();
}

}  // namespace kelvane::registry
