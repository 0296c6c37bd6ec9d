#pragma once
// Ports reached through a serial-over-IP gateway, named as embedded flashers
// name them:
//   rfc2217://HOST:PORT      Telnet with the COM port option: the programs set
//                            the gateway's line as they set a local port's
//   rfc2217+tls://HOST:PORT  the same inside TLS, the gateway's certificate
//                            verified against the CA file (setGatewayCaFile)
//   socket://HOST:PORT       raw TCP to a gateway whose line is fixed
// HOST is a name, an IPv4 address or an IPv6 address in brackets ([::1]).
#include <optional>
#include <string>

namespace kelvane::link {

enum class NetScheme { Rfc2217, Rfc2217Tls, Socket };

struct NetAddress {
    NetScheme scheme = NetScheme::Rfc2217;
    std::string host;  // without the brackets of an IPv6 address
    int port = 0;
};

// Whether the name begins with one of the schemes (a gateway's port, even if
// the rest is malformed: it is then refused as no such port).
bool isNetPortName(const std::string& name);
// The gateway's address; none for a name that is not a well-formed one
// (no host, a port outside 1..65535, anything after the port).
std::optional<NetAddress> parseNetPort(const std::string& name);

// Whether the host is this machine by its name alone: localhost, 127.x.y.z, ::1.
bool isLoopbackHost(const std::string& host);
// Whether what crosses this port (every code of a building) goes over a
// network in the clear: rfc2217:// or socket:// to a host not this machine.
bool crossesNetworkUnencrypted(const std::string& name);
// Whether the port's line speed is the gateway's and cannot be changed
// (socket://): a job that needs another speed (a flash) is refused.
bool hasFixedSpeed(const std::string& name);

// The CA certificates (a PEM file) that rfc2217+tls:// verifies gateways
// against; empty: the system's. Process-wide, for lines opened from now on;
// at first the value of KELVANE_GATEWAY_CA, if set.
void setGatewayCaFile(const std::string& path);
std::string gatewayCaFile();

}  // namespace kelvane::link
