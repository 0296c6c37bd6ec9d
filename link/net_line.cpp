#include "link/net_line.h"

#include "link/net_port.h"
#include "link/net_stream.h"

#include <libtelnet.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>
#include <vector>

namespace kelvane::link {
namespace {

// The COM port option and its client commands (RFC 2217); a server's answer
// to a command is the command plus 100.
constexpr unsigned char kComPort = 44;
enum ComCommand : unsigned char {
    kSetBaud = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
    kPurgeData = 12,
};
constexpr unsigned char kServerOffset = 100;
constexpr unsigned char kParityNone = 1;
constexpr unsigned char kStopOne = 1, kStopTwo = 2;
constexpr unsigned char kDtrOn = 8, kDtrOff = 9;
constexpr unsigned char kPurgeReceived = 1, kPurgeSent = 2;

// What this end offers and asks for: binary both ways (no CR/NUL rewriting of
// the controller's bytes), no go-aheads, and the COM port option as its client.
const telnet_telopt_t kOptions[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {kComPort, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
};

// More than any answer a job waits for: what arrives beyond it is dropped, as
// a driver's full buffer drops it.
constexpr std::size_t kReceiveLimit = 1 << 20;

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Reply {
    unsigned char command;  // the client command it answers
    std::vector<unsigned char> value;
};

std::vector<unsigned char> baudValue(int baud) {
    const auto b = static_cast<std::uint32_t>(baud);
    return {static_cast<unsigned char>(b >> 24), static_cast<unsigned char>(b >> 16),
            static_cast<unsigned char>(b >> 8), static_cast<unsigned char>(b)};
}

}  // namespace

struct NetLine::Session {
    std::unique_ptr<net::Stream> stream;
    telnet_t* telnet = nullptr;  // none for socket://
    std::deque<std::uint8_t> rx;
    std::string out;               // what libtelnet gave to send
    std::vector<Reply> replies;    // the gateway's answers not yet looked at
    bool discarding = false;       // a purge of received bytes awaits the gateway's answer
    bool comPortAccepted = false;  // the gateway said DO to the COM port option
    bool comPortRefused = false;
    bool broken = false;  // a Telnet protocol error: the stream cannot be trusted
    bool haveConfirmed = false;

    ~Session() {
        if (telnet) telnet_free(telnet);
    }

    static void event(telnet_t*, telnet_event_t* ev, void* self) { static_cast<Session*>(self)->on(*ev); }

