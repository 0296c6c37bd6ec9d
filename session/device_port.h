#pragma once
// Opening the controller's port by name: a serial port (QSerialPort: COM3,
// ttyUSB0, /dev/pts/5...), a serial-over-IP gateway (rfc2217://HOST:PORT and
// the other names of link/net_port.h) or the built-in simulated controller.
#include "link/serial_line.h"

#include <functional>
#include <memory>
#include <string>

namespace kelvane::session {

// The port name of the built-in simulated controller, as the port lists show
// it. A command-line front end may offer a shorter alias and pass this name.
inline constexpr const char* kSimulatorPortName = "Symulator";

// A line to the port (not yet opened) and the clock its protocol runs on.
struct PortConnection {
    std::unique_ptr<link::Line> line;
    link::Clock* clock = &link::systemClock();
};

// Makes the line for a port name, as link::PortName() gives it. The line is
// opened, used and closed on the thread that talks.
using PortFactory = std::function<PortConnection(const std::string& portName)>;

// The standard factory: the built-in simulated controller for
// PortName(kSimulatorPortName) (one controller per process, holding a sample
// building at first and then whatever was uploaded; it answers at once),
// link::NetLine for a gateway's name, QSerialPort for every other name.
PortConnection openablePort(const std::string& portName);

// What openablePort() passes each line through before handing it out (the
// diagnostics' trace sets one); none at first. Process-wide, for lines made
// from now on.
using LineWrapper = std::function<std::unique_ptr<link::Line>(std::unique_ptr<link::Line>)>;
void setLineWrapper(LineWrapper wrapper);

}  // namespace kelvane::session
