#include "link/port_change.h"

#include <algorithm>

namespace kelvane::link {

std::optional<PortInfo> appearedPort(const std::vector<PortInfo>& before, std::vector<PortInfo> after) {
    sortPorts(after);
    std::vector<PortInfo> appeared;
    for (const PortInfo& p : after)
        if (std::none_of(before.begin(), before.end(), [&](const PortInfo& b) { return b.name == p.name; }))
            appeared.push_back(p);
    if (appeared.empty()) return std::nullopt;
    const auto usb = std::find_if(appeared.begin(), appeared.end(), [](const PortInfo& p) { return p.usb; });
    return usb != appeared.end() ? *usb : appeared.front();
}

}  // namespace kelvane::link
