// The data key in a real Secret Service (run by with_secret_service.sh in a
// D-Bus session of its own): made once and kept, replaced with the previous
// one beside it; and kvtool end to end: nothing secret in what it keeps, the
// key exported, imported on a second home, rotated.
#include "files/data_file.h"
#include "image/grid.h"
#include "image/window_data.h"
#include "registry/key_store.h"

#include <cctype>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using namespace kelvane::registry;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Outcome {
    int exit = -1;
    std::string out, err;
};

// How kvtool finds the keychain: the session's, none (no session bus, as
// over SSH), or switched off.
enum class Keychain { Session, NoBus, Off };

// kvtool with HOME (and so its register, backups, config folder and, without
// a key file, the session's keychain) in `home`.
Outcome kvtool(const fs::path& home, const std::vector<std::string>& args, const std::string& keyFile = {},
               Keychain keychain = Keychain::Session) {
    const fs::path out = home / "stdout", err = home / "stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "r", stdin);
        std::freopen(out.c_str(), "w", stdout);
        std::freopen(err.c_str(), "w", stderr);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
        if (keychain == Keychain::NoBus) ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        if (keychain == Keychain::Off) ::setenv("KELVANE_NO_KEYCHAIN", "1", 1);
        ::setenv("LANG", "C", 1);
        ::unsetenv("KELVANE_REGISTER");
        if (keyFile.empty())
            ::unsetenv("KELVANE_KEY_FILE");
        else
            ::setenv("KELVANE_KEY_FILE", keyFile.c_str(), 1);
        std::vector<std::string> all = {KVTOOL_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(KVTOOL_PATH, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128, slurp(out), slurp(err)};
}

// What must never be found at rest: 16-byte runs of the image that hold
// something, as bytes and as hexadecimal text in either case, and every code
// and key of its tables as the window shows it.
std::vector<std::string> secretsOf(const kelvane::Image& image) {
    std::vector<std::string> needles;
    for (std::size_t at = 0; at + 16 <= image.size(); at += 16) {
        const std::string run(image.begin() + static_cast<long>(at), image.begin() + static_cast<long>(at) + 16);
        if (run.find_first_not_of(run[0]) == std::string::npos) continue;
        std::string lower, upper;
        char hex[3];
        for (unsigned char c : run) {
            std::snprintf(hex, sizeof hex, "%02x", c);
            lower += hex;
            std::snprintf(hex, sizeof hex, "%02X", c);
            upper += hex;
        }
        needles.insert(needles.end(), {run, lower, upper});
    }
    const kelvane::WindowData shown = kelvane::showImage(image);
    for (auto id : {kelvane::GridId::Keys, kelvane::GridId::Residents, kelvane::GridId::GeneralCodes})
        for (const auto& row : shown.grid(id).rows)
            for (const auto& cell : row)
                if (cell.size() >= 4 && cell.find_first_not_of("0123456789-ABCDEF") == std::string::npos)
                    needles.push_back(cell);
    return needles;
}

// Whether `bytes` hold `needle`; a short one (a code as text) only as a word
// of its own, not inside the hex digits of a visit's UUID or a time.
bool holds(const std::string& bytes, const std::string& needle) {
    const auto part = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == '-' || c == ':'; };
    for (auto at = bytes.find(needle); at != std::string::npos; at = bytes.find(needle, at + 1)) {
        if (needle.size() >= 16) return true;
        const bool before = at > 0 && part(bytes[at - 1]);
        const bool after = at + needle.size() < bytes.size() && part(bytes[at + needle.size()]);
        if (!before && !after) return true;
    }
    return false;
}

// Where a needle was found among the files under `folder`. The stored
// traces are masked by their writer and checked with it.
std::vector<std::string> leaksIn(const fs::path& folder, const std::vector<std::string>& needles) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".trace") continue;
        const std::string bytes = slurp(entry.path());
        for (const auto& n : needles)
            if (holds(bytes, n)) {
                found.push_back(entry.path().filename().string() + ": " + n.substr(0, 8));
                break;
            }
    }
    return found;
}

