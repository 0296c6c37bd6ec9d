#include "upgrade/port_list.h"

#include "session/system_ports.h"
#include "upgrade/port_names.h"

#include <algorithm>

namespace upgrade {

const char* const kSimulatorEntry = "Symulator";
const char* const kSimulatorDevice = "sim:bootloader";

std::optional<PortEntry> EntryFor(const serial::PortInfo& port) {
    PortEntry e{QString::fromStdString(port.name), QString::fromStdString(port.location),
                QString::fromStdString(serial::portDetails(port)), port.usb};
#ifdef Q_OS_WIN
    const int n = PortNumberFromEntry(port.name);
    if (!e.text.startsWith(QLatin1String("COM")) || n == 0) return std::nullopt;
    e.device = QString::fromStdString(ComDeviceName(n));
#endif
    return e;
}

QList<PortEntry> SystemPorts() {
    QList<PortEntry> entries;
    for (const serial::PortInfo& port : serial::systemPorts())
        if (auto e = EntryFor(port)) entries.append(*e);
    return entries;
}

void SortPortEntries(QList<PortEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const PortEntry& a, const PortEntry& b) {
        return QString::compare(a.text, b.text, Qt::CaseInsensitive) < 0;
    });
}

}  // namespace upgrade
