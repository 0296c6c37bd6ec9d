#pragma once
// Local time as text, for logs, traces and file dates. Standard library only,
// so that every layer that stamps a line can share it.
#include <ctime>
#include <string>

namespace kelvane {

// t in local time through strftime's format; empty when the text does not fit
// 63 characters.
std::string formatLocalTime(std::time_t t, const char* format);
// Now as "YYYY-MM-DD HH:MM:SS", local time.
std::string logTime();

}  // namespace kelvane
