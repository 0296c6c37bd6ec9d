#pragma once
// Secrets at rest: the one data key that seals every image the programs keep
// (the register's images, the automatic backups), the keyed hash the register
// finds images by, and the key wrapped with a passphrase for moving it to a
// colleague's computer. Everything here is libsodium's: XChaCha20-Poly1305
// for sealing, keyed BLAKE2b for hashing, Argon2id for passphrases; two
// subkeys are derived from the data key, so no key serves two algorithms.
//
//   auto key = DataKey::generate();
//   auto sealed = sealBytes(*key, bytes.data(), bytes.size(), "what it is");
//   auto opened = openBytes(*key, sealed.data(), sealed.size(), "what it is");   // nothing: damaged or another key
//
// A build without libsodium has no key: generate() and fromBytes() give
// nothing, and the callers go on as without a keychain.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// False in a build without libsodium (or when it failed to start).
bool sealingAvailable();

class DataKey {
public:
    static constexpr std::size_t kBytes = 32;
    using Bytes = std::array<std::uint8_t, kBytes>;

    // 32 random bytes; nothing when sealing is unavailable.
    static std::optional<DataKey> generate();
    static std::optional<DataKey> fromBytes(const std::uint8_t* bytes, std::size_t size);
    // 64 hexadecimal digits (either case) on one line, blanks and a line end
    // around them allowed; anything else is refused, with the reason in
    // `fault` when given.
    enum class TextFault { None, Length, NotHexadecimal, Unavailable };
    static std::optional<DataKey> fromText(std::string_view text, TextFault* fault = nullptr);

    // The bytes live in memory of their own that is locked against swapping,
    // guarded and read-only; copies share it, and it is wiped when the last
    // copy goes.
    DataKey(const DataKey& other) = default;
    DataKey& operator=(const DataKey& other) = default;
    ~DataKey();

    const Bytes& bytes() const { return *bytes_; }
    // The key as 64 lower-case hexadecimal digits (what a key file holds).
    std::string hex() const;
    // 32 hexadecimal digits that name the key without revealing it: the same
    // key always has the same id, and the id is stored beside what it sealed.
    std::string id() const;
    bool operator==(const DataKey& other) const;
    bool operator!=(const DataKey& other) const { return !(*this == other); }

private:
    explicit DataKey(std::shared_ptr<Bytes> bytes) : bytes_(std::move(bytes)) {}
    static std::shared_ptr<Bytes> lockedBytes();
    std::shared_ptr<Bytes> bytes_;
};

// Overwrites memory that held a secret, in a way the compiler keeps.
void wipeSecret(void* data, std::size_t size);

// A random nonce, then the ciphertext with its 16-byte tag; `associated`
// (not secret, not stored) must be given again to open it.
constexpr std::size_t kSealOverhead = 24 + 16;
std::vector<std::uint8_t> sealBytes(const DataKey& key, const void* data, std::size_t size, std::string_view associated);
// Nothing when the bytes were not sealed by this key with this associated
// text, or were changed since.
std::optional<std::vector<std::uint8_t>> openBytes(const DataKey& key, const void* sealed, std::size_t size,
                                                   std::string_view associated);

// The keyed hash by which sealed data is found: without the key nobody can
// tell which data it belongs to.
using LookupHash = std::array<std::uint8_t, 32>;
LookupHash lookupHash(const DataKey& key, const void* data, std::size_t size);

// A sealed file: "KVSEALED", a format byte, the id of the key that sealed it,
// then the sealed content with that header as the associated text.
constexpr std::size_t kSealedFileHeader = 8 + 1 + 16;
std::vector<std::uint8_t> sealFile(const DataKey& key, const std::vector<std::uint8_t>& content);
bool isSealedFile(const void* bytes, std::size_t size);
enum class OpenFault { None, NotSealed, OtherKey, Damaged };
std::optional<std::vector<std::uint8_t>> openFile(const DataKey& key, const std::vector<std::uint8_t>& file,
                                                  OpenFault* fault = nullptr);
// The id of the key that sealed a file (empty when it is no sealed file).
std::string sealedFileKeyId(const std::vector<std::uint8_t>& file);

// The data key wrapped with a passphrase (Argon2id) for export: "KVKEYEXP",
// a format byte, the work limits, the salt, then the sealed key. Unwrapping
// refuses limits above kMaxWrapMemory / kMaxWrapOps unread, so a file from
// anywhere cannot make the program allocate without bound.
struct WrapLimits {
    std::uint64_t ops = 3;                // passes
    std::uint64_t memory = 256ull << 20;  // bytes
};
inline constexpr WrapLimits kExportLimits{};  // about a second on a service laptop
inline constexpr WrapLimits kTestLimits{1, 8192};
constexpr std::uint64_t kMaxWrapMemory = 1ull << 30;
constexpr std::uint64_t kMaxWrapOps = 16;
std::optional<std::vector<std::uint8_t>> wrapKey(const DataKey& key, std::string_view passphrase,
                                                 const WrapLimits& limits = kExportLimits);
enum class UnwrapFault { None, NotAKeyFile, Limits, WrongPassphrase, Unavailable };
std::optional<DataKey> unwrapKey(const std::vector<std::uint8_t>& wrapped, std::string_view passphrase,
                                 UnwrapFault* fault = nullptr);

}  // namespace kelvane
