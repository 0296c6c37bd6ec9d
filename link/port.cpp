#include "link/port.h"

#include "link/net_port.h"

namespace kelvane::link {

std::string PortName(const std::string& chosen, bool win32DeviceNamespace) {
    // A gateway's port is a network address, never a device.
    if (isNetPortName(chosen)) return chosen;
    return win32DeviceNamespace ? std::string("\\\\.\\") + chosen : chosen;
}

std::string PortName(const std::string& chosen) {
#ifdef _WIN32
    return PortName(chosen, true);
#else
    return PortName(chosen, false);
#endif
}

link::LineSettings controllerLineSettings() {
    link::LineSettings s;
    s.baud = kControllerBaud;
    s.dataBits = 8;
    s.stopBits = link::StopBits::One;
    s.parityCheck = false;
    s.dtr = false;
    return s;
}

link::Timeouts controllerTimeouts() { return link::Timeouts{}; }  // the line's defaults are the controller's

bool OpenPort(link::Line& line, const std::string& name) {
    if (!line.open(name)) return false;
    line.setLine(controllerLineSettings());
    line.setTimeouts(controllerTimeouts());
    // A gateway that did not take the controller's line settings: nothing is sent.
    if (line.fault() != LineFault::None) {
        line.close();
        return false;
    }
    return true;
}

}  // namespace kelvane::link
