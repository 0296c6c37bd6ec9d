#include "orva/port_list.h"

#include "session/system_ports.h"
#include "bootloader/port_names.h"

#include <algorithm>

namespace kelvane::orva {

const char* const kSimulatorEntry = "Symulator";
const char* const kSimulatorDevice = "sim:bootloader";

std::optional<PortEntry> entryFor(const link::PortInfo& port) {
    PortEntry e{QString::fromStdString(port.name), QString::fromStdString(port.location),
                QString::fromStdString(link::portDetails(port)), port.usb};
#ifdef Q_OS_WIN
    const int n = bootloader::portNumberFromEntry(port.name);
    if (!e.text.startsWith(QLatin1String("COM")) || n == 0) return std::nullopt;
    e.device = QString::fromStdString(bootloader::comDeviceName(n));
#endif
    return e;
}

QList<PortEntry> systemPortEntries() {
    QList<PortEntry> entries;
    for (const link::PortInfo& port : session::systemPorts())
        if (auto e = entryFor(port)) entries.append(*e);
    return entries;
}

void sortPortEntries(QList<PortEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const PortEntry& a, const PortEntry& b) {
        return QString::compare(a.text, b.text, Qt::CaseInsensitive) < 0;
    });
}

}  // namespace kelvane::orva
