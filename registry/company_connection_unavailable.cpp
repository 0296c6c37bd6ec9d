#include "registry/company_connection.h"

#include "files/program_log.h"

#include <QSettings>

// The company register's server in a build without Qt SQL's PostgreSQL side
// or libpq (the Windows kit): no string is read or reached, and a server the
// settings name is shown as one this build cannot reach.
namespace kelvane::registry {

namespace {

QSettings settings() { return QSettings(QStringLiteral("Kelvane"), QStringLiteral("Kelvane")); }

}  // namespace

std::string ServerAddress::value(const std::string&) const { return {}; }
bool ServerAddress::local() const { return true; }
std::string ServerAddress::sslmode() const { return {}; }
bool ServerAddress::verified() const { return true; }
std::string ServerAddress::rootCertificate() const { return {}; }
std::optional<ServerAddress> parseServerUrl(const std::string&, std::string* why, ServerReason* reason) {
    if (why) *why = kNoServerDriver;
    if (reason) *reason = {ServerProblem::NoDriver, StringProblem::None, {}, {}};
    return std::nullopt;
}
std::optional<std::string> serverUrl() {
    const QString url = settings().value(QStringLiteral("register/server")).toString();
    if (url.isEmpty()) return std::nullopt;
    return url.toStdString();
}
void setServerUrl(const std::string& url) {
    settings().setValue(QStringLiteral("register/server"), QString::fromStdString(maskConnectionSecrets(url)));
}
bool serverDriverAvailable(std::string* why) {
    if (why) *why = kNoServerDriver;
    return false;
}

}  // namespace kelvane::registry
