#pragma once
// The port list's entries: the system's serial ports and the built-in
// simulated bootloader, each with the device a run opens for it.
#include "link/port_info.h"

#include <QList>
#include <QString>

#include <optional>

namespace kelvane::orva {

struct PortEntry {
    QString text;      // what the list shows
    QString device;    // what OpenUpgradePort opens; empty: no port
    QString details;   // what the system knows of the port, shown as a tooltip
    bool usb = false;  // an adapter on USB
};

// The entry of the simulated bootloader, always last in the list.
extern const char* const kSimulatorEntry;
// The device name that selects the simulated bootloader.
extern const char* const kSimulatorDevice;

// The system's serial ports. On Windows only names "COM" + number, opened as
// "\\.\COMn"; elsewhere the system's device names (ttyS0, ttyUSB0...),
// opened by their device path.
QList<PortEntry> systemPortEntries();

// The entry of the system's port `port`: on Windows only names "COM" + number
// up to 999, opened as "\\.\COMn" (none for other names); elsewhere opened
// by its device path.
std::optional<PortEntry> entryFor(const link::PortInfo& port);

// Sorted as the list shows them: as text, ignoring case ("COM10" before "COM2").
void sortPortEntries(QList<PortEntry>& entries);

}  // namespace kelvane::orva
