#pragma once
// The port list's entries: the system's serial ports and the built-in
// simulated bootloader, each with the device a run opens for it.
#include <QList>
#include <QString>
#include <QStringList>

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

// The ports with the devices named on the command line added, each listed and
// opened by its path: a pty pair's end or an adapter the system's list leaves
// out. A device the list already holds is not added twice.
QList<PortEntry> WithNamedPorts(QList<PortEntry> ports, const QStringList& devices);

// Sorted as the list shows them: as text, ignoring case ("COM10" before "COM2").
void SortPortEntries(QList<PortEntry>& entries);

}  // namespace upgrade
