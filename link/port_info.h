#pragma once
// The serial ports the system lists, with what it knows about each, and the
// choices made from such a list: the order it is shown in, the text that
// tells a technician what a port is, and the port a program starts on.
// Plain data, so the rules run on any list a test makes up.
#include <functional>
#include <string>
#include <vector>

namespace kelvane::link {

struct PortInfo {
    std::string name;          // what is chosen and opened: COM3, ttyUSB0
    std::string location;      // the device path: \\.\COM3, /dev/ttyUSB0
    std::string description;   // "FT232R USB UART"
    std::string manufacturer;  // "FTDI"
    std::string serialNumber;  // "A10K3ZQX"
    bool usb = false;          // an adapter on USB
    std::string usbId;         // "0403:6001": vendor and product number, when the system gives them
};

// Description, manufacturer and serial number, those the system knows, joined
// with ", " and each told once ("USB Serial, USB Serial" is one piece).
// Empty when the system knows none of them.
std::string portDetails(const PortInfo& port);

// The entry a list shows: the name, then the details after a dash.
std::string portEntryText(const PortInfo& port);

// By name as text, ignoring case: COM10 before COM2, ttyS0 after ttyACM0.
void sortPorts(std::vector<PortInfo>& ports);

// True when both lists hold the same ports with the same details, in any order.
bool samePorts(std::vector<PortInfo> a, std::vector<PortInfo> b);

// The port a program starts on: the remembered one when it is listed (by name
// or device path) or `present` says it is there; otherwise, with preferUsb,
// the first USB adapter in list order; otherwise empty (the program's own
// default).
std::string startPort(const std::string& remembered, std::vector<PortInfo> ports, bool preferUsb,
                      const std::function<bool(const std::string&)>& present = {});

// Where a program keeps its last port between runs; either may be empty
// (nothing remembered, nothing kept).
struct PortMemory {
    std::function<std::string()> load;
    std::function<void(const std::string&)> store;
};

// True on systems where the first USB adapter is the likely port (Linux,
// whose serial names say nothing about where the controller is).
bool prefersUsbPort();

}  // namespace kelvane::link