    void on(const telnet_event_t& ev) {
        switch (ev.type) {
        case TELNET_EV_DATA:
            if (!discarding && rx.size() + ev.data.size <= kReceiveLimit)
                rx.insert(rx.end(), ev.data.buffer, ev.data.buffer + ev.data.size);
            break;
        case TELNET_EV_SEND: out.append(ev.data.buffer, ev.data.size); break;
        case TELNET_EV_DO:
            if (ev.neg.telopt == kComPort) comPortAccepted = true;
            break;
        case TELNET_EV_DONT:
        case TELNET_EV_WONT:
            if (ev.neg.telopt == kComPort) comPortRefused = true;
            break;
        case TELNET_EV_SUBNEGOTIATION: {
            if (ev.sub.telopt != kComPort || ev.sub.size == 0) break;
            const auto command = static_cast<unsigned char>(ev.sub.buffer[0]);
            if (command <= kServerOffset) break;
            Reply r{static_cast<unsigned char>(command - kServerOffset),
                    std::vector<unsigned char>(ev.sub.buffer + 1, ev.sub.buffer + ev.sub.size)};
            // Bytes after the answer to a purge of received bytes came in after it.
            if (r.command == kPurgeData && !r.value.empty() && (r.value[0] & kPurgeReceived)) discarding = false;
            // Line and modem state notices (NOTIFY-*) are not answers, nor is
            // a late one to DTR (not awaited).
            if (r.command != 6 && r.command != 7 && r.command != kSetControl) replies.push_back(std::move(r));
            break;
        }
        case TELNET_EV_ERROR: broken = true; break;
        default: break;
        }
    }
};

NetLine::NetLine() = default;
NetLine::~NetLine() { close(); }

bool NetLine::isOpen() const { return session_ != nullptr; }

void NetLine::fail(LineFault why) {
    if (fault_ == LineFault::None) fault_ = why;
}

bool NetLine::flush() {
    if (!session_ || session_->out.empty()) return session_ != nullptr;
    const std::string bytes = std::move(session_->out);
    session_->out.clear();
    const int waitMs =
        timeouts_.writeTotalMultiplier * static_cast<int>(bytes.size()) + timeouts_.writeTotalConstant + roundTripMs_;
    if (session_->stream->sendAll(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), waitMs))
        return true;
    fail(LineFault::Closed);
    return false;
}

bool NetLine::pump(int waitMs) {
    if (!session_ || fault_ == LineFault::Closed) return false;
    std::uint8_t buf[4096];
    for (int wait = waitMs;; wait = 0) {
        const long got = session_->stream->receive(buf, sizeof buf, wait);
        if (got < 0) {
            fail(LineFault::Closed);
            return false;
        }
        if (got == 0) return true;
        const auto n = static_cast<std::size_t>(got);
        if (session_->telnet) {
            telnet_recv(session_->telnet, reinterpret_cast<const char*>(buf), n);
            if (session_->broken) {
                fail(LineFault::Closed);
                return false;
            }
            if (!flush()) return false;  // libtelnet's answers to the gateway's negotiation
        } else if (session_->rx.size() + n <= kReceiveLimit) {
            session_->rx.insert(session_->rx.end(), buf, buf + n);
        }
    }
}

bool NetLine::open(const std::string& name) {
    if (isOpen()) {
        openFailure_ = OpenFailure::Busy;
        return false;
    }
    fault_ = LineFault::None;
    roundTripMs_ = 0;
    drainUntil_ = 0;
    confirmed_ = LineSettings{};
    const auto address = parseNetPort(name);
    if (!address) {
        openFailure_ = OpenFailure::NoSuchPort;
        return false;
    }
    const std::int64_t start = nowMs();
    for (;;) {
        if (connectOnce(*address, start)) return true;
        // A gateway that hangs up at once may still be letting go of the
        // client before (ser2net frees its device a moment after the client
        // left): asked again until the connect time-out.
        if (openFailure_ != OpenFailure::Busy || interrupted_ || nowMs() + kRetryMs - start >= kConnectTimeoutMs)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
    }
}

bool NetLine::connectOnce(const NetAddress& address, std::int64_t start) {
    const auto left = [&] { return static_cast<int>(std::max<std::int64_t>(0, start + kConnectTimeoutMs - nowMs())); };
    const std::int64_t attempt = nowMs();
    auto stream = net::connectTcp(address.host, address.port, left(), openFailure_);
    if (!stream) return false;
    roundTripMs_ = static_cast<int>(nowMs() - attempt);
    if (address.scheme == NetScheme::Rfc2217Tls) {
        stream = net::startTls(std::move(stream), address.host, gatewayCaFile(), left(), openFailure_);
        if (!stream) return false;
    }
    session_ = std::make_unique<Session>();
    session_->stream = std::move(stream);
    if (address.scheme == NetScheme::Socket) {
        openFailure_ = OpenFailure::None;
        roundTripMs_ = std::min(roundTripMs_, kMaxRoundTripMs);
        return true;
    }
    session_->telnet = telnet_init(kOptions, &Session::event, 0, session_.get());
    telnet_negotiate(session_->telnet, TELNET_WILL, TELNET_TELOPT_BINARY);
    telnet_negotiate(session_->telnet, TELNET_DO, TELNET_TELOPT_BINARY);
    telnet_negotiate(session_->telnet, TELNET_WILL, kComPort);
    bool ok = flush();
    while (ok && !session_->comPortAccepted && !session_->comPortRefused && left() > 0 && !interrupted_)
        ok = pump(std::min(left(), kSliceMs));
    // The round trip: the gateway's answer to a question about its line (the
    // baud rate, value 0 asks for it), which crosses the network both ways and
    // waits for nothing else.
    if (ok && session_->comPortAccepted) {
        const std::int64_t asked = nowMs();
        const auto query = baudValue(0);
        std::vector<char> sb{static_cast<char>(kSetBaud)};
        sb.insert(sb.end(), query.begin(), query.end());
        telnet_subnegotiation(session_->telnet, kComPort, sb.data(), sb.size());
        ok = flush();
        while (ok && session_->replies.empty() && left() > 0 && !interrupted_) ok = pump(std::min(left(), kSliceMs));
        ok = ok && !session_->replies.empty();
        roundTripMs_ = std::min(static_cast<int>(nowMs() - asked), kMaxRoundTripMs);
        session_->replies.clear();
    }
    if (!ok || !session_->comPortAccepted) {
        // A gateway that hangs up at once serves someone else (ser2net says
        // so and closes); one that never takes the COM port option, or
        // never answers about its line, cannot set the controller's.
        const bool closed = fault_ == LineFault::Closed;
        session_.reset();
        fault_ = LineFault::None;
        openFailure_ = closed ? OpenFailure::Busy : OpenFailure::GatewayRefused;
        return false;
    }
    openFailure_ = OpenFailure::None;
    return true;
}

void NetLine::close() {
    // As a serial port's last close lets the driver send what it holds, the
    // gateway is given the line time of what was written last and a round
    // trip to pass it on before the connection ends (a gateway may drop what
    // it still holds when its client leaves: a flash's end byte). After a
    // Stop nothing more may go out: the connection ends at once.
    if (session_ && !interrupted_ && fault_ == LineFault::None) {
        const std::int64_t now = nowMs();
        const std::int64_t until = std::min(std::max(drainUntil_, now) + roundTripMs_ + kDrainMarginMs, now + kMaxDrainMs);
        while (!interrupted_ && nowMs() < until &&
               pump(static_cast<int>(std::min<std::int64_t>(until - nowMs(), kSliceMs))))
            session_->rx.clear();
    }
    session_.reset();
}

bool NetLine::awaitReplies(int count, bool purging) {
    const std::int64_t end = nowMs() + kConfirmTimeoutMs + roundTripMs_;
    while (static_cast<int>(session_->replies.size()) < count || (purging && session_->discarding)) {
        if (interrupted_) return false;
        const std::int64_t left = end - nowMs();
        if (left <= 0) {
            fail(LineFault::Silent);
            return false;
        }
        if (!pump(static_cast<int>(std::min<std::int64_t>(left, kSliceMs)))) return false;
    }
    return true;
}

void NetLine::setLine(const LineSettings& s) {
    if (!session_ || fault_ != LineFault::None) return;
    if (!session_->telnet) {
        confirmed_ = s;  // the gateway's line is what it is
        return;
    }
    struct Asked {
        unsigned char command;
        std::vector<unsigned char> value;
    };
    const LineSettings& was = confirmed_;
    const bool all = !session_->haveConfirmed;
    std::vector<Asked> asked;
    if (all || s.baud != was.baud) asked.push_back({kSetBaud, baudValue(s.baud)});
    if (all || s.dataBits != was.dataBits) asked.push_back({kSetDataSize, {static_cast<unsigned char>(s.dataBits)}});
    if (s.setParity && (all || !was.setParity)) asked.push_back({kSetParity, {kParityNone}});
    if (all || s.stopBits != was.stopBits)
        asked.push_back({kSetStopSize, {s.stopBits == StopBits::Two ? kStopTwo : kStopOne}});
    if (s.setDtr && (all || !was.setDtr || s.dtr != was.dtr))
        asked.push_back({kSetControl, {s.dtr ? kDtrOn : kDtrOff}});
    session_->replies.clear();
    for (const Asked& a : asked) {
        std::vector<char> sb{static_cast<char>(a.command)};
        sb.insert(sb.end(), a.value.begin(), a.value.end());
        telnet_subnegotiation(session_->telnet, kComPort, sb.data(), sb.size());
    }
    // DTR is set, not awaited: a gateway answers it only where the device
    // has the line (ser2net on a pty stays silent), as a local pty ignores it.
    const bool dtrAsked = !asked.empty() && asked.back().command == kSetControl;
    if (dtrAsked) asked.pop_back();
    if (!flush() || !awaitReplies(static_cast<int>(asked.size()), false)) return;
    // Each answer names the value the gateway now has: it must be the one asked for.
    for (const Asked& a : asked) {
        const auto r = std::find_if(session_->replies.begin(), session_->replies.end(),
                                    [&](const Reply& reply) { return reply.command == a.command; });
        if (r == session_->replies.end() || r->value != a.value) {
            fail(LineFault::SettingRefused);
            return;
        }
    }
    session_->replies.clear();
    confirmed_ = s;
    confirmed_.setParity = s.setParity || was.setParity;
    session_->haveConfirmed = true;
}

std::size_t NetLine::read(std::uint8_t* buf, std::size_t n) {
    if (!session_ || n == 0 || interrupted_) return 0;
    const std::int64_t start = nowMs();
    const std::int64_t deadline = start + timeouts_.readTotal(n) + roundTripMs_;
    if (fault_ != LineFault::None && session_->rx.empty()) {
        // Nothing more will come: the time-out is waited out, so that a
        // protocol that asks again does not spin.
        while (!interrupted_ && nowMs() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
        return 0;
    }
    std::int64_t lastByte = -1;
    std::size_t got = 0;
    bool lastLook = false;
    for (;;) {
        auto& rx = session_->rx;
        const std::size_t take = std::min(n - got, rx.size());
        if (take > 0) {
            std::copy_n(rx.begin(), take, buf + got);
            rx.erase(rx.begin(), rx.begin() + static_cast<std::ptrdiff_t>(take));
            got += take;
            lastByte = nowMs();
        }
        if (got == n || interrupted_ || lastLook) break;
        std::int64_t end = deadline;
        if (lastByte >= 0) end = std::min(end, lastByte + timeouts_.readInterval + roundTripMs_);
        const std::int64_t now = nowMs();
        // Bytes already here when the time is up still count (one look without waiting).
        if (now >= end) lastLook = true;
        if (!pump(lastLook ? 0 : static_cast<int>(std::min<std::int64_t>(end - now, kSliceMs)))) lastLook = true;
    }
    return got;
}

std::size_t NetLine::write(const std::uint8_t* data, std::size_t n) {
    if (!session_ || n == 0 || interrupted_ || fault_ != LineFault::None) return 0;
    // When the gateway's line will have sent these bytes too.
    drainUntil_ = std::max(drainUntil_, nowMs()) + static_cast<std::int64_t>(n * byteTimeMs(confirmed_)) + 1;
    if (session_->telnet)
        telnet_send(session_->telnet, reinterpret_cast<const char*>(data), n);  // IAC doubled by libtelnet
    else
        session_->out.append(reinterpret_cast<const char*>(data), n);
    return flush() ? n : 0;
}

void NetLine::purgeInput() {
    if (!session_ || fault_ != LineFault::None) return;
    if (!session_->telnet) {
        // What has arrived by now; a raw gateway has no purge of its own.
        while (pump(0) && !session_->rx.empty()) session_->rx.clear();
        session_->rx.clear();
        return;
    }
    session_->rx.clear();
    session_->replies.clear();
    session_->discarding = true;
    const char sb[] = {static_cast<char>(kPurgeData), static_cast<char>(kPurgeReceived)};
    telnet_subnegotiation(session_->telnet, kComPort, sb, sizeof sb);
    const bool answered = flush() && awaitReplies(1, true);
    session_->discarding = false;
    if (answered) session_->replies.clear();
}

void NetLine::purgeOutput() {
    if (!session_ || !session_->telnet || fault_ != LineFault::None) return;
    session_->replies.clear();
    const char sb[] = {static_cast<char>(kPurgeData), static_cast<char>(kPurgeSent)};
    telnet_subnegotiation(session_->telnet, kComPort, sb, sizeof sb);
    if (flush() && awaitReplies(1, false)) session_->replies.clear();
}

}  // namespace kelvane::link
