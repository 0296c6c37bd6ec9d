#include "files/program_log.h"

#include "files/private_file.h"

#include <ctime>
#include <filesystem>

namespace kelvane {

std::string formatLocalTime(std::time_t t, const char* format) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    char text[64];
    if (std::strftime(text, sizeof text, format, &local) == 0) return {};
    return text;
}

std::string logTime() { return formatLocalTime(std::time(nullptr), "%Y-%m-%d %H:%M:%S"); }

void ProgramLog::add(const std::string& level, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    namespace fs = std::filesystem;
    std::error_code error;
    if (static_cast<long long>(fs::file_size(path_, error)) >= maxBytes_ && !error)
        fs::rename(path_, path_ + ".1", error);
    PrivateFile file;
    if (!file.open(path_, true)) return;
    std::string line = logTime() + " " + level + ": " + text;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    file.write(line + "\n");
}

}  // namespace kelvane
