#include "files/program_log.h"

#include "files/private_file.h"
#include "image/local_time.h"

#include <filesystem>

namespace kelvane {

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
