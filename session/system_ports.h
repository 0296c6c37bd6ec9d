#pragma once
// The serial ports this system lists now, with what it knows about them.
#include "link/port_info.h"

#include <string>
#include <vector>

namespace serial {

std::vector<PortInfo> systemPorts();

// The last port of `program` in its settings (organisation "Kelvane").
PortMemory settingsPortMemory(const std::string& program);

}  // namespace serial
