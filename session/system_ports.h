#pragma once
// The serial ports this system lists now, with what it knows about them.
#include "link/port_info.h"

#include <string>
#include <vector>

namespace kelvane::session {

std::vector<link::PortInfo> systemPorts();

// The last port of `program` in its settings (organisation "Kelvane").
link::PortMemory settingsPortMemory(const std::string& program);

}  // namespace kelvane::session
