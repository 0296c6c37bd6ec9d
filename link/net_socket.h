#pragma once
// The socket under a gateway's stream, for TLS to run over it (link/net_tls.cpp).
#ifdef _WIN32
#include <winsock2.h>
#endif

namespace kelvane::link::net {

#ifdef _WIN32
using SocketHandle = SOCKET;
inline const SocketHandle kNoSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// A stream that runs on a socket of its own.
class SocketOwner {
public:
    virtual ~SocketOwner() = default;
    virtual SocketHandle socket() const = 0;
};

// Whether the socket can be read (or written) within waitMs.
bool waitFor(SocketHandle s, bool writable, int waitMs);
void closeSocket(SocketHandle s);

}  // namespace kelvane::link::net
