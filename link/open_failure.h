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
    // A port reached through a network gateway (link/net_port.h):
    Unreachable,     // nothing accepted the connection within the connect time-out
    NotTrusted,      // the gateway's certificate was not verified (CA file, host name)
    NoTls,           // this build has no TLS
    GatewayRefused,  // the gateway did not confirm the line settings
    FixedSpeed,      // a job that needs another line speed, on a gateway whose speed is fixed (socket://)
};

// What ended a line that had opened, where the line can tell: a network
// gateway's line (link/net_line.h). A serial port has none to report.
enum class LineFault {
    None,
    Closed,          // the gateway closed the connection
    Silent,          // the gateway stopped answering its line's settings
    SettingRefused,  // the gateway applied other settings than those asked for
};

// What the port library reported when the open failed.
enum class OpenError { NotFound, AccessDenied, Other };

// The cause behind a failed open of the device at `path`. On Windows a
// denied COM port is one another program holds; on Unix a denied open is
// told apart by looking whether this user may read and write the device at
// all (a port held by another program refuses even its owner).
OpenFailure openFailureCause(const std::string& path, OpenError reported);

}  // namespace kelvane::link
