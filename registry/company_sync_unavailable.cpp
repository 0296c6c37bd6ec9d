#include "registry/company_sync.h"

// The company register of a build without Qt SQL or libpq: every call says why.
namespace kelvane::registry {

SyncState syncState(Register&) { return {}; }
SyncResult syncNow(Register&, const ServerAddress&, const SyncLimits&, const std::atomic_bool*) {
    SyncResult r;
    r.error = kNoServerDriver;
    r.reason.problem = ServerProblem::NoDriver;
    return r;
}
SetupResult setupServer(const ServerAddress&, const SyncLimits&) {
    SetupResult r;
    r.error = kNoServerDriver;
    r.reason.problem = ServerProblem::NoDriver;
    return r;
}

}  // namespace kelvane::registry
