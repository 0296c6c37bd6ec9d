// KelvaneMini: the configuration program of the door-entry controller.
#include "registry/building_register.h"
#include "session/diagnostics.h"
#include "session/system_ports.h"
#include "shell/form_wiring.h"
#include "resources/kelvane_icon.h"
#include "shell/main_window.h"
#include "shell/start_up.h"

int main(int argc, char** argv) {
    return kelvane::shell::RunKelvaneMini(argc, argv, [](kelvane::shell::MainWindow& form) {
        // Every window of the program carries the icon in all its sizes.
        QApplication::setWindowIcon(kelvane::resources::KelvaneMiniIcon());
        // Every line session leaves a trace; warnings and errors go to the log.
        kelvane::session::installProgramLog("KelvaneMini");
        // Before any thread starts (see loadDriver).
        kelvane::registry::Register::loadDriver();
        kelvane::session::setTracing({"KelvaneMini", KELVANE_VERSION, true, nullptr});
        kelvane::shell::WireKelvaneMini(form)->rememberPorts(kelvane::session::settingsPortMemory("KelvaneMini"));
    });
}
