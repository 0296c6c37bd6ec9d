#include "files/data_file.h"

#include "files/atomic_file.h"
#include "files/cp1250.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace kelvane {

std::vector<std::uint8_t> WriteDataFile(const Image& image, const std::string& descriptionUtf8) {
    std::vector<std::uint8_t> bytes(image.begin(), image.end());
    const std::string text = Utf8ToCp1250(descriptionUtf8);
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

std::optional<DataFile> ReadDataFile(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < kImageSize) return std::nullopt;
    DataFile file;
    std::copy_n(bytes.begin(), kImageSize, file.image.begin());
    file.description = Cp1250ToUtf8(std::string(bytes.begin() + kImageSize, bytes.end()));
    return file;
}

bool SaveDataFile(const std::string& path, const Image& image, const std::string& descriptionUtf8) {
    const auto bytes = WriteDataFile(image, descriptionUtf8);
    return WriteFileAtomically(path, bytes.data(), bytes.size());
}

namespace {
constexpr std::size_t kMaxFileBytes = kImageSize + kMaxDescriptionBytes;
}  // namespace

std::optional<DataFile> LoadDataFile(const std::string& path) {
    // Looked at before opening: opening a FIFO waits for a writer, and a
    // device such as /dev/zero never ends.
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::is_regular_file(status)) return std::nullopt;
    const auto size = std::filesystem::file_size(path, error);
    if (error || size > kMaxFileBytes) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return LoadDataFile(in);
}

std::optional<DataFile> LoadDataFile(std::istream& in) {
    // read() turns a read error (a directory, a failing disk) into badbit;
    // reading through the stream buffer directly would throw instead.
    std::vector<std::uint8_t> bytes;
    char chunk[4096];
    while (in.read(chunk, sizeof chunk), in.gcount() > 0) {
        bytes.insert(bytes.end(), chunk, chunk + in.gcount());
        // A file that grew after the size was taken is still held to the limit.
        if (bytes.size() > kMaxFileBytes) return std::nullopt;
    }
    if (in.bad()) return std::nullopt;
    return ReadDataFile(bytes);
}

}  // namespace kelvane
