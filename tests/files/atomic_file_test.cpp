// The one file writer: what it refuses, what it leaves behind when it fails,
// and the modes and owners of what it writes. Some cases need a second user
// and run only as root.
#include "files/atomic_file.h"
#include "files/private_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <iterator>
#include <random>

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using kelvane::WriteFault;

namespace {

std::string contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

// A fresh folder under the test's temporary folder.
struct Folder {
    fs::path dir;
    Folder() : dir(fs::path(testing::TempDir()) / ("writer_" + std::to_string(std::random_device{}()))) {
        fs::create_directories(dir);
    }
    ~Folder() { fs::remove_all(dir); }
};

}  // namespace

#ifdef _WIN32
namespace {

// True when every entry of the file's access list lets only the user running
// the test in, and none comes from the folder.
bool usersAlone(const fs::path& p) {
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    unsigned char user[256];
    DWORD size = 0;
    const bool known = ::GetTokenInformation(token, TokenUser, user, sizeof user, &size);
    ::CloseHandle(token);
    ACL* acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!known || ::GetNamedSecurityInfoW(p.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                          nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool alone = acl != nullptr && acl->AceCount > 0;
    for (DWORD i = 0; alone && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        alone =
            ::GetAce(acl, i, &ace) && static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE &&
            !(static_cast<ACE_HEADER*>(ace)->AceFlags & INHERITED_ACE) &&
            ::EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
    }
    ::LocalFree(descriptor);
    return alone;
}

// Wine makes a file's access list up from its Unix mode instead of keeping
// the one set: there the list is not checked, only on Windows itself.
bool underWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

// Traces and logs go only into a plain file, made the user's alone; a link is
// refused, never followed, and what a file held is kept only when appending.
TEST(PrivateFile, OnlyAPlainFileIsOpenedAndItIsTheUsersAlone) {
    Folder f;
    put(f.dir / "old.trace", "old");
    put(f.dir / "elsewhere.trace", "kept");
    std::error_code noLinks;
    fs::create_symlink(f.dir / "elsewhere.trace", f.dir / "link.trace", noLinks);
    const struct {
        fs::path path;
        bool append;
        WriteFault fault;
        std::string after;
    } cases[] = {{f.dir / "old.trace", true, WriteFault::None, "old+"},
                 {f.dir / "old.trace", false, WriteFault::None, "+"},
                 {f.dir / "new.trace", true, WriteFault::None, "+"},
                 {f.dir, false, WriteFault::NotRegular, ""},
                 {"NUL", false, WriteFault::NotRegular, ""},
                 {f.dir / "link.trace", true, WriteFault::NotRegular, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string() + (c.append ? " appended" : ""));
        if (noLinks && c.path.filename() == "link.trace") {
            std::cout << "no symbolic links here: " << noLinks.message() << '\n';
            continue;
        }
        WriteFault fault = WriteFault::Failed;
        kelvane::PrivateFile file;
        EXPECT_EQ(file.open(kelvane::pathToUtf8(c.path), c.append, &fault), c.fault == WriteFault::None);
        EXPECT_EQ(fault, c.fault);
        if (c.fault != WriteFault::None) continue;
        EXPECT_EQ(file.size(), static_cast<long long>(c.after.size()) - 1);
        EXPECT_TRUE(file.write("+"));
        file.close();
        EXPECT_EQ(contents(c.path), c.after);
        if (!underWine()) {
            EXPECT_TRUE(usersAlone(c.path));
        }
    }
    if (underWine()) std::cout << "access lists not checked: Wine does not keep them\n";
    EXPECT_EQ(contents(f.dir / "elsewhere.trace"), "kept");
}

#else

namespace {

constexpr uid_t kOtherUser = 65534;  // nobody

std::size_t entries(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

mode_t modeOf(const fs::path& p) {
    struct stat st {};
    ::lstat(p.c_str(), &st);
    return st.st_mode & 07777;
}

bool root() { return ::geteuid() == 0; }

// Runs `body` in a child process and gives its exit status.
int inChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST(AtomicFile, ReplacedFileKeepsItsPermissionsAndItsLink) {
    Folder f;
    const fs::path file = f.dir / "private.kvd", link = f.dir / "link.kvd";
    for (bool viaLink : {false, true}) {
        SCOPED_TRACE(viaLink ? "through a link" : "the file itself");
        ASSERT_TRUE(kelvane::writeFileAtomically(file, "old", 3));
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        if (viaLink) fs::create_symlink(file.filename(), link);
        ASSERT_TRUE(kelvane::writeFileAtomically(viaLink ? link : file, "new", 3));
        EXPECT_EQ(contents(file), "new");
        EXPECT_EQ(modeOf(file), 0640u);
        EXPECT_EQ(fs::is_symlink(link), viaLink);
        EXPECT_EQ(entries(f.dir), viaLink ? 2u : 1u);
    }
}

TEST(AtomicFile, TargetsThatAreNotAWritableFileAreRefusedAndLeftAsTheyWere) {
    struct Case {
        const char* what;
        // Makes the target in the folder; returns it.
        std::function<fs::path(const fs::path& dir)> make;
        WriteFault fault;
        bool needsRoot;
    };
    const Case cases[] = {
        {"a FIFO",
         [](const fs::path& d) {
             ::mkfifo((d / "t").c_str(), 0600);
             return d / "t";
         },
         WriteFault::NotRegular, false},
        {"a device node",
         [](const fs::path& d) {
             ::mknod((d / "t").c_str(), S_IFCHR | 0666, makedev(1, 3));
             return d / "t";
         },
         WriteFault::NotRegular, true},
        {"a folder",
         [](const fs::path& d) {
             fs::create_directory(d / "t");
             return d / "t";
         },
         WriteFault::NotRegular, false},
        {"a dangling link",
         [](const fs::path& d) {
             fs::create_symlink("nothing", d / "t");
             return d / "t";
         },
         WriteFault::NotRegular, false},
        {"a read-only file",
         [](const fs::path& d) {
             put(d / "t", "old");
             fs::permissions(d / "t", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
             return d / "t";
         },
         WriteFault::ReadOnly, false},
        {"a stranger's link in a sticky folder everyone writes into",
         [](const fs::path& d) {
             put(d / "victim", "old");
             fs::create_directory(d / "shared");
             ::chmod((d / "shared").c_str(), 01777);
             fs::create_symlink(d / "victim", d / "shared" / "t");
             ::lchown((d / "shared" / "t").c_str(), kOtherUser, kOtherUser);
             return d / "shared" / "t";
         },
         WriteFault::UnsafeLink, true},
        {"a missing folder", [](const fs::path& d) { return d / "no" / "t"; }, WriteFault::NoFolder, false},
        {"an empty name", [](const fs::path&) { return fs::path(); }, WriteFault::NotRegular, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && !root()) continue;
        Folder f;
        const fs::path target = c.make(f.dir);
        const auto before = fs::symlink_status(target);
        const std::size_t count = entries(f.dir);
        EXPECT_EQ(kelvane::checkWriteTarget(target), c.fault);
        EXPECT_EQ(kelvane::writeFileSafely(target, "new", 3), c.fault);
        EXPECT_EQ(fs::symlink_status(target).type(), before.type());
        EXPECT_EQ(entries(f.dir), count) << "nothing left behind";
        if (fs::exists(f.dir / "victim")) {
            EXPECT_EQ(contents(f.dir / "victim"), "old");
        }
        if (fs::is_regular_file(fs::symlink_status(target))) {
            EXPECT_EQ(contents(target), "old");
        }
    }
}

TEST(AtomicFile, APlantedTemporaryNameOrOwnLinkInASharedFolderDoNotMisleadIt) {
    Folder f;
    // A link planted at the very name the writer tries first: that name is
    // skipped, never written through, and the next one is used.
    put(f.dir / "victim", "old");
    fs::create_symlink(f.dir / "victim", f.dir / ".t1");
    int attempt = 0;
    kelvane::detail::setTemporaryNamesForTests([&] { return ".t" + std::to_string(++attempt); });
    EXPECT_EQ(kelvane::writeFileSafely(f.dir / "codes.kvd", "new", 3), WriteFault::None);
    kelvane::detail::setTemporaryNamesForTests({});
    EXPECT_EQ(attempt, 2);
    EXPECT_EQ(contents(f.dir / "victim"), "old");
    EXPECT_EQ(contents(f.dir / "codes.kvd"), "new");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(f.dir / "codes.kvd")));
    EXPECT_TRUE(fs::is_symlink(f.dir / ".t1"));
    // The writer's own link in a sticky shared folder is followed, as the kernel would.
    fs::create_directory(f.dir / "shared");
    ::chmod((f.dir / "shared").c_str(), 01777);
    fs::create_symlink(f.dir / "codes.kvd", f.dir / "shared" / "mine.kvd");
    EXPECT_EQ(kelvane::writeFileSafely(f.dir / "shared" / "mine.kvd", "newer", 5), WriteFault::None);
    EXPECT_EQ(contents(f.dir / "codes.kvd"), "newer");
}

TEST(AtomicFile, NewFilesAndFoldersAreTheOwnersAloneAndReplacedOnesKeepModeAndOwner) {
    Folder f;
    const mode_t old = ::umask(022);
    EXPECT_TRUE(kelvane::writeFileAtomically(f.dir / "new.kvd", "x", 1));
    EXPECT_EQ(modeOf(f.dir / "new.kvd"), 0600u);
    put(f.dir / "shared.kvd", "x");
    ::chmod((f.dir / "shared.kvd").c_str(), 0664);
    EXPECT_TRUE(kelvane::writeFileAtomically(f.dir / "shared.kvd", "y", 1));
    EXPECT_EQ(modeOf(f.dir / "shared.kvd"), 0664u);
    // A file of secrets is the owner's alone whatever was there before.
    put(f.dir / "bundle.zip", "x");
    ::chmod((f.dir / "bundle.zip").c_str(), 0644);
    EXPECT_EQ(kelvane::writeFileSafely(f.dir / "bundle.zip", "y", 1, kelvane::FileAccess::OwnerOnly), WriteFault::None);
    EXPECT_EQ(modeOf(f.dir / "bundle.zip"), 0600u);
    // A folder made, and one that others could enter, end up the owner's alone.
    EXPECT_TRUE(kelvane::makePrivateFolder(f.dir / "backups" / "deep"));
    EXPECT_EQ(modeOf(f.dir / "backups" / "deep"), 0700u);
    EXPECT_EQ(modeOf(f.dir / "backups"), 0700u) << "the parent it made, too";
    ::chmod((f.dir / "backups").c_str(), 0755);
    EXPECT_TRUE(kelvane::makePrivateFolder(f.dir / "backups"));
    EXPECT_EQ(modeOf(f.dir / "backups"), 0700u);
    EXPECT_FALSE(kelvane::makePrivateFolder(f.dir / "new.kvd"));
    ::umask(old);
    if (root()) {
        // Root replacing a user's file leaves it the user's.
        ASSERT_EQ(::chown((f.dir / "shared.kvd").c_str(), kOtherUser, kOtherUser), 0);
        EXPECT_TRUE(kelvane::writeFileAtomically(f.dir / "shared.kvd", "z", 1));
        struct stat st {};
        ::stat((f.dir / "shared.kvd").c_str(), &st);
        EXPECT_EQ(st.st_uid, kOtherUser);
    }
}

// Traces and logs go only into a regular file, emptied and made the owner's;
// anything else there is refused at once, without waiting for a FIFO's reader.
TEST(PrivateFile, OnlyARegularFileIsOpenedAndNothingWaits) {
    Folder f;
    put(f.dir / "old.trace", "old");
    ::chmod((f.dir / "old.trace").c_str(), 0644);
    ::mkfifo((f.dir / "fifo").c_str(), 0600);
    fs::create_symlink(f.dir / "old.trace", f.dir / "link.trace");
    const struct {
        fs::path path;
        WriteFault fault;
    } cases[] = {{f.dir / "old.trace", WriteFault::None},
                 {f.dir / "fifo", WriteFault::NotRegular},
                 {f.dir, WriteFault::NotRegular},
                 {"/dev/null", WriteFault::NotRegular},
                 {f.dir / "link.trace", WriteFault::NotRegular}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        WriteFault fault = WriteFault::Failed;
        kelvane::PrivateFile file;
        auto opened = std::async(std::launch::async, [&] { return file.open(c.path.string(), false, &fault); });
        if (opened.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
            ADD_FAILURE() << "open waited";
            ::close(::open((f.dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK));
        }
        EXPECT_EQ(opened.get(), c.fault == WriteFault::None);
        EXPECT_EQ(fault, c.fault);
    }
    EXPECT_EQ(contents(f.dir / "old.trace"), "");
    EXPECT_EQ(modeOf(f.dir / "old.trace"), 0600u);
}

// A file of exactly the limit is read; one byte more is refused before any of
// it is read (where the file system records reads in the access time).
TEST(AtomicFile, ReadsUpToTheLimitAndRefusesALargerFileUnread) {
    Folder f;
    const fs::path file = f.dir / "t.csv";
    constexpr std::size_t kLimit = 10000;
    const auto readAfterStale = [&](std::size_t size, std::string& bytes, bool& accessed) {
        put(file, std::string(size, 'x'));
        const timespec stale[2] = {{1000000000, 0}, {0, UTIME_OMIT}};  // read long ago, written now
        ::utimensat(AT_FDCWD, file.c_str(), stale, 0);
        const kelvane::ReadFault fault = kelvane::readFileBounded(file, kLimit, bytes);
        struct stat st {};
        ::stat(file.c_str(), &st);
        accessed = st.st_atim.tv_sec != 1000000000;
        return fault;
    };
    std::string bytes;
    bool accessed = false;
    EXPECT_EQ(readAfterStale(kLimit, bytes, accessed), kelvane::ReadFault::None);
    EXPECT_EQ(bytes.size(), kLimit);
    const bool recordsReads = accessed;
    EXPECT_EQ(readAfterStale(kLimit + 1, bytes, accessed), kelvane::ReadFault::TooLarge);
    EXPECT_TRUE(bytes.empty());
    if (recordsReads) {
        EXPECT_FALSE(accessed) << "refused before reading";
    }
}

TEST(AtomicFile, AShortWriteOrAFailedRenameKeepsTheOldFileAndLeavesNothing) {
    Folder f;
    const fs::path file = f.dir / "codes.kvd";
    put(file, "old");
    // A full disk, as a file-size limit: the write stops part-way.
    const std::string big(64 * 1024, 'n');
    EXPECT_EQ(inChild([&] {
                  ::signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{4096, 4096};
                  ::setrlimit(RLIMIT_FSIZE, &limit);
                  return kelvane::writeFileSafely(file, big.data(), big.size()) == WriteFault::Failed ? 0 : 1;
              }),
              0);
    EXPECT_EQ(contents(file), "old");
    EXPECT_EQ(entries(f.dir), 1u);
    if (!root()) return;
    // Another user's file in a sticky folder: that user may write it, but not
    // rename over it, so the temporary file is made and must go again.
    ::chmod(f.dir.c_str(), 01777);
    ::chmod(file.c_str(), 0666);
    EXPECT_EQ(inChild([&] {
                  if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) return 2;
                  return kelvane::writeFileSafely(file, "new", 3) == WriteFault::Failed ? 0 : 1;
              }),
              0);
    EXPECT_EQ(contents(file), "old");
    EXPECT_EQ(entries(f.dir), 1u);
}
#endif
