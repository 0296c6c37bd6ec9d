// KelvaneMini: the configuration program of the door-entry controller.
#include "form_wiring.h"
#include "start_up.h"

int main(int argc, char** argv) {
    return kelvane::shell::RunKelvaneMini(argc, argv, [](kelvane::shell::TForm1& form) {
        kelvane::shell::WireKelvaneMini(form);
    });
}
