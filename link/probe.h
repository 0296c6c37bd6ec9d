#pragma once
// Identifying the controller on a port: "IsThereL" and its 8-byte answer.
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
// 8-byte answer. A short read is discarded whole, never joined to the next.
std::optional<ProbeReply> probe(link::Line& line);

// Fills a status format: each %s takes the port name, each %d (or %u) the
// next of ID, serial number and firmware as unsigned decimals, %% is one %.
// Any other % sequence, or a conversion beyond those values, stays as written.
std::string formatPortStatus(const std::string& format, const std::string& portName, const ProbeReply& reply);

}  // namespace kelvane::link
