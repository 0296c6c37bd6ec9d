#pragma once
// What kvtool needs of its console, command line and file system, the same
// on Unix and Windows.
#include <filesystem>
#include <string>
#include <vector>

namespace kelvane::cli {

// True when the descriptor (0 stdin, 2 stderr) is a terminal or console.
bool isTerminal(int fd);

// Texts go out as UTF-8: a Windows console is switched to it (a Unix
// terminal already is).
void useUtf8Console();

// Whether new files may be made in the folder (it may be read-only).
bool folderTakesFiles(const std::filesystem::path& folder);

// The command line after the program name, as UTF-8. On Windows it is read
// as UTF-16 from the system, so names outside the 8-bit code page (Polish
// letters on an English Windows, any letter on another) arrive intact.
std::vector<std::string> utf8Arguments(int argc, char** argv);

}  // namespace kelvane::cli
