#include "diagnostics/line_check.h"

#include "link/port.h"
#include "session/device_port.h"
#include "session/qt_serial_line.h"
#include "session/system_ports.h"

#include <filesystem>

namespace kelvane::diagnostics {

LineCheck checkLine(const std::string& portName, const std::atomic<bool>* cancel) {
    LineCheck check;
    session::PortConnection port;
    session::QtSerialLine* device = nullptr;
    if (portName == link::PortName(session::kSimulatorPortName)) {
        port = session::openablePort(portName);
    } else {
        auto qt = std::make_unique<session::QtSerialLine>();
        device = qt.get();
        port.line = tracedLine(std::move(qt));
        const std::string bare = std::filesystem::path(portName).filename().string();
        for (const link::PortInfo& p : session::systemPorts())
            if (p.name == portName || p.location == portName || p.name == bare) check.adapter = p;
        check.details = adapterDetails(check.adapter ? check.adapter->name : bare);
    }
    check.opened = link::OpenPort(*port.line, portName);
    if (!check.opened) {
        check.failure = port.line->openFailure();
        return check;
    }
    check.lowLatency = device && device->lowLatencyActive();
    check.report = link::runLineTest(*port.line, *port.clock, cancel);
    port.line->close();
    return check;
}

}  // namespace kelvane::diagnostics
