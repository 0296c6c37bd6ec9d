#include "registry/backup_files.h"

#include "registry/building_register.h"
#include "diagnostics/diagnostics.h"
#include "registry/key_store.h"

#include <QRegularExpression>
#include <QString>

namespace kelvane::registry {

std::string writeBackup(const std::filesystem::path& plainPath, const Image& image, const std::string& description,
                        WriteFault* fault) {
    const KeyState& state = dataKey();
    if (!state.key) return saveDataFileTo(plainPath, image, description, fault) ? pathToUtf8(plainPath) : std::string();
    std::filesystem::path sealed = plainPath;
    sealed.replace_extension(kSealedExtension);
    if (!saveSealedDataFile(sealed, *state.key, image, description, fault)) return {};
    // Plain backups an earlier run left in the folder are sealed now.
    sealFolder(plainPath.parent_path(), {state.key, state.previous}, isBackupName);
    return pathToUtf8(sealed);
}

bool isBackupName(const std::string& name) {
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2}_\\d{6}(_\\d+)?|before-flash-\\d+-\\d{8}-\\d{6})\\.kv[ds]$"));
    return pattern.match(QString::fromStdString(name)).hasMatch();
}

std::vector<std::string> backupFolders() { return {Register::defaultBackupFolder(), diagnostics::flashBackupFolder()}; }

FolderSealing sealBackups(const std::string& folder, bool onlyWithPlainFiles) {
    if (onlyWithPlainFiles) {
        // The keychain is asked only when there is something to seal.
        bool plain = false;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(pathFromUtf8(folder), error)) {
            const std::string name = pathToUtf8(entry.path().filename());
            plain = plain || (entry.path().extension() == ".kvd" && isBackupName(name));
        }
        if (!plain) return {};
    }
    const KeyState& state = dataKey();
    return sealFolder(pathFromUtf8(folder), {state.key, state.previous}, isBackupName);
}

}  // namespace kelvane::registry