// No keychain answers (no session bus, or switched off) and no key exists:
// the key is made in the user's own key file, said once; visits keep their
// images, so a technician's own edit is no stranger at the upload. A
// keychain that answers later is offered the key, and takes it. (First in
// this file: the session's keychain holds no key yet.)
TEST(Keychain, WithoutAKeychainTheKeyIsMadeInTheOwnFileAndMovesToAKeychainLater) {
    const fs::path root = fs::temp_directory_path() / ("own_key_test_" + std::to_string(::getpid()));
    const struct {
        const char* name;
        Keychain keychain;
    } cases[] = {{"no session bus", Keychain::NoBus}, {"switched off", Keychain::Off}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path home = root / c.name, own = home / ".config/Kelvane/data.key";
        fs::create_directories(home);
        const Outcome first = kvtool(home, {"download", "--port", "sim", "-o", (home / "a.kvd").string()}, {}, c.keychain);
        ASSERT_EQ(first.exit, 0) << first.err;
        EXPECT_NE(first.err.find("the data key was made in the file " + own.string()), std::string::npos) << first.err;
        EXPECT_EQ(first.err.find("without images"), std::string::npos) << first.err;
        EXPECT_EQ(fs::status(own).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
        // The technician's own edit, written by kvtool.
        std::ofstream(home / "codes.csv") << "Code;Panel;Bus\r\n9753;255;1\r\n";
        ASSERT_EQ(kvtool(home,
                         {"import-csv", (home / "a.kvd").string(), "general_codes", (home / "codes.csv").string(), "-o",
                          (home / "e.kvd").string(), "--append"},
                         {}, c.keychain)
                      .exit,
                  0);
        const Outcome upload =
            kvtool(home, {"upload", "--port", "sim", (home / "e.kvd").string(), "--yes"}, {}, c.keychain);
        EXPECT_EQ(upload.exit, 0) << upload.err;
        EXPECT_EQ(upload.err.find("was made"), std::string::npos) << "said once: " << upload.err;
        const Outcome status = kvtool(home, {"key", "status"}, {}, c.keychain);
        EXPECT_NE(status.out.find("in the key file " + own.string()), std::string::npos) << status.out;
        EXPECT_NE(status.out.find("protected by the file's rights (0600) only"), std::string::npos) << status.out;
        EXPECT_EQ(status.out.find("to-keychain"), std::string::npos) << status.out;
    }
    // The session's keychain answers now: offered, then moved; the file goes
    // and the register's images still open.
    const fs::path home = root / "no session bus", own = home / ".config/Kelvane/data.key";
    const std::string id = kvtool(home, {"key", "status"}, {}, Keychain::NoBus).out.substr(4, 32);
    EXPECT_NE(kvtool(home, {"key", "status"}).out.find("kvtool key to-keychain moves the key there"), std::string::npos);
    const Outcome moved = kvtool(home, {"key", "to-keychain"});
    ASSERT_EQ(moved.exit, 0) << moved.err;
    EXPECT_NE(moved.out.find("key " + id + " is in the system keychain now"), std::string::npos) << moved.out;
    EXPECT_FALSE(fs::exists(own));
    EXPECT_EQ(kvtool(home, {"key", "status"}).out, "key " + id + " in the keychain\n");
    EXPECT_EQ(kvtool(home, {"key", "to-keychain"}).exit, 2);
    const Outcome again = kvtool(home, {"download", "--port", "sim", "-o", (home / "b.kvd").string()});
    EXPECT_EQ(again.exit, 0) << again.err;
    EXPECT_EQ(again.err.find("without images"), std::string::npos) << again.err;
    fs::remove_all(root);
}

TEST(Keychain, TheKeyIsMadeOnceKeptAndReplacedWithThePreviousBeside) {
    ::unsetenv("KELVANE_KEY_FILE");
    const KeyState first = reloadDataKey();
    ASSERT_TRUE(first.key) << first.why;
    EXPECT_EQ(first.source, "the keychain");
    EXPECT_EQ(reloadDataKey().key, first.key);  // made once, then found

    const auto next = kelvane::DataKey::generate();
    std::string why;
    ASSERT_TRUE(storeDataKey(*next, &why)) << why;
    EXPECT_EQ(reloadDataKey().key, next);
    EXPECT_EQ(reloadDataKey().previous, first.key);
    forgetPreviousKey();
    EXPECT_FALSE(reloadDataKey().previous);

    // Switched off: the key of the user's own key file, not the keychain's.
    ::setenv("KELVANE_NO_KEYCHAIN", "1", 1);
    const KeyState off = reloadDataKey();
    ::unsetenv("KELVANE_NO_KEYCHAIN");
    EXPECT_TRUE(off.key && off.inOwnFile && off.source == "the key file " + ownKeyFile()) << off.why;
    EXPECT_NE(off.key, next);
    fs::remove(ownKeyFile());
}

TEST(Keychain, KvtoolKeepsNoSecretAndAColleagueOpensTheImagesAfterAnImport) {
    const fs::path root = fs::temp_directory_path() / ("keychain_test_" + std::to_string(::getpid()));
    const fs::path first = root / "first", second = root / "second";
    fs::create_directories(first);
    fs::create_directories(second);
    const fs::path reg = first / ".local/share/Kelvane/register.sqlite";
    std::ofstream(root / "pass") << "correct horse battery\n";
    std::ofstream(root / "wrong") << "incorrect horse\n";

    const Outcome down = kvtool(first, {"download", "--port", "sim", "-o", (root / "a.kvd").string()});
    ASSERT_EQ(down.exit, 0) << down.err;
    const auto file = kelvane::loadDataFileFrom(root / "a.kvd");
    ASSERT_TRUE(file);
    const auto needles = secretsOf(file->image);
    ASSERT_GT(needles.size(), 10u);
    EXPECT_EQ(leaksIn(first / ".local/share", needles), std::vector<std::string>{});

    const Outcome exported =
        kvtool(first, {"key", "export", (root / "key.exp").string(), "--passphrase-file", (root / "pass").string()});
    ASSERT_EQ(exported.exit, 0) << exported.err;
    const std::string second_key = (second / "data.key").string();
    const std::string registerOption = "--register=" + reg.string();
    const auto exportVisit = [&](const fs::path& home, const std::string& key) {
        const Outcome show = kvtool(home, {"register", "show", "1/4660", "--json", registerOption}, key);
        const auto visits = QJsonDocument::fromJson(QByteArray::fromStdString(show.out)).object()["visitList"].toArray();
        if (visits.isEmpty()) return Outcome{};
        fs::remove(root / "got.kvd");
        return kvtool(home,
                      {"register", "export", "1/4660", std::to_string(visits[0].toObject()["visit"].toInt()), "-o",
                       (root / "got.kvd").string(), registerOption},
                      key);
    };
    EXPECT_NE(exportVisit(second, second_key).exit, 0);  // another key: the image is not opened
    const Outcome wrong =
        kvtool(second, {"key", "import", (root / "key.exp").string(), "--passphrase-file", (root / "wrong").string()},
               second_key);
    EXPECT_EQ(wrong.exit, 2);
    EXPECT_NE(wrong.err.find("wrong passphrase"), std::string::npos) << wrong.err;
    const Outcome imported = kvtool(
        second, {"key", "import", (root / "key.exp").string(), "--passphrase-file", (root / "pass").string()}, second_key);
    ASSERT_EQ(imported.exit, 0) << imported.err;
    ASSERT_EQ(exportVisit(second, second_key).exit, 0);
    EXPECT_EQ(kelvane::loadDataFileFrom(root / "got.kvd")->image, file->image);

    // A rotation seals everything again: the first user still reads it, the
    // colleague's copy of the old key no longer does.
    const Outcome rotated = kvtool(first, {"key", "rotate"});
    ASSERT_EQ(rotated.exit, 0) << rotated.err;
    EXPECT_EQ(exportVisit(first, {}).exit, 0);
    EXPECT_NE(exportVisit(second, second_key).exit, 0);
    EXPECT_EQ(leaksIn(first / ".local/share", needles), std::vector<std::string>{});
    fs::remove_all(root);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
