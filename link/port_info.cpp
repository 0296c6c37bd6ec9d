#include "link/port_info.h"

#include <algorithm>
#include <cctype>
#include <tuple>

namespace kelvane::link {
namespace {

bool lessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}

bool byName(const PortInfo& a, const PortInfo& b) {
    if (lessIgnoringCase(a.name, b.name)) return true;
    if (lessIgnoringCase(b.name, a.name)) return false;
    return a.name < b.name;
}

auto key(const PortInfo& p) {
    return std::tie(p.name, p.location, p.description, p.manufacturer, p.serialNumber, p.usb);
}

}  // namespace

std::string portDetails(const PortInfo& port) {
    std::vector<std::string> pieces;
    for (const std::string* piece : {&port.description, &port.manufacturer, &port.serialNumber}) {
        if (piece->empty() || std::find(pieces.begin(), pieces.end(), *piece) != pieces.end()) continue;
        pieces.push_back(*piece);
    }
    std::string text;
    for (const std::string& piece : pieces) text += (text.empty() ? "" : ", ") + piece;
    return text;
}

std::string portEntryText(const PortInfo& port) {
    const std::string details = portDetails(port);
    return details.empty() ? port.name : port.name + " \u2013 " + details;
}

void sortPorts(std::vector<PortInfo>& ports) { std::stable_sort(ports.begin(), ports.end(), byName); }

bool samePorts(std::vector<PortInfo> a, std::vector<PortInfo> b) {
    if (a.size() != b.size()) return false;
    auto order = [](const PortInfo& x, const PortInfo& y) { return key(x) < key(y); };
    std::sort(a.begin(), a.end(), order);
    std::sort(b.begin(), b.end(), order);
    return std::equal(a.begin(), a.end(), b.begin(),
                      [](const PortInfo& x, const PortInfo& y) { return key(x) == key(y); });
}

std::string startPort(const std::string& remembered, std::vector<PortInfo> ports, bool preferUsb,
                      const std::function<bool(const std::string&)>& present) {
    if (!remembered.empty()) {
        for (const PortInfo& p : ports)
            if (p.name == remembered || (!p.location.empty() && p.location == remembered)) return remembered;
        if (present && present(remembered)) return remembered;
    }
    if (!preferUsb) return {};
    sortPorts(ports);
    for (const PortInfo& p : ports)
        if (p.usb) return p.name;
    return {};
}

bool prefersUsbPort() {
#ifdef __linux__
    return true;
#else
    return false;
#endif
}

}  // namespace kelvane::link
