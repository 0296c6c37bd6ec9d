#pragma once
// (Here, in the lowest folder that uses Qt, for print/ and the windows.)
// A file name as the windows and kvtool hold it (QString) turned into a path
// for the file functions. On Windows it goes as UTF-16, never through the
// 8-bit code page, which would turn "ł" in "Michał" or "Wrocław" into
// another letter; elsewhere as UTF-8.
#include <QString>

#include <filesystem>

namespace kelvane {

inline std::filesystem::path fsPath(const QString& name) {
#ifdef _WIN32
    return std::filesystem::path(name.toStdWString());
#else
    return std::filesystem::u8path(name.toStdString());
#endif
}

}  // namespace kelvane
