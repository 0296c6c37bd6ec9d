// A build without OpenSSL: rfc2217+tls:// is refused as this build lacking TLS.
#include "link/net_stream.h"

namespace kelvane::link::net {

bool tlsAvailable() { return false; }

std::unique_ptr<Stream> startTls(std::unique_ptr<Stream>, const std::string&, const std::string&, int, OpenFailure& why) {
    why = OpenFailure::NoTls;
    return nullptr;
}

}  // namespace kelvane::link::net
