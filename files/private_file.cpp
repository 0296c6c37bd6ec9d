#include "files/private_file.h"

#include "files/atomic_file.h"

#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane {

namespace fs = std::filesystem;

bool MakePrivateFolder(const std::string& path) { return MakePrivateFolder(PathFromUtf8(path)); }

bool PrivateFile::open(const std::string& path, bool append) {
    close();
    failed_ = false;
#ifdef _WIN32
    // The name as UTF-16: a user folder such as C:\Users\Michał is not
    // representable in the 8-bit code page.
    f_ = ::_wfopen(PathFromUtf8(path).c_str(), append ? L"ab" : L"wb");
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (append ? O_APPEND : O_TRUNC),
                          S_IRUSR | S_IWUSR);
    if (fd < 0) return false;
    // A file that was there before keeps its content but not wider
    // permissions; a device or pipe named by the user (/dev/stderr) is
    // written as it is and never changed.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd, S_IRUSR | S_IWUSR);
    f_ = ::fdopen(fd, append ? "ab" : "wb");
    if (!f_) ::close(fd);
#endif
    if (!f_) return false;
    std::error_code error;
    size_ = append ? static_cast<long long>(fs::file_size(PathFromUtf8(path), error)) : 0;
    if (error) size_ = 0;
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
