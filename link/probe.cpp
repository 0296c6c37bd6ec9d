#include "link/probe.h"

#include "link/command_frame.h"

namespace kelvane::link {

ProbeReply decodeProbeReply(const std::uint8_t (&r)[8]) {
    ProbeReply p;
    p.id = r[1];
    p.serialNumber = static_cast<std::uint16_t>(r[2] | (r[3] << 8));
    p.firmware = static_cast<std::uint16_t>(r[4] | (r[5] << 8));
    return p;
}

std::optional<ProbeReply> probe(link::Line& line) {
    line.write(kProbeRequest.data(), kProbeRequest.size());
    std::uint8_t reply[8];
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (line.read(reply, sizeof reply) != sizeof reply) continue;
        // An answer is eight bytes and then silence. Eight bytes that more
        // bytes follow belong to something else (the rest of an image the
        // controller was still sending after a pause), not to its identity.
        std::uint8_t more = 0;
        if (line.read(&more, 1) == 0) return decodeProbeReply(reply);
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<ProbeReply> probeWhenQuiet(link::Line& line, link::Clock& clock, bool& lineBusy, int quietLimitMs) {
    lineBusy = waitForQuietLine(line, clock, nullptr, {}, quietLimitMs, kProbeSilenceMs) != LineState::Quiet;
    if (lineBusy) return std::nullopt;
    return probe(line);
}

std::string formatPortStatus(const std::string& format, const std::string& portName, const ProbeReply& reply) {
    const unsigned numbers[] = {reply.id, reply.serialNumber, reply.firmware};
    std::size_t next = 0;
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%' || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        char conv = format[i + 1];
        if (conv == '%') {
            out += '%';
            ++i;
        } else if (conv == 's') {
            out += portName;
            ++i;
        } else if ((conv == 'd' || conv == 'u') && next < 3) {
            out += std::to_string(numbers[next++]);
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace kelvane::link
