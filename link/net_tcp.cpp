#include "link/net_stream.h"

#include <chrono>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "link/net_socket.h"

namespace kelvane::link::net {
namespace {

#ifdef _WIN32
// Winsock is started once for the process and left running.
bool startWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
bool inProgress() {
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS;
}
bool wouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }
void setNonBlocking(SocketHandle s) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}
#else
bool startWinsock() { return true; }
bool inProgress() { return errno == EINPROGRESS; }
bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
void setNonBlocking(SocketHandle s) { ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK); }
#endif

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

class TcpStream : public Stream, public SocketOwner {
public:
    explicit TcpStream(SocketHandle s) : s_(s) {}
    ~TcpStream() override { closeSocket(s_); }
    SocketHandle socket() const override { return s_; }

    long receive(std::uint8_t* buf, std::size_t n, int waitMs) override {
        if (!waitFor(s_, false, waitMs)) return 0;
        const auto got = ::recv(s_, reinterpret_cast<char*>(buf), static_cast<int>(n), 0);
        if (got > 0) return static_cast<long>(got);
        if (got < 0 && wouldBlock()) return 0;
        return -1;  // closed (0) or failed
    }

    bool sendAll(const std::uint8_t* data, std::size_t n, int waitMs) override {
        const std::int64_t end = nowMs() + waitMs;
        std::size_t sent = 0;
        while (sent < n) {
#ifdef _WIN32
            const int flags = 0;
#else
            const int flags = MSG_NOSIGNAL;  // a closed peer is an error, not a signal
#endif
            const auto put = ::send(s_, reinterpret_cast<const char*>(data + sent), static_cast<int>(n - sent), flags);
            if (put > 0) {
                sent += static_cast<std::size_t>(put);
                continue;
            }
            if (put < 0 && !wouldBlock()) return false;
            const std::int64_t left = end - nowMs();
            if (left <= 0 || !waitFor(s_, true, static_cast<int>(left))) return false;
        }
        return true;
    }

private:
    SocketHandle s_;
};

}  // namespace

bool waitFor(SocketHandle s, bool writable, int waitMs) {
#ifdef _WIN32
    WSAPOLLFD p{};
    p.fd = s;
    p.events = writable ? POLLWRNORM : POLLRDNORM;
    return WSAPoll(&p, 1, waitMs < 0 ? 0 : waitMs) > 0;
#else
    pollfd p{};
    p.fd = s;
    p.events = writable ? POLLOUT : POLLIN;
    return ::poll(&p, 1, waitMs < 0 ? 0 : waitMs) > 0;
#endif
}

void closeSocket(SocketHandle s) {
#ifdef _WIN32
    if (s != INVALID_SOCKET) closesocket(s);
#else
    if (s >= 0) ::close(s);
#endif
}

std::unique_ptr<Stream> connectTcp(const std::string& host, int port, int timeoutMs, OpenFailure& why) {
    why = OpenFailure::Unreachable;
    if (!startWinsock()) return nullptr;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
        why = OpenFailure::NoSuchPort;
        return nullptr;
    }
    const std::int64_t end = nowMs() + timeoutMs;
    std::unique_ptr<Stream> stream;
    for (addrinfo* a = found; a && !stream; a = a->ai_next) {
        SocketHandle s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == kNoSocket) continue;
        setNonBlocking(s);
        int one = 1;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        bool connected = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0;
        if (!connected && inProgress()) {
            const std::int64_t left = end - nowMs();
            if (left > 0 && waitFor(s, true, static_cast<int>(left))) {
                int error = 0;
                socklen_t size = sizeof error;
                connected =
                    ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 && error == 0;
            }
        }
        if (connected)
            stream = std::make_unique<TcpStream>(s);
        else
            closeSocket(s);
        if (nowMs() >= end) break;
    }
    ::freeaddrinfo(found);
    if (stream) why = OpenFailure::None;
    return stream;
}

}  // namespace kelvane::link::net
