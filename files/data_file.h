#pragma once
// The .kvd data file: the 16,384-byte working image, then the description
// text in Windows-1250 with CR LF line breaks; no header, no length field.
#include "image/image.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace kelvane {

struct DataFile {
    Image image;
    std::string description;  // UTF-8, line breaks as stored (CR LF)
};

// The bytes of a data file.
std::vector<std::uint8_t> WriteDataFile(const Image& image, const std::string& descriptionUtf8);
// Nothing when the file is shorter than an image: such a file is refused
// whole, never half-loaded.
std::optional<DataFile> ReadDataFile(const std::vector<std::uint8_t>& bytes);

// The same, on files. SaveDataFile returns false when the file cannot be
// created or written completely; LoadDataFile nothing when it cannot be read
// or is too short.
bool SaveDataFile(const std::string& path, const Image& image, const std::string& descriptionUtf8);
std::optional<DataFile> LoadDataFile(const std::string& path);
// The same from an open stream; nothing when a read fails anywhere in it.
std::optional<DataFile> LoadDataFile(std::istream& in);

}  // namespace kelvane
