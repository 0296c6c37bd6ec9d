#include "files/sealing.h"

#include <sodium.h>

#include <cstring>
#include <new>

namespace kelvane {

namespace {

// The subkeys of the data key, each for one use.
constexpr char kContext[crypto_kdf_CONTEXTBYTES + 1] = "kelvane1";
enum Subkey : std::uint64_t { kSealing = 1, kLookup = 2, kNaming = 3 };

struct Subkey32 {
    std::uint8_t bytes[32];
    Subkey32(const DataKey& key, Subkey which) {
        crypto_kdf_derive_from_key(bytes, sizeof bytes, which, kContext, key.bytes().data());
    }
    ~Subkey32() { sodium_memzero(bytes, sizeof bytes); }
    Subkey32(const Subkey32&) = delete;
    Subkey32& operator=(const Subkey32&) = delete;
};

static_assert(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES == 24, "nonce size");
static_assert(crypto_aead_xchacha20poly1305_ietf_ABYTES == 16, "tag size");
static_assert(crypto_kdf_KEYBYTES == DataKey::kBytes, "key size");

const char kFileMagic[] = "KVSEALED";
const char kExportMagic[] = "KVKEYEXP";
constexpr std::uint8_t kFormat = 1;
constexpr std::size_t kSaltBytes = crypto_pwhash_SALTBYTES;
constexpr std::size_t kExportHeader = 8 + 1 + 8 + 8 + kSaltBytes;

const std::uint8_t* bytesOf(std::string_view text) { return reinterpret_cast<const std::uint8_t*>(text.data()); }

void putU64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint64_t getU64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string hexOf(const std::uint8_t* bytes, std::size_t size) {
    std::string out(size * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), bytes, size);
    out.pop_back();
    return out;
}

}  // namespace

bool sealingAvailable() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

DataKey::~DataKey() = default;

// sodium_malloc: pages of their own, locked (sodium_mlock), between guard
// pages; sodium_free wipes them. Made read-only once filled.
std::shared_ptr<DataKey::Bytes> DataKey::lockedBytes() {
    if (!sealingAvailable()) return nullptr;
    void* memory = sodium_malloc(sizeof(Bytes));
    if (!memory) return nullptr;
    return std::shared_ptr<Bytes>(new (memory) Bytes{}, [](Bytes* p) {
        sodium_mprotect_readwrite(p);
        sodium_free(p);
    });
}

std::optional<DataKey> DataKey::generate() {
    auto bytes = lockedBytes();
    if (!bytes) return std::nullopt;
    crypto_kdf_keygen(bytes->data());
    sodium_mprotect_readonly(bytes.get());
    return DataKey(std::move(bytes));
}

std::optional<DataKey> DataKey::fromBytes(const std::uint8_t* from, std::size_t size) {
    if (size != kBytes) return std::nullopt;
    auto bytes = lockedBytes();
    if (!bytes) return std::nullopt;
    std::memcpy(bytes->data(), from, kBytes);
    sodium_mprotect_readonly(bytes.get());
    return DataKey(std::move(bytes));
}

std::optional<DataKey> DataKey::fromText(std::string_view text, TextFault* fault) {
    TextFault ignored;
    if (!fault) fault = &ignored;
    *fault = TextFault::None;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (text.size() != 2 * kBytes) {
        *fault = TextFault::Length;
        return std::nullopt;
    }
    for (char c : text)
        if (hexDigit(c) < 0) {
            *fault = TextFault::NotHexadecimal;
            return std::nullopt;
        }
    auto bytes = lockedBytes();
    if (!bytes) {
        *fault = TextFault::Unavailable;
        return std::nullopt;
    }
    // Decoded straight into the locked memory: no other copy of the key.
    for (std::size_t i = 0; i < kBytes; ++i)
        (*bytes)[i] = static_cast<std::uint8_t>(hexDigit(text[2 * i]) * 16 + hexDigit(text[2 * i + 1]));
    sodium_mprotect_readonly(bytes.get());
    return DataKey(std::move(bytes));
}

std::string DataKey::hex() const { return hexOf(bytes_->data(), bytes_->size()); }

std::string DataKey::id() const {
    const Subkey32 naming(*this, kNaming);
    std::uint8_t out[16];
    crypto_generichash(out, sizeof out, bytesOf("key id"), 6, naming.bytes, sizeof naming.bytes);
    return hexOf(out, sizeof out);
}

