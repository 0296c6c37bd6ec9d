#include "upgrade/port_list.h"

#include "upgrade/port_names.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace upgrade {

const char* const kSimulatorEntry = "Symulator";
const char* const kSimulatorDevice = "sim:bootloader";

QList<PortEntry> SystemPorts() {
    QList<PortEntry> entries;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString name = info.portName();
#ifdef Q_OS_WIN
        const int n = PortNumberFromEntry(name.toStdString());
        if (!name.startsWith(QLatin1String("COM")) || n == 0) continue;
        entries.append({name, QString::fromStdString(ComDeviceName(n))});
#else
        entries.append({name, info.systemLocation()});
#endif
    }
    return entries;
}

void SortPortEntries(QList<PortEntry>& entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const PortEntry& a, const PortEntry& b) {
        return QString::compare(a.text, b.text, Qt::CaseInsensitive) < 0;
    });
}

}  // namespace upgrade
