#pragma once
// Why a port did not open, as far as the system tells it.
#include <string>

namespace kelvane::link {

enum class OpenFailure {
    None,          // it opened
    NoSuchPort,    // nothing of that name
    Busy,          // another program holds it
    NoPermission,  // this user may not use it (on Linux: not in the dialout group)
    Unknown,
};

// What the port library reported when the open failed.
enum class OpenError { NotFound, AccessDenied, Other };

// The cause behind a failed open of the device at `path`. On Windows a
// denied COM port is one another program holds; on Unix a denied open is
// told apart by looking whether this user may read and write the device at
// all (a port held by another program refuses even its owner).
OpenFailure openFailureCause(const std::string& path, OpenError reported);

}  // namespace kelvane::link
