#include "registry/company_connection.h"

// The company register's server in a build without Qt SQL or libpq: no
// string is read, and nothing is kept.
namespace kelvane::registry {

std::string ServerAddress::value(const std::string&) const { return {}; }
bool ServerAddress::local() const { return true; }
std::string ServerAddress::sslmode() const { return {}; }
bool ServerAddress::verified() const { return false; }
std::string ServerAddress::rootCertificate() const { return {}; }
std::optional<ServerAddress> parseServerUrl(const std::string&, std::string* why) {
    if (why) *why = kNoServerDriver;
    return std::nullopt;
}
std::optional<std::string> serverUrl() { return std::nullopt; }
void setServerUrl(const std::string&) {}
bool serverDriverAvailable(std::string* why) {
    if (why) *why = kNoServerDriver;
    return false;
}

}  // namespace kelvane::registry
