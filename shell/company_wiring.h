#pragma once
// The company register in KelvaneMini: its state at the right of the status
// bar, a sync at start, after every completed transfer (its visit recorded)
// and on request from the Register window, and the technician's name the
// visits carry (menu TECHNICIAN).
#include "registry/building_register.h"
#include "shell/register_dialog.h"

#include <vector>

namespace kelvane::shell {

class CompanySyncRunner;
class MainWindow;

// A building's replaced edits as the Register window lists them, newest
// first: each with the value that replaced it (the next newer edit of the
// field, else what the field says now).
std::vector<ReplacedEdit> ReplacedEdits(registry::Register& reg, const registry::ControllerKey& key);

// The runner, a child of the window: it goes with it, cancelling a run and
// waiting for it a bounded time.
CompanySyncRunner* WireCompanyRegister(MainWindow& form);

// Asks for the technician's name (the current one offered) and keeps it in
// the setting the programs share; an empty answer goes back to the system
// user.
void AskTechnician(MainWindow& form);

// Asks for the company register's server string (the kept one offered) and
// keeps it, then syncs; a string libpq does not read is refused with its
// reason, one with a password is kept without it (the user is told where
// the password goes), an empty one leaves the company register.
void AskCompanyServer(MainWindow& form, CompanySyncRunner& runner);

}  // namespace kelvane::shell
