#include "files/atomic_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace kelvane {

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        out.close();
        if (!out) {
            std::remove(temp.c_str());
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temp, path, error);
    if (error) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace kelvane
