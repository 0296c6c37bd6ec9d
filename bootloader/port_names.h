#pragma once
// Port-list entries and the device a run opens.
#include <string>

namespace kelvane::bootloader {

// The number of an entry "COM" + decimal digits (leading digits only); 0 when
// the entry does not begin with "COM", has no digits, or names a port above
// 999, which the device name has no room for.
int portNumberFromEntry(const std::string& entry);
// "\\.\COM" followed by n in decimal: the Windows device of port n.
std::string comDeviceName(int n);

}  // namespace kelvane::bootloader
