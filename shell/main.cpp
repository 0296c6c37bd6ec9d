// KelvaneMini: the configuration program of the door-entry controller.
#include "start_up.h"

int main(int argc, char** argv) { return kelvane::shell::RunKelvaneMini(argc, argv); }
