#pragma once
// The port the controller is reached through: its name and how it is opened.
#include "link/serial_line.h"

#include <string>

namespace kelvane::link {

// The port name before the technician has chosen one.
inline constexpr const char* kInitialPortName = "COM8";

// The port name stored after the port dialog is confirmed with the given text.
// With the Win32 device namespace the name is "\\.\" followed by the text (so
// COM10 and above open too); elsewhere it is the chosen device name as it stands.
std::string PortName(const std::string& chosen, bool win32DeviceNamespace);
std::string PortName(const std::string& chosen);  // the rule of this platform

// The controller's line speed, in baud.
inline constexpr int kControllerBaud = 2400;

// The controller's line: kControllerBaud, 8 data bits, no parity, one stop bit, DTR off.
link::LineSettings controllerLineSettings();
// Read interval 100 ms, read total 100 ms per byte + 100 ms, write total 100 ms per byte + 500 ms.
link::Timeouts controllerTimeouts();

// Opens the named port exclusively and applies the line settings and
// time-outs. Only the open itself can fail.
bool OpenPort(link::Line& line, const std::string& name);

}  // namespace kelvane::link
