#pragma once
// Real gateways for the remote-service tests: ser2net in front of a pty, a
// TCP proxy that delays, stalls or cuts what passes, and a throw-away CA.
#include "tests/link/pty_pair.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

namespace remotetest {

// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
inline int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(s);
    return ntohs(a.sin_port);
}

inline int connectTo(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return s;
    ::close(s);
    return -1;
}

// Whether something listens on the port within timeoutMs (a connection made and closed).
inline bool listening(int port, int timeoutMs = 3000) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        const int s = connectTo(port);
        if (s >= 0) {
            ::close(s);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// ser2net 4 with a configuration of its own: Telnet with RFC 2217 on a free
// port of 127.0.0.1, in front of the serial device `device`.
class Ser2net {
public:
    Ser2net(const std::string& folder, const std::string& device) : port_(freePort()) {
        const std::string config = folder + "/ser2net.yaml";
        std::ofstream(config) << "connection: &c\n"
                              << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port_ << "\n"
                              << "  connector: serialdev," << device << ",2400n81,local\n";
        child_ = std::make_unique<ptytest::Child>(
            std::vector<std::string>{"ser2net", "-n", "-u", "-c", config, "-P", folder + "/ser2net.pid"});
        ready_ = listening(port_);
    }
    bool ready() const { return ready_; }
    int port() const { return port_; }

private:
    int port_;
    bool ready_ = false;
    std::unique_ptr<ptytest::Child> child_;
};

// One connection at a time from a free port to `target`: each direction's
// bytes held `delayMs` before they go on; after stallAfter bytes towards the
// client nothing more passes (the connection stays); after closeAfter bytes
// towards the gateway both connections close; towards the client one byte
// string can be replaced by another (a gateway that says it set another
// value). Counts what it passed.
class Proxy {
public:
    struct Faults {
        int delayMs = 0;
        long stallAfter = -1;  // bytes to the client, -1: never
        long closeAfter = -1;  // bytes to the gateway, -1: never
        std::string from, to;  // towards the client, bytes `from` are passed on as `to`
    };
    Proxy(int target, Faults f) : target_(target), faults_(f), port_(freePort()) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port_));
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_, 4);
        thread_ = std::thread([this] { serve(); });
    }
    ~Proxy() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }
    int port() const { return port_; }
    long toGateway() const { return up_; }
    long toClient() const { return down_; }
    // How often the talk turned from the gateway's answer back to the client:
    // the round trips the protocol waited for.
    long turns() const { return turns_; }

private:
    struct Held {
        std::int64_t at;
        std::string bytes;
    };
    static std::int64_t now() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void serve() {
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int client = ::accept(listen_, nullptr, nullptr);
            const int gateway = connectTo(target_);
            if (client >= 0 && gateway >= 0) relay(client, gateway);
            if (client >= 0) ::close(client);
            if (gateway >= 0) ::close(gateway);
        }
    }
    void relay(int client, int gateway) {
        std::deque<Held> up, down;
        bool open = true;
        while (!stop_ && (open || !up.empty() || !down.empty())) {
            pollfd p[2] = {{client, POLLIN, 0}, {gateway, POLLIN, 0}};
            ::poll(p, open ? 2 : 0, 5);
            char buf[4096];
            for (int i = 0; i < 2 && open; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
                const ssize_t got = ::read(p[i].fd, buf, sizeof buf);
                if (got <= 0) {
                    open = false;
                    break;
                }
                std::string bytes(buf, static_cast<size_t>(got));
                if (i == 1 && !faults_.from.empty())
                    for (auto at = bytes.find(faults_.from); at != std::string::npos; at = bytes.find(faults_.from))
                        bytes.replace(at, faults_.from.size(), faults_.to);
                (i == 0 ? up : down).push_back({now() + faults_.delayMs, bytes});
            }
            const std::int64_t t = now();
            while (!up.empty() && up.front().at <= t) {
                std::string& b = up.front().bytes;
                if (faults_.closeAfter >= 0 && up_ + static_cast<long>(b.size()) > faults_.closeAfter) return;
                ::send(gateway, b.data(), b.size(), MSG_NOSIGNAL);
                up_ += static_cast<long>(b.size());
                if (lastDown_) ++turns_;
                lastDown_ = false;
                up.pop_front();
            }
            while (!down.empty() && down.front().at <= t) {
                std::string& b = down.front().bytes;
                if (faults_.stallAfter >= 0 && down_ + static_cast<long>(b.size()) > faults_.stallAfter) {
                    down.clear();  // swallowed: the line has gone quiet
                    break;
                }
                ::send(client, b.data(), b.size(), MSG_NOSIGNAL);
                down_ += static_cast<long>(b.size());
                lastDown_ = true;
                down.pop_front();
            }
        }
    }
    int target_;
    Faults faults_;
    int port_;
    int listen_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<long> up_{0}, down_{0}, turns_{0};
    bool lastDown_ = false;
    std::thread thread_;
};

// Runs a shell command line; true when it exits 0.
inline bool sh(const std::string& command) { return std::system(command.c_str()) == 0; }

// A throw-away CA in `folder` (name.pem) and, signed by it, a server
// certificate for 127.0.0.1 and localhost with its key in one file
// (name-server.pem), as socat's openssl-listen takes it.
inline bool makeCa(const std::string& folder, const std::string& name) {
    const std::string f = folder + "/" + name;
    const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    return sh("cd '" + folder + "' && openssl req -x509 " + key + " -keyout '" + f + ".key' -out '" + f +
              ".pem' -days 2 -subj /CN=" + name + " 2>/dev/null && openssl req " + key + " -keyout '" + f +
              "-srv.key' -out '" + f +
              ".csr' -subj /CN=localhost 2>/dev/null && printf "
              "'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > '" +
              f + ".ext' && openssl x509 -req -in '" + f + ".csr' -CA '" + f + ".pem' -CAkey '" + f +
              ".key' -CAcreateserial -days 2 -extfile '" + f + ".ext' -out '" + f + "-srv.crt' 2>/dev/null && cat '" +
              f + "-srv.crt' '" + f + "-srv.key' > '" + f + "-server.pem'");
}

}  // namespace remotetest
