#pragma once
// Identifying the controller on a port: "IsThereL" and its 8-byte answer.
#include "link/quiet_line.h"
#include "link/serial_line.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kelvane::link {

struct ProbeReply {
    std::uint8_t id = 0;
    std::uint16_t serialNumber = 0;  // bytes 2-3, least significant first
    std::uint16_t firmware = 0;      // bytes 4-5, least significant first
};

// Decodes an 8-byte answer; no byte of it is checked.
ProbeReply decodeProbeReply(const std::uint8_t (&reply)[8]);

// On an open line: writes the probe and reads up to three times for a full
// 8-byte answer. A short read is discarded whole, never joined to the next;
// a full one that more bytes follow within a read's time-out is no answer.
std::optional<ProbeReply> probe(link::Line& line);

// probe() once the line is quiet (waitForQuietLine): right after a cancelled
// download the controller is still sending the image, whose bytes would be
// taken for its identity. lineBusy tells that it never went quiet and
// nothing was sent. quietLimitMs bounds that wait.
std::optional<ProbeReply> probeWhenQuiet(link::Line& line, link::Clock& clock, bool& lineBusy,
                                         int quietLimitMs = kQuietLineLimitMs);

// Fills a status format: each %s takes the port name, each %d (or %u) the
// next of ID, serial number and firmware as unsigned decimals, %% is one %.
// Any other % sequence, or a conversion beyond those values, stays as written.
std::string formatPortStatus(const std::string& format, const std::string& portName, const ProbeReply& reply);

}  // namespace kelvane::link
