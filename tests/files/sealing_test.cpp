// Sealing and the key file: what opens, what is refused, and that a refusal
// never yields bytes.
#include "files/atomic_file.h"
#include "files/key_file.h"
#include "files/sealed_files.h"
#include "files/sealing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using namespace kelvane;

namespace {

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(Sealing, OnlyTheSameKeyAndAssociatedTextOpenUnchangedBytes) {
    if (!sealingAvailable()) GTEST_SKIP() << "built without libsodium";
    const auto key = DataKey::generate();
    const auto other = DataKey::generate();
    const auto plain = bytes("1234 5678 service password");
    const auto sealed = sealBytes(*key, plain.data(), plain.size(), "controller 7/42");
    ASSERT_EQ(sealed.size(), plain.size() + kSealOverhead);
    EXPECT_EQ(openBytes(*key, sealed.data(), sealed.size(), "controller 7/42"), plain);
    // The same bytes sealed twice differ (a fresh nonce each time).
    EXPECT_NE(sealBytes(*key, plain.data(), plain.size(), "controller 7/42"), sealed);
    struct Case {
        const char* what;
        const DataKey* key;
        std::string associated;
        std::size_t flip;  // byte flipped; sealed.size(): none; npos: cut short
    };
    const Case cases[] = {
        {"another key", &*other, "controller 7/42", sealed.size()},
        {"another controller", &*key, "controller 7/43", sealed.size()},
        {"a changed nonce", &*key, "controller 7/42", 0},
        {"a changed ciphertext", &*key, "controller 7/42", 30},
        {"a changed tag", &*key, "controller 7/42", sealed.size() - 1},
        {"cut short", &*key, "controller 7/42", std::string::npos},
    };
    for (const auto& c : cases) {
        auto damaged = sealed;
        if (c.flip == std::string::npos)
            damaged.resize(kSealOverhead - 1);
        else if (c.flip < damaged.size())
            damaged[c.flip] ^= 1;
        EXPECT_FALSE(openBytes(*c.key, damaged.data(), damaged.size(), c.associated)) << c.what;
    }
}

TEST(Sealing, KeysHashesAndFilesTellKeysApart) {
    if (!sealingAvailable()) GTEST_SKIP() << "built without libsodium";
    const auto key = DataKey::generate();
    const auto other = DataKey::generate();
    const auto plain = bytes("image");
    EXPECT_EQ(lookupHash(*key, plain.data(), plain.size()), lookupHash(*key, plain.data(), plain.size()));
    EXPECT_NE(lookupHash(*key, plain.data(), plain.size()), lookupHash(*other, plain.data(), plain.size()));
    EXPECT_EQ(key->id().size(), 32u);
    EXPECT_NE(key->id(), other->id());

    const auto file = sealFile(*key, plain);
    OpenFault fault = OpenFault::None;
    EXPECT_EQ(openFile(*key, file, &fault), plain);
    EXPECT_FALSE(openFile(*other, file, &fault));
    EXPECT_EQ(fault, OpenFault::OtherKey);
    auto damaged = file;
    damaged.back() ^= 0x80;
    EXPECT_FALSE(openFile(*key, damaged, &fault));
    EXPECT_EQ(fault, OpenFault::Damaged);
    EXPECT_FALSE(openFile(*key, plain, &fault));
    EXPECT_EQ(fault, OpenFault::NotSealed);
}

TEST(Sealing, AWrappedKeyOpensWithItsPassphraseAndRefusesEverythingElse) {
    if (!sealingAvailable()) GTEST_SKIP() << "built without libsodium";
    const auto key = DataKey::generate();
    const auto wrapped = wrapKey(*key, "zażółć gęślą jaźń", kTestLimits);
    ASSERT_TRUE(wrapped);
    UnwrapFault fault = UnwrapFault::None;
    EXPECT_EQ(unwrapKey(*wrapped, "zażółć gęślą jaźń", &fault), key);
    struct Case {
        const char* what;
        std::size_t at;      // byte changed; npos: cut short
        std::uint8_t value;  // set there, or with `flip` XORed in (the salt is random: a value set may be the same)
        bool flip;
        const char* passphrase;
        UnwrapFault fault;
    };
    const Case cases[] = {
        {"wrong passphrase", 0, 'K', false, "zazolc gesla jazn", UnwrapFault::WrongPassphrase},
        {"changed salt", 30, 0x55, true, "zażółć gęślą jaźń", UnwrapFault::WrongPassphrase},
        {"changed limits", 9, 2, false, "zażółć gęślą jaźń", UnwrapFault::WrongPassphrase},
        {"huge memory", 24, 0x7f, false, "zażółć gęślą jaźń", UnwrapFault::Limits},
        {"huge passes", 16, 0x7f, false, "zażółć gęślą jaźń", UnwrapFault::Limits},
        {"other magic", 0, 'X', false, "zażółć gęślą jaźń", UnwrapFault::NotAKeyFile},
        {"cut short", std::string::npos, 0, false, "zażółć gęślą jaźń", UnwrapFault::NotAKeyFile},
    };
    for (const auto& c : cases) {
        auto changed = *wrapped;
        if (c.at == std::string::npos)
            changed.pop_back();
        else
            changed[c.at] = static_cast<char>(c.flip ? changed[c.at] ^ c.value : c.value);
        EXPECT_FALSE(unwrapKey(changed, c.passphrase, &fault)) << c.what;
        EXPECT_EQ(fault, c.fault) << c.what;
    }
}

TEST(SealedFiles, AFolderIsSealedWithoutLosingAFile) {
    if (!sealingAvailable()) GTEST_SKIP() << "built without libsodium";
    const fs::path dir = fs::path(testing::TempDir()) / ("sealed_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const auto key = DataKey::generate(), previous = DataKey::generate(), other = DataKey::generate();
    Image image{};
    image[7] = 0x42;
    ASSERT_TRUE(saveDataFileTo(dir / "plain.kvd", image, "plain"));
    ASSERT_TRUE(saveSealedDataFile(dir / "previous.kvs", *previous, image, "previous"));
    ASSERT_TRUE(saveSealedDataFile(dir / "other.kvs", *other, image, "other"));
    std::ofstream(dir / "short.kvd") << "not a data file";
    std::ofstream(dir / "notes.txt") << "not a backup";
    const FolderSealing done =
        sealFolder(dir, {key, previous}, [](const std::string& name) { return name.find(".kv") != std::string::npos; });
    EXPECT_EQ(done.sealed, 1);
    EXPECT_EQ(done.resealed, 1);
    EXPECT_EQ(done.kept.size(), 2u);  // other.kvs, short.kvd: left as they are
    setSealedFileKeyProvider([&] { return SealedFileKeys{key, std::nullopt}; });
    struct Case {
        const char* file;
        bool opens;
    };
    for (const Case& c : {Case{"plain.kvs", true}, Case{"previous.kvs", true}, Case{"other.kvs", false},
                          Case{"plain.kvd", false}, Case{"short.kvd", false}}) {
        const auto loaded = loadDataFileFrom(dir / c.file);
        EXPECT_EQ(loaded.has_value(), c.opens) << c.file;
        if (loaded) {
            EXPECT_EQ(loaded->image, image) << c.file;
        }
    }
    EXPECT_FALSE(fs::exists(dir / "plain.kvd"));
    EXPECT_TRUE(fs::exists(dir / "other.kvs") && fs::exists(dir / "short.kvd") && fs::exists(dir / "notes.txt"));
    setSealedFileKeyProvider(nullptr);
    fs::remove_all(dir);
}

#ifndef _WIN32
TEST(KeyFile, OnlyTheUsersPrivateFileIsRead) {
    if (!sealingAvailable()) GTEST_SKIP() << "built without libsodium";
    const fs::path dir = fs::path(testing::TempDir()) / ("keys_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const fs::path made = dir / "made.key";
    const KeyFileRead first = readKeyFile(made, true);
    ASSERT_TRUE(first.key);
    EXPECT_TRUE(first.created);
    struct stat st {};
    ::stat(made.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(readKeyFile(made, true).key, first.key);  // made once, then read

    std::string upper = first.key->hex();
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Case {
        const char* what;
        std::string content;
        mode_t mode;
        KeyFileFault fault;
    };
    const Case cases[] = {
        {"owner only", first.key->hex(), 0600, KeyFileFault::None},
        {"read only", first.key->hex(), 0400, KeyFileFault::None},
        {"group may read", first.key->hex(), 0640, KeyFileFault::NotPrivate},
        {"all may read", first.key->hex(), 0644, KeyFileFault::NotPrivate},
        {"no key", "not a key", 0600, KeyFileFault::NotAKey},
        {"far too long", std::string(100000, '0'), 0600, KeyFileFault::NotAKey},
        // What key files hold: the key written by the programs, one typed by hand.
        {"blanks and CRLF around", " \t" + upper + "\r\n", 0600, KeyFileFault::None},
        // Only 64 hexadecimal digits are a key; a passphrase of a key's size is none.
        {"32-character passphrase", "correct horse battery staple 42", 0600, KeyFileFault::NotAKey},
        {"32 bytes and a line end", std::string(32, 'k') + "\n", 0600, KeyFileFault::NotAKey},
        {"63 digits", first.key->hex().substr(1), 0600, KeyFileFault::NotAKey},
        {"65 digits", first.key->hex() + "0", 0600, KeyFileFault::NotAKey},
        {"two keys", first.key->hex() + "\n" + first.key->hex() + "\n", 0600, KeyFileFault::NotAKey},
        {"0x in front", "0x" + first.key->hex().substr(2), 0600, KeyFileFault::NotHexadecimal},
        {"a blank inside", first.key->hex().substr(0, 31) + " " + first.key->hex().substr(32), 0600,
         KeyFileFault::NotHexadecimal},
        {"a letter past f", std::string(63, '0') + "g", 0600, KeyFileFault::NotHexadecimal},
        {"empty", "", 0600, KeyFileFault::NotAKey},
    };
    for (const auto& c : cases) {
        const fs::path p = dir / "case.key";
        fs::remove(p);
        std::ofstream(p) << c.content;
        ::chmod(p.c_str(), c.mode);
        const KeyFileRead r = readKeyFile(p, false);
        EXPECT_EQ(r.fault, c.fault) << c.what;
        if (r.key) {
            EXPECT_EQ(r.key, first.key) << c.what;
        }
        EXPECT_EQ(r.key.has_value(), c.fault == KeyFileFault::None) << c.what;
    }
    fs::create_symlink(made, dir / "link.key");
    EXPECT_EQ(readKeyFile(dir / "link.key", false).fault, KeyFileFault::NotRegular);
    EXPECT_EQ(readKeyFile(dir / "missing.key", false).fault, KeyFileFault::Missing);
    EXPECT_EQ(readKeyFile(dir, false).fault, KeyFileFault::NotRegular);
    fs::remove_all(dir);
}
#endif

TEST(SealedFiles, RemovingAPlainCopyZeroesNoOtherFile) {
    const fs::path dir = fs::path(testing::TempDir()) / ("unlink_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    const std::string secret = "1234 5678";
    struct Case {
        const char* what;
        std::function<void(const fs::path& victim, const fs::path& name, std::error_code&)> make;
    };
    const Case cases[] = {
        {"a link to another file",
         [](const fs::path& v, const fs::path& n, std::error_code& e) { fs::create_symlink(v, n, e); }},
        {"a second name of another file",
         [](const fs::path& v, const fs::path& n, std::error_code& e) { fs::create_hard_link(v, n, e); }},
    };
    for (const Case& c : cases) {
        const fs::path victim = dir / "victim.txt", name = dir / "backup.kvd";
        std::ofstream(victim, std::ios::binary) << secret;
        std::error_code error;
        c.make(victim, name, error);
        if (error) {
            std::cout << c.what << ": cannot be made here (" << error.message() << ")\n";
        } else {
            EXPECT_TRUE(removeOverwritten(name)) << c.what;
            EXPECT_FALSE(fs::exists(fs::symlink_status(name))) << c.what;
            std::string kept;
            EXPECT_EQ(readFileBounded(victim, 100, kept), ReadFault::None) << c.what;
            EXPECT_EQ(kept, secret) << c.what;
        }
        fs::remove(name, error);
        fs::remove(victim, error);
    }
    fs::remove_all(dir);
}

}  // namespace
