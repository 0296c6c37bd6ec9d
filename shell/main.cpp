// KelvaneMini: the configuration program of the door-entry controller.
#include "diagnostics/diagnostics.h"
#include "registry/building_register.h"
#include "session/system_ports.h"
#include "shell/form_wiring.h"
#include "resources/kelvane_icon.h"
#include "shell/main_window.h"
#include "shell/start_up.h"

int main(int argc, char** argv) {
    return kelvane::shell::runKelvaneMini(argc, argv, [](kelvane::shell::MainWindow& form) {
        // Every window of the program carries the icon in all its sizes.
        QApplication::setWindowIcon(kelvane::resources::kelvaneMiniIcon());
        // Every line session leaves a trace; warnings and errors go to the log.
        kelvane::diagnostics::installProgramLog("KelvaneMini");
        // Before any thread starts (see loadDriver).
        kelvane::registry::Register::loadDriver();
        kelvane::diagnostics::setTracing({"KelvaneMini", KELVANE_VERSION, true, nullptr});
        kelvane::shell::wireKelvaneMini(form)->rememberPorts(kelvane::session::settingsPortMemory("KelvaneMini"));
    });
}
