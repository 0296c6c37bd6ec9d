#include "registry/company_sync.h"

// The company register of a build without Qt SQL: every call says why.
namespace kelvane::registry {

bool ServerAddress::local() const { return true; }
std::string ServerAddress::url() const { return {}; }
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
SyncState syncState(Register&) { return {}; }
SyncResult syncNow(Register&, const ServerAddress&, const SyncLimits&, const std::atomic_bool*) {
    SyncResult r;
    r.error = kNoServerDriver;
    return r;
}
SetupResult setupServer(const ServerAddress&, const SyncLimits&) {
    SetupResult r;
    r.error = kNoServerDriver;
    return r;
}

}  // namespace kelvane::registry