bool DataKey::operator==(const DataKey& other) const {
    return bytes_ == other.bytes_ || sodium_memcmp(bytes_->data(), other.bytes_->data(), kBytes) == 0;
}

void wipeSecret(void* data, std::size_t size) { sodium_memzero(data, size); }

std::vector<std::uint8_t> sealBytes(const DataKey& key, const void* data, std::size_t size, std::string_view associated) {
    const Subkey32 sealing(key, kSealing);
    std::vector<std::uint8_t> out(kSealOverhead + size);
    randombytes_buf(out.data(), crypto_aead_xchacha20poly1305_ietf_NPUBBYTES);
    unsigned long long written = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(out.data() + crypto_aead_xchacha20poly1305_ietf_NPUBBYTES, &written,
                                               static_cast<const std::uint8_t*>(data), size, bytesOf(associated),
                                               associated.size(), nullptr, out.data(), sealing.bytes);
    out.resize(crypto_aead_xchacha20poly1305_ietf_NPUBBYTES + written);
    return out;
}

std::optional<std::vector<std::uint8_t>> openBytes(const DataKey& key, const void* sealed, std::size_t size,
                                                   std::string_view associated) {
    if (size < kSealOverhead) return std::nullopt;
    const Subkey32 sealing(key, kSealing);
    const auto* in = static_cast<const std::uint8_t*>(sealed);
    std::vector<std::uint8_t> out(size - kSealOverhead);
    unsigned long long written = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(out.data(), &written, nullptr,
                                                   in + crypto_aead_xchacha20poly1305_ietf_NPUBBYTES,
                                                   size - crypto_aead_xchacha20poly1305_ietf_NPUBBYTES,
                                                   bytesOf(associated), associated.size(), in, sealing.bytes) != 0)
        return std::nullopt;
    out.resize(written);
    return out;
}

LookupHash lookupHash(const DataKey& key, const void* data, std::size_t size) {
    const Subkey32 lookup(key, kLookup);
    LookupHash out{};
    crypto_generichash(out.data(), out.size(), static_cast<const std::uint8_t*>(data), size, lookup.bytes,
                       sizeof lookup.bytes);
    return out;
}

namespace {
std::string fileHeader(const std::string& keyId) {
    std::string header(kFileMagic, 8);
    header.push_back(static_cast<char>(kFormat));
    std::uint8_t id[16];
    std::size_t length = 0;
    sodium_hex2bin(id, sizeof id, keyId.data(), keyId.size(), nullptr, &length, nullptr);
    header.append(reinterpret_cast<const char*>(id), sizeof id);
    return header;
}
}  // namespace

std::vector<std::uint8_t> sealFile(const DataKey& key, const std::vector<std::uint8_t>& content) {
    const std::string header = fileHeader(key.id());
    std::vector<std::uint8_t> out(header.begin(), header.end());
    const auto sealed = sealBytes(key, content.data(), content.size(), header);
    out.insert(out.end(), sealed.begin(), sealed.end());
    return out;
}

bool isSealedFile(const void* bytes, std::size_t size) {
    return size >= kSealedFileHeader && std::memcmp(bytes, kFileMagic, 8) == 0 &&
           static_cast<const std::uint8_t*>(bytes)[8] == kFormat;
}

std::string sealedFileKeyId(const std::vector<std::uint8_t>& file) {
    if (!isSealedFile(file.data(), file.size())) return {};
    return hexOf(file.data() + 9, 16);
}

std::optional<std::vector<std::uint8_t>> openFile(const DataKey& key, const std::vector<std::uint8_t>& file,
                                                  OpenFault* fault) {
    OpenFault ignored;
    if (!fault) fault = &ignored;
    *fault = OpenFault::None;
    if (!isSealedFile(file.data(), file.size())) {
        *fault = OpenFault::NotSealed;
        return std::nullopt;
    }
    if (sealedFileKeyId(file) != key.id()) {
        *fault = OpenFault::OtherKey;
        return std::nullopt;
    }
    const std::string header(reinterpret_cast<const char*>(file.data()), kSealedFileHeader);
    auto opened = openBytes(key, file.data() + kSealedFileHeader, file.size() - kSealedFileHeader, header);
    if (!opened) *fault = OpenFault::Damaged;
    return opened;
}

