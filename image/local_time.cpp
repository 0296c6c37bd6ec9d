#include "image/local_time.h"

namespace kelvane {

std::string formatLocalTime(std::time_t t, const char* format) {
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) return {};
#else
    if (!localtime_r(&t, &local)) return {};
#endif
    char text[64];
    if (std::strftime(text, sizeof text, format, &local) == 0) return {};
    return text;
}

std::string logTime() { return formatLocalTime(std::time(nullptr), "%Y-%m-%d %H:%M:%S"); }

}  // namespace kelvane
