// Orva_Upgrade: programs new controller firmware from "4817_05.dat" through
// the controller's serial bootloader.
#include "diagnostics/diagnostics.h"
#include "registry/building_register.h"
#include "session/system_ports.h"
#include "orva/upgrade_window.h"

#include "resources/orva_icon.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Classic controls: sunken edit, flat frames with the title on the line.
    QApplication::setStyle(QStringLiteral("Windows"));
    QApplication::setWindowIcon(kelvane::resources::orvaUpgradeIcon());
    // Every line session leaves a trace; warnings and errors go to the log.
    kelvane::diagnostics::installProgramLog("Orva_Upgrade");
    // Before any thread starts (see loadDriver).
    kelvane::registry::Register::loadDriver();
    kelvane::diagnostics::setTracing({"Orva_Upgrade", ORVA_VERSION, true, nullptr});
    kelvane::orva::UpgradeWindow window(kelvane::orva::systemPortEntries, kelvane::orva::defaultPort,
                                        kelvane::session::settingsPortMemory("Orva_Upgrade"));
    window.show();
    return app.exec();
}
