#include "session/device_port.h"

#include "sim/sample_building.h"
#include "link/port.h"
#include "session/diagnostics.h"
#include "session/qt_serial_line.h"
#include "sim/controller_port.h"

namespace kelvane::session {

PortConnection openablePort(const std::string& portName) {
    PortConnection c;
    if (portName == link::PortName(kSimulatorPortName)) {
        sim::ControllerPort::preload(sampleBuildingImage());
        c.line = std::make_unique<sim::ControllerPort>(portName);
    } else {
        c.line = std::make_unique<session::QtSerialLine>();
    }
    c.line = tracedLine(std::move(c.line));
    return c;
}

}  // namespace kelvane::session
