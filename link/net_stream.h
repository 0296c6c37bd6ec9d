#pragma once
// The byte streams a gateway's line runs on: TCP (POSIX sockets, Winsock on
// Windows) and TLS over it (OpenSSL; a build without it refuses). Used by
// link::NetLine only.
#include "link/open_failure.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kelvane::link::net {

class Stream {
public:
    virtual ~Stream() = default;
    // Waits up to waitMs for bytes: the count (> 0), 0 when none came, -1 when
    // the peer closed the connection or it failed.
    virtual long receive(std::uint8_t* buf, std::size_t n, int waitMs) = 0;
    // Sends the n bytes, waiting up to waitMs for room; false when the peer
    // closed, the connection failed or the room did not come.
    virtual bool sendAll(const std::uint8_t* data, std::size_t n, int waitMs) = 0;
};

// A TCP connection to host:port within timeoutMs (every address the name has,
// in turn), Nagle's delay off. Null with the reason in why: Unreachable,
// NoSuchPort when the name has no address.
std::unique_ptr<Stream> connectTcp(const std::string& host, int port, int timeoutMs, OpenFailure& why);

// TLS over a connected TCP stream, the handshake within timeoutMs: the
// server's certificate verified against caFile (the system's store when
// empty) and its name or address against host. Null with the reason in why:
// NotTrusted, Unreachable (the handshake failed or took too long), NoTls in a
// build without TLS.
std::unique_ptr<Stream> startTls(std::unique_ptr<Stream> tcp, const std::string& host, const std::string& caFile,
                                 int timeoutMs, OpenFailure& why);

// Whether this build has TLS.
bool tlsAvailable();

}  // namespace kelvane::link::net
