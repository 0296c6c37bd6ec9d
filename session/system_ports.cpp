#include "session/system_ports.h"

#include <QSerialPortInfo>
#include <QSettings>

#include <cstdio>

namespace kelvane::session {

std::vector<link::PortInfo> systemPorts() {
    std::vector<link::PortInfo> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        link::PortInfo p;
        p.name = info.portName().toStdString();
        p.location = info.systemLocation().toStdString();
        p.description = info.description().trimmed().toStdString();
        p.manufacturer = info.manufacturer().trimmed().toStdString();
        p.serialNumber = info.serialNumber().trimmed().toStdString();
        // Only USB devices carry a vendor number; the name tells the Linux
        // USB drivers (ttyUSB, ttyACM) where the system gives none.
        p.usb = info.hasVendorIdentifier() || info.portName().startsWith(QLatin1String("ttyUSB")) ||
                info.portName().startsWith(QLatin1String("ttyACM"));
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            char id[16];
            std::snprintf(id, sizeof id, "%04x:%04x", info.vendorIdentifier(), info.productIdentifier());
            p.usbId = id;
        }
        ports.push_back(std::move(p));
    }
    return ports;
}

link::PortMemory settingsPortMemory(const std::string& program) {
    const QString app = QString::fromStdString(program);
    const QString key = QStringLiteral("port/last");
    return {[app, key] { return QSettings(QStringLiteral("Kelvane"), app).value(key).toString().toStdString(); },
            [app, key](const std::string& port) {
                QSettings(QStringLiteral("Kelvane"), app).setValue(key, QString::fromStdString(port));
            }};
}

}  // namespace kelvane::session
