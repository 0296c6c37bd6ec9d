// Port entries and the start port, on made-up port lists.
#include "link/port_info.h"

#include <gtest/gtest.h>

using kelvane::link::PortInfo;

namespace {

PortInfo port(const std::string& name, bool usb = false, const std::string& location = {}) {
    PortInfo p;
    p.name = name;
    p.location = location;
    p.usb = usb;
    return p;
}

}  // namespace

TEST(PortInfo, DetailsTellEachKnownPieceOnce) {
    struct Case {
        std::string description, manufacturer, serialNumber, details;
    } cases[] = {
        {"FT232R USB UART", "FTDI", "A10K3ZQX", "FT232R USB UART, FTDI, A10K3ZQX"},
        {"", "", "", ""},
        {"", "", "0001", "0001"},
        {"USB Serial", "USB Serial", "", "USB Serial"},  // drivers that repeat themselves
        {"", "Prolific", "", "Prolific"},
    };
    for (const Case& c : cases) {
        PortInfo p = port("ttyUSB0");
        p.description = c.description;
        p.manufacturer = c.manufacturer;
        p.serialNumber = c.serialNumber;
        EXPECT_EQ(kelvane::link::portDetails(p), c.details) << c.description << "|" << c.manufacturer;
        EXPECT_EQ(kelvane::link::portEntryText(p), c.details.empty() ? "ttyUSB0" : "ttyUSB0 \u2013 " + c.details);
    }
}

TEST(PortInfo, SortedByNameIgnoringCaseAndComparedInAnyOrder) {
    std::vector<PortInfo> ports = {port("ttyUSB0"), port("COM2"), port("com10"), port("COM1"), port("ttyACM0")};
    kelvane::link::sortPorts(ports);
    std::vector<std::string> names;
    for (const auto& p : ports) names.push_back(p.name);
    EXPECT_EQ(names, (std::vector<std::string>{"COM1", "com10", "COM2", "ttyACM0", "ttyUSB0"}));

    std::vector<PortInfo> shuffled = {ports[3], ports[0], ports[4], ports[1], ports[2]};
    EXPECT_TRUE(kelvane::link::samePorts(ports, shuffled));
    shuffled[0].description = "plugged into another socket";
    EXPECT_FALSE(kelvane::link::samePorts(ports, shuffled));
    EXPECT_FALSE(kelvane::link::samePorts(ports, {}));
}

TEST(PortInfo, StartPortIsTheRememberedOneThenTheFirstUsbAdapter) {
    const std::vector<PortInfo> ports = {port("ttyUSB1", true, "/dev/ttyUSB1"), port("ttyS0", false, "/dev/ttyS0"),
                                         port("ttyACM0", true, "/dev/ttyACM0")};
    const auto typedPathThere = [](const std::string& name) { return name == "/tmp/pc"; };
    struct Case {
        std::string remembered;
        bool preferUsb;
        std::string start;
    } cases[] = {
        {"ttyS0", true, "ttyS0"},            // remembered and listed
        {"/dev/ttyS0", true, "/dev/ttyS0"},  // remembered as typed: listed by its path
        {"/tmp/pc", false, "/tmp/pc"},       // not listed, but there
        {"ttyUSB7", true, "ttyACM0"},        // gone: the first USB adapter in list order
        {"", true, "ttyACM0"},
        {"ttyUSB7", false, ""},  // gone, no USB preference: the program's default
        {"COM8", false, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kelvane::link::startPort(c.remembered, ports, c.preferUsb, typedPathThere), c.start) << c.remembered;
    EXPECT_EQ(kelvane::link::startPort("", {port("ttyS0"), port("ttyS1")}, true), "");  // no adapter at all
}
