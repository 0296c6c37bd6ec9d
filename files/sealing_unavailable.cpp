// A build without libsodium: there is never a key, so nothing is sealed and
// the callers go on as without a keychain.
#include "files/sealing.h"

#include <cstring>

namespace kelvane {

bool sealingAvailable() { return false; }
DataKey::~DataKey() = default;
std::shared_ptr<DataKey::Bytes> DataKey::lockedBytes() { return nullptr; }
std::optional<DataKey> DataKey::generate() { return std::nullopt; }
std::optional<DataKey> DataKey::fromBytes(const std::uint8_t*, std::size_t) { return std::nullopt; }
std::optional<DataKey> DataKey::fromText(std::string_view, TextFault* fault) {
    if (fault) *fault = TextFault::Unavailable;
    return std::nullopt;
}
std::string DataKey::hex() const { return {}; }
std::string DataKey::id() const { return {}; }
bool DataKey::operator==(const DataKey& other) const { return *bytes_ == *other.bytes_; }
void wipeSecret(void* data, std::size_t size) {
    volatile auto* p = static_cast<volatile unsigned char*>(data);
    while (size--) *p++ = 0;
}
std::vector<std::uint8_t> sealBytes(const DataKey&, const void*, std::size_t, std::string_view) { return {}; }
std::optional<std::vector<std::uint8_t>> openBytes(const DataKey&, const void*, std::size_t, std::string_view) {
    return std::nullopt;
}
LookupHash lookupHash(const DataKey&, const void*, std::size_t) { return {}; }
std::vector<std::uint8_t> sealFile(const DataKey&, const std::vector<std::uint8_t>&) { return {}; }
bool isSealedFile(const void* bytes, std::size_t size) {
    return size >= kSealedFileHeader && std::memcmp(bytes, "KVSEALED", 8) == 0;
}
std::string sealedFileKeyId(const std::vector<std::uint8_t>&) { return {}; }
std::optional<std::vector<std::uint8_t>> openFile(const DataKey&, const std::vector<std::uint8_t>&, OpenFault* fault) {
    if (fault) *fault = OpenFault::OtherKey;
    return std::nullopt;
}
std::optional<std::vector<std::uint8_t>> wrapKey(const DataKey&, std::string_view, const WrapLimits&) {
    return std::nullopt;
}
std::optional<DataKey> unwrapKey(const std::vector<std::uint8_t>&, std::string_view, UnwrapFault* fault) {
    if (fault) *fault = UnwrapFault::Unavailable;
    return std::nullopt;
}

}  // namespace kelvane