std::optional<std::vector<std::uint8_t>> wrapKey(const DataKey& key, std::string_view passphrase, const WrapLimits& limits) {
    if (!sealingAvailable() || limits.memory > kMaxWrapMemory || limits.ops > kMaxWrapOps ||
        limits.memory < crypto_pwhash_MEMLIMIT_MIN || limits.ops < crypto_pwhash_OPSLIMIT_MIN)
        return std::nullopt;
    std::vector<std::uint8_t> out(kExportMagic, kExportMagic + 8);
    out.push_back(kFormat);
    putU64(out, limits.ops);
    putU64(out, limits.memory);
    out.resize(kExportHeader);
    randombytes_buf(out.data() + kExportHeader - kSaltBytes, kSaltBytes);
    std::uint8_t wrapping[32];
    if (crypto_pwhash(wrapping, sizeof wrapping, passphrase.data(), passphrase.size(),
                      out.data() + kExportHeader - kSaltBytes, limits.ops, static_cast<std::size_t>(limits.memory),
                      crypto_pwhash_ALG_ARGON2ID13) != 0)
        return std::nullopt;
    const std::string header(out.begin(), out.end());
    std::uint8_t nonce[crypto_aead_xchacha20poly1305_ietf_NPUBBYTES];
    randombytes_buf(nonce, sizeof nonce);
    out.insert(out.end(), nonce, nonce + sizeof nonce);
    std::uint8_t sealed[DataKey::kBytes + crypto_aead_xchacha20poly1305_ietf_ABYTES];
    crypto_aead_xchacha20poly1305_ietf_encrypt(sealed, nullptr, key.bytes().data(), DataKey::kBytes, bytesOf(header),
                                               header.size(), nullptr, nonce, wrapping);
    sodium_memzero(wrapping, sizeof wrapping);
    out.insert(out.end(), sealed, sealed + sizeof sealed);
    return out;
}

std::optional<DataKey> unwrapKey(const std::vector<std::uint8_t>& wrapped, std::string_view passphrase, UnwrapFault* fault) {
    UnwrapFault ignored;
    if (!fault) fault = &ignored;
    *fault = UnwrapFault::None;
    if (!sealingAvailable()) {
        *fault = UnwrapFault::Unavailable;
        return std::nullopt;
    }
    constexpr std::size_t kTotal = kExportHeader + crypto_aead_xchacha20poly1305_ietf_NPUBBYTES + DataKey::kBytes +
                                   crypto_aead_xchacha20poly1305_ietf_ABYTES;
    if (wrapped.size() != kTotal || std::memcmp(wrapped.data(), kExportMagic, 8) != 0 || wrapped[8] != kFormat) {
        *fault = UnwrapFault::NotAKeyFile;
        return std::nullopt;
    }
    const std::uint64_t ops = getU64(wrapped.data() + 9);
    const std::uint64_t memory = getU64(wrapped.data() + 17);
    if (ops > kMaxWrapOps || memory > kMaxWrapMemory || ops < crypto_pwhash_OPSLIMIT_MIN ||
        memory < crypto_pwhash_MEMLIMIT_MIN) {
        *fault = UnwrapFault::Limits;
        return std::nullopt;
    }
    std::uint8_t wrapping[32];
    if (crypto_pwhash(wrapping, sizeof wrapping, passphrase.data(), passphrase.size(),
                      wrapped.data() + kExportHeader - kSaltBytes, ops, static_cast<std::size_t>(memory),
                      crypto_pwhash_ALG_ARGON2ID13) != 0) {
        *fault = UnwrapFault::Limits;  // the memory could not be had
        return std::nullopt;
    }
    const std::string header(wrapped.begin(), wrapped.begin() + kExportHeader);
    const std::uint8_t* nonce = wrapped.data() + kExportHeader;
    const std::uint8_t* sealed = nonce + crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
    DataKey::Bytes bytes{};
    const int rc = crypto_aead_xchacha20poly1305_ietf_decrypt(
        bytes.data(), nullptr, nullptr, sealed, DataKey::kBytes + crypto_aead_xchacha20poly1305_ietf_ABYTES,
        bytesOf(header), header.size(), nonce, wrapping);
    sodium_memzero(wrapping, sizeof wrapping);
    if (rc != 0) {
        *fault = UnwrapFault::WrongPassphrase;
        return std::nullopt;
    }
    auto key = DataKey::fromBytes(bytes.data(), bytes.size());
    sodium_memzero(bytes.data(), bytes.size());
    return key;
}

}  // namespace kelvane
