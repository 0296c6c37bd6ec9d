#pragma once
// The port list's entries: the system's serial ports and the built-in
// simulated bootloader, each with the device a run opens for it.
#include <QList>
#include <QString>

namespace upgrade {

struct PortEntry {
    QString text;    // what the list shows
    QString device;  // what OpenUpgradePort opens; empty: no port
};

// The entry of the simulated bootloader, always last in the list.
extern const char* const kSimulatorEntry;
// The device name that selects the simulated bootloader.
extern const char* const kSimulatorDevice;

// The system's serial ports. On Windows only names "COM" + number, opened as
// "\\.\COMn"; elsewhere the system's device names (ttyS0, ttyUSB0...),
// opened by their device path.
QList<PortEntry> SystemPorts();

// Sorted as the list shows them: as text, ignoring case ("COM10" before "COM2").
void SortPortEntries(QList<PortEntry>& entries);

}  // namespace upgrade
