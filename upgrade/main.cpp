// Orva_Upgrade: programs new controller firmware from "4817_05.dat" through
// the controller's serial bootloader.
//
//   Orva_Upgrade [DEVICE...]   each DEVICE (/tmp/boot, /dev/ttyUSB0) is listed
//                              by its path besides the system's ports.
#include "upgrade_window.h"

#include "orva_icon.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Classic controls: sunken edit, flat frames with the title on the line.
    QApplication::setStyle(QStringLiteral("Windows"));
    QApplication::setWindowIcon(resources::OrvaUpgradeIcon());
    // Devices named on the command line join the list (a pty pair's end).
    const QStringList named = app.arguments().mid(1);
    upgrade::UpgradeWindow window([named] { return upgrade::WithNamedPorts(upgrade::SystemPorts(), named); });
    window.show();
    return app.exec();
}
