#include "files/private_file.h"

#include "files/atomic_file.h"

#include <cerrno>
#include <filesystem>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane {

namespace fs = std::filesystem;

#ifdef _WIN32
namespace {

// An access list that lets the user running the program, and nobody else,
// open the file: the Windows form of 0600. Empty when the process token
// cannot be read.
class OwnerOnlyAccess {
public:
    OwnerOnlyAccess() {
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        DWORD needed = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
        std::vector<unsigned char> user(needed);
        const bool known = needed > 0 && ::GetTokenInformation(token, TokenUser, user.data(), needed, &needed);
        ::CloseHandle(token);
        if (!known) return;
        const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + ::GetLengthSid(sid));
        ACL* acl = reinterpret_cast<ACL*>(acl_.data());
        if (!::InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
            !::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
            !::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
            !::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
            acl_.clear();
            return;
        }
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    OwnerOnlyAccess(const OwnerOnlyAccess&) = delete;  // the descriptor points into acl_
    OwnerOnlyAccess& operator=(const OwnerOnlyAccess&) = delete;
    bool known() const { return !acl_.empty(); }
    // For a file being made: it is private from its first moment.
    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }
    // For a file that was there before: what the folder or an earlier
    // program let others do is taken away, inherited rights too. A volume
    // that keeps no access lists (FAT on a memory stick a trace is written
    // to) has none to set.
    bool apply(HANDLE file) {
        DWORD volumeFlags = 0;
        if (::GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &volumeFlags, nullptr, 0) &&
            !(volumeFlags & FILE_PERSISTENT_ACLS))
            return true;
        return ::SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, reinterpret_cast<ACL*>(acl_.data()), nullptr) == ERROR_SUCCESS;
    }

private:
    std::vector<unsigned char> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

// A plain file on a disk: not a link or other reparse point (they are
// opened as themselves, never followed), not a folder, a device or a pipe.
bool isPlainFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

}  // namespace
#endif

bool makePrivateFolder(const std::string& path) { return makePrivateFolder(pathFromUtf8(path)); }

bool PrivateFile::open(const std::string& path, bool append, WriteFault* fault) {
    close();
    failed_ = false;
    const auto refuse = [fault](WriteFault why) {
        if (fault) *fault = why;
        return false;
    };
#ifdef _WIN32
    // Looked at first, without following a link: a device name, a folder or
    // a link is never opened for writing.
    const fs::path name = pathFromUtf8(path);
    std::error_code error;
    const fs::file_status status = fs::symlink_status(name, error);
    if (fs::exists(status) && !fs::is_regular_file(status)) return refuse(WriteFault::NotRegular);
    OwnerOnlyAccess access;
    if (!access.known()) return refuse(WriteFault::Failed);
    // Opened as itself (a reparse point planted since is not followed but
    // refused below), kept from other writers while it is open, and emptied
    // only once it is known to be a plain file. The name stays UTF-16: a user
    // folder such as C:\Users\Michał is not representable in the 8-bit code page.
    const HANDLE file =
        ::CreateFileW(name.c_str(), GENERIC_WRITE | READ_CONTROL | WRITE_DAC, FILE_SHARE_READ, access.attributes(),
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return refuse(WriteFault::Failed);
    if (!isPlainFile(file)) {
        ::CloseHandle(file);
        return refuse(WriteFault::NotRegular);
    }
    // A file that was there before keeps its content but not wider rights.
    LARGE_INTEGER length{};
    if (!access.apply(file) || (!append && !::SetEndOfFile(file)) || !::GetFileSizeEx(file, &length)) {
        ::CloseHandle(file);
        return refuse(WriteFault::Failed);
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | (append ? _O_APPEND : 0));
    if (fd < 0) {
        ::CloseHandle(file);
        return refuse(WriteFault::Failed);
    }
    const long long held = length.QuadPart;
#else
    // Opened without waiting for a reader (a FIFO) and looked at through the
    // descriptor; emptied only once it is known to be a regular file.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (append ? O_APPEND : 0),
                          S_IRUSR | S_IWUSR);
    if (fd < 0) {
        const bool other = errno == ELOOP || errno == EISDIR || errno == ENXIO || errno == ENODEV;
        return refuse(other ? WriteFault::NotRegular : WriteFault::Failed);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse(WriteFault::NotRegular);
    }
    // A file that was there before keeps its content but not wider permissions.
    if ((!append && ::ftruncate(fd, 0) != 0) || ::fchmod(fd, S_IRUSR | S_IWUSR) != 0 ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return refuse(WriteFault::Failed);
    }
    const long long held = st.st_size;
#endif
    f_ = ::fdopen(fd, append ? "ab" : "wb");
    if (!f_) {
        ::close(fd);
        return refuse(WriteFault::Failed);
    }
    size_ = append ? held : 0;
    if (fault) *fault = WriteFault::None;
    return true;
}

bool PrivateFile::write(const std::string& text, bool flush) {
    if (!f_ || failed_) return false;
    if (std::fwrite(text.data(), 1, text.size(), f_) != text.size() || (flush && std::fflush(f_) != 0)) {
        failed_ = true;
        return false;
    }
    size_ += static_cast<long long>(text.size());
    return true;
}

void PrivateFile::close() {
    if (!f_) return;
    if (std::fclose(f_) != 0) failed_ = true;
    f_ = nullptr;
}

}  // namespace kelvane
