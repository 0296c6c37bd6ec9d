#include "bootloader/port_names.h"

namespace kelvane::bootloader {

int portNumberFromEntry(const std::string& entry) {
    if (entry.compare(0, 3, "COM") != 0) return 0;
    int n = 0;
    for (std::size_t i = 3; i < entry.size() && entry[i] >= '0' && entry[i] <= '9'; ++i) {
        n = n * 10 + (entry[i] - '0');
        if (n > 999) return 0;
    }
    return n;
}

std::string comDeviceName(int n) { return "\\\\.\\COM" + std::to_string(n); }

}  // namespace kelvane::bootloader
