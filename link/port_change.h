#pragma once
// Finding an adapter by plugging it in: the port list before and after, and
// the port that appeared between them.
#include "link/port_info.h"

#include <optional>
#include <vector>

namespace kelvane::link {

// The port listed after and not before (by name). When several appeared (an
// adapter with two ports, a hub) the first USB one in list order, else the
// first; nothing when none did.
std::optional<PortInfo> appearedPort(const std::vector<PortInfo>& before, std::vector<PortInfo> after);

}  // namespace kelvane::link
