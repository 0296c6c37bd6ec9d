#pragma once
// The automatic backups of all three programs (KelvaneMini's after each
// transfer, Orva_Upgrade's and kvtool's before a flash) are sealed with the
// data key when there is one (".kvs"), else written plain (".kvd") as before
// and sealed at the first start that has a key.
#include "files/atomic_file.h"
#include "files/sealed_files.h"
#include "image/image.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kelvane::registry {

// Writes the backup at `plainPath` (a ".kvd" name) or, with a key, sealed
// beside it under the ".kvs" name. The path written; empty when it failed.
std::string writeBackup(const std::filesystem::path& plainPath, const Image& image, const std::string& description,
                        WriteFault* fault = nullptr);
// True when a file of that name in a backup folder is one of the programs'
// backups ("2026-12-08_203015.kvd", "before-flash-…", sealed or not).
bool isBackupName(const std::string& name);
// KelvaneMini's and Orva_Upgrade's backup folders.
std::vector<std::string> backupFolders();
// Seals the plain backups of a folder with the process's key (and those of
// the previous key again); nothing happens without a key. With
// `onlyWithPlainFiles` (at start-up) the key is not even looked for unless
// the folder holds a plain backup.
FolderSealing sealBackups(const std::string& folder, bool onlyWithPlainFiles = false);

}  // namespace kelvane::registry
