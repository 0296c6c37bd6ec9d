#include "cli/terminal.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace kelvane::cli {

#ifdef _WIN32

bool isTerminal(int fd) { return ::_isatty(fd) != 0; }

void useUtf8Console() { ::SetConsoleOutputCP(CP_UTF8); }

bool folderTakesFiles(const std::filesystem::path& folder) {
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_READONLY);
}

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(n > 0 ? static_cast<std::size_t>(n) : 1, '\0');
        if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, s.data(), n, nullptr, nullptr);
        s.pop_back();  // the terminating zero
        args.push_back(std::move(s));
    }
    ::LocalFree(wide);
    return args;
}

#else

bool isTerminal(int fd) { return ::isatty(fd) != 0; }

void useUtf8Console() {}

bool folderTakesFiles(const std::filesystem::path& folder) { return ::access(folder.c_str(), W_OK | X_OK) == 0; }

std::vector<std::string> utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

#endif

}  // namespace kelvane::cli
