#pragma once
// Data files sealed with the data key: the automatic backups. A sealed file
// holds the bytes of a .kvd file sealed whole (files/sealing.h), under the
// same name with the extension ".kvs". loadDataFileFrom() opens one like a plain
// data file, with the keys the provider gives (the layer that finds the key
// installs it); without the key it is refused and left as it is.
#include "files/data_file.h"
#include "files/sealing.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

inline constexpr char kSealedExtension[] = ".kvs";

struct SealedFileKeys {
    std::optional<DataKey> key;
    std::optional<DataKey> previous;  // files sealed before a rotation
};
using SealedFileKeyProvider = std::function<SealedFileKeys()>;
// Asked only when a sealed file is met.
void setSealedFileKeyProvider(SealedFileKeyProvider provider);
SealedFileKeys sealedFileKeys();

// The content of a sealed file opened with either key; nothing, with the
// reason in `fault`, otherwise.
std::optional<std::vector<std::uint8_t>> openSealedBytes(const std::vector<std::uint8_t>& file,
                                                         const SealedFileKeys& keys, OpenFault* fault = nullptr);

// Writes a data file sealed with `key`, then reads it back and opens it:
// false unless what is on the disk opens to what was meant.
bool saveSealedDataFile(const std::filesystem::path& path, const DataKey& key, const Image& image,
                        const std::string& descriptionUtf8, WriteFault* fault = nullptr);

// Seals the plain data files of a folder whose names `isBackup` accepts, and
// seals again with the key those sealed by the previous key. A plain file is
// removed (overwritten first) only after its sealed copy has been read back
// and opened to the same bytes; anything that fails is kept as it is.
struct FolderSealing {
    int sealed = 0;                 // plain files sealed
    int resealed = 0;               // files of the previous key sealed again
    std::vector<std::string> kept;  // files left as they are, and why
};
FolderSealing sealFolder(const std::filesystem::path& folder, const SealedFileKeys& keys,
                         const std::function<bool(const std::string& name)>& isBackup);

// Overwrites a file's bytes with zeros, syncs, then removes it. On a
// solid-state disk or a copying file system the old blocks may survive.
bool removeOverwritten(const std::filesystem::path& path);

}  // namespace kelvane
