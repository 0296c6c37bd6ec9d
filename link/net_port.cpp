#include "link/net_port.h"

#include <cstdlib>
#include <mutex>

namespace kelvane::link {
namespace {

struct SchemeName {
    NetScheme scheme;
    const char* prefix;
};
constexpr SchemeName kSchemes[] = {
    {NetScheme::Rfc2217Tls, "rfc2217+tls://"},
    {NetScheme::Rfc2217, "rfc2217://"},
    {NetScheme::Socket, "socket://"},
};

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

std::mutex caMutex;
std::string& caFile() {
    static std::string path = [] {
        const char* env = std::getenv("KELVANE_GATEWAY_CA");
        return std::string(env ? env : "");
    }();
    return path;
}

}  // namespace

bool isNetPortName(const std::string& name) {
    for (const SchemeName& s : kSchemes)
        if (startsWith(name, s.prefix)) return true;
    return false;
}

std::optional<NetAddress> parseNetPort(const std::string& name) {
    for (const SchemeName& s : kSchemes) {
        if (!startsWith(name, s.prefix)) continue;
        const std::string rest = name.substr(std::char_traits<char>::length(s.prefix));
        NetAddress a;
        a.scheme = s.scheme;
        std::string::size_type colon;
        if (!rest.empty() && rest[0] == '[') {
            const auto close = rest.find(']');
            if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return std::nullopt;
            a.host = rest.substr(1, close - 1);
            colon = close + 1;
        } else {
            colon = rest.rfind(':');
            if (colon == std::string::npos) return std::nullopt;
            a.host = rest.substr(0, colon);
            if (a.host.find(':') != std::string::npos) return std::nullopt;  // IPv6 needs its brackets
        }
        const std::string digits = rest.substr(colon + 1);
        if (a.host.empty() || digits.empty() || digits.size() > 5) return std::nullopt;
        for (char c : digits)
            if (c < '0' || c > '9') return std::nullopt;
        for (char c : a.host)
            if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '@' || c == '?' || c == '#')
                return std::nullopt;
        a.port = std::stoi(digits);
        if (a.port < 1 || a.port > 65535) return std::nullopt;
        return a;
    }
    return std::nullopt;
}

bool isLoopbackHost(const std::string& host) {
    if (host == "localhost" || host == "::1") return true;
    if (!startsWith(host, "127.")) return false;
    int dots = 0;
    for (char c : host) {
        if (c == '.')
            ++dots;
        else if (c < '0' || c > '9')
            return false;
    }
    return dots == 3;
}

bool crossesNetworkUnencrypted(const std::string& name) {
    const auto a = parseNetPort(name);
    return a && a->scheme != NetScheme::Rfc2217Tls && !isLoopbackHost(a->host);
}

bool hasFixedSpeed(const std::string& name) {
    const auto a = parseNetPort(name);
    return a && a->scheme == NetScheme::Socket;
}

void setGatewayCaFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(caMutex);
    caFile() = path;
}

std::string gatewayCaFile() {
    std::lock_guard<std::mutex> lock(caMutex);
    return caFile();
}

}  // namespace kelvane::link
