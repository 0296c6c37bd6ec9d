#include "session/device_port.h"

#include "sim/sample_building.h"
#include "link/net_line.h"
#include "link/net_port.h"
#include "link/port.h"
#include "session/qt_serial_line.h"
#include "sim/controller_port.h"

#include <mutex>

namespace kelvane::session {
namespace {

std::mutex wrapperMutex;
LineWrapper& lineWrapper() {
    static LineWrapper wrapper;
    return wrapper;
}

}  // namespace

void setLineWrapper(LineWrapper wrapper) {
    std::lock_guard<std::mutex> lock(wrapperMutex);
    lineWrapper() = std::move(wrapper);
}

PortConnection openablePort(const std::string& portName) {
    PortConnection c;
    if (portName == link::PortName(kSimulatorPortName)) {
        sim::ControllerPort::preload(sampleBuildingImage());
        c.line = std::make_unique<sim::ControllerPort>(portName);
    } else if (link::isNetPortName(portName)) {
        c.line = std::make_unique<link::NetLine>();
    } else {
        c.line = std::make_unique<session::QtSerialLine>();
    }
    LineWrapper wrap;
    {
        std::lock_guard<std::mutex> lock(wrapperMutex);
        wrap = lineWrapper();
    }
    if (wrap) c.line = wrap(std::move(c.line));
    return c;
}

}  // namespace kelvane::session
