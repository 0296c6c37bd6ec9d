#include "files/data_file.h"

#include "files/atomic_file.h"
#include "files/cp1250.h"
#include "files/sealed_files.h"

#include <algorithm>
#include <fstream>

namespace kelvane {

std::vector<std::uint8_t> writeDataFile(const Image& image, const std::string& descriptionUtf8) {
    std::vector<std::uint8_t> bytes(image.begin(), image.end());
    const std::string text = utf8ToCp1250(descriptionUtf8);
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

std::optional<DataFile> readDataFile(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < kImageSize) return std::nullopt;
    DataFile file;
    std::copy_n(bytes.begin(), kImageSize, file.image.begin());
    file.description = cp1250ToUtf8(std::string(bytes.begin() + kImageSize, bytes.end()));
    return file;
}

bool saveDataFileTo(const std::filesystem::path& path, const Image& image, const std::string& descriptionUtf8,
                    WriteFault* fault) {
    const auto bytes = writeDataFile(image, descriptionUtf8);
    const WriteFault result = writeFileSafely(path, bytes.data(), bytes.size());
    if (fault) *fault = result;
    return result == WriteFault::None;
}

namespace {
constexpr std::size_t kMaxFileBytes = kImageSize + kMaxDescriptionBytes;
}  // namespace

std::optional<DataFile> loadDataFileFrom(const std::filesystem::path& path) {
    std::string bytes;
    if (readFileBounded(path, kMaxFileBytes + kSealedFileHeader + kSealOverhead, bytes) != ReadFault::None)
        return std::nullopt;
    std::vector<std::uint8_t> content(bytes.begin(), bytes.end());
    // A sealed backup opens with the data key; without it, it is refused.
    if (isSealedFile(content.data(), content.size())) {
        auto opened = openSealedBytes(content, sealedFileKeys());
        if (!opened) return std::nullopt;
        content.swap(*opened);
    } else if (content.size() > kMaxFileBytes) {
        return std::nullopt;
    }
    return readDataFile(content);
}

std::optional<DataFile> loadDataFileFrom(std::istream& in) {
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
    return readDataFile(bytes);
}

}  // namespace kelvane
