// Orva_Upgrade: programs new controller firmware from "4817_05.dat" through
// the controller's serial bootloader.
#include "upgrade_window.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    upgrade::UpgradeWindow window;
    window.show();
    return app.exec();
}
