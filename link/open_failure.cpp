#include "link/open_failure.h"

#ifndef _WIN32
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane::link {

OpenFailure openFailureCause(const std::string& path, OpenError reported) {
#ifdef _WIN32
    (void)path;
    switch (reported) {
    case OpenError::NotFound: return OpenFailure::NoSuchPort;
    case OpenError::AccessDenied: return OpenFailure::Busy;
    case OpenError::Other: return OpenFailure::Unknown;
    }
    return OpenFailure::Unknown;
#else
    if (reported == OpenError::NotFound || path.empty()) return OpenFailure::NoSuchPort;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == EACCES ? OpenFailure::NoPermission : OpenFailure::NoSuchPort;
    if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) return OpenFailure::NoPermission;
    return reported == OpenError::AccessDenied ? OpenFailure::Busy : OpenFailure::Unknown;
#endif
}

}  // namespace kelvane::link
