#pragma once
// The .kvd data file: the 16,384-byte working image, then the description
// text in Windows-1250 with CR LF line breaks; no header, no length field.
#include "files/atomic_file.h"
#include "image/image.h"

#include <cstddef>
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
std::vector<std::uint8_t> writeDataFile(const Image& image, const std::string& descriptionUtf8);
// Nothing when the file is shorter than an image: such a file is refused
// whole, never half-loaded.
std::optional<DataFile> readDataFile(const std::vector<std::uint8_t>& bytes);

// The longest description a data file may carry: a file larger than the
// image plus this is refused unread.
constexpr std::size_t kMaxDescriptionBytes = 1024 * 1024;

// The same, on files. saveDataFileTo writes through the one file writer; false,
// with the reason in `fault` when given, when it could not. loadDataFileFrom gives nothing when the file cannot be
// read, is too short or too long, or is not a regular file (a FIFO or a
// device is refused unread, so the load never blocks on it).
bool saveDataFileTo(const std::filesystem::path& path, const Image& image, const std::string& descriptionUtf8,
                    WriteFault* fault = nullptr);
std::optional<DataFile> loadDataFileFrom(const std::filesystem::path& path);
// The same from an open stream; nothing when a read fails anywhere in it or
// it holds more than a file may.
std::optional<DataFile> loadDataFileFrom(std::istream& in);

}  // namespace kelvane
