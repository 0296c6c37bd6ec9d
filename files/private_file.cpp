#include "files/private_file.h"

#include "files/atomic_file.h"

#include <cerrno>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane {

namespace fs = std::filesystem;

bool makePrivateFolder(const std::string& path) { return makePrivateFolder(pathFromUtf8(path)); }

bool PrivateFile::open(const std::string& path, bool append, WriteFault* fault) {
    close();
    failed_ = false;
    const auto refuse = [fault](WriteFault why) {
        if (fault) *fault = why;
        return false;
    };
#ifdef _WIN32
    // Looked at first: a device name or a folder is never opened for writing.
    std::error_code error;
    const fs::file_status status = fs::status(pathFromUtf8(path), error);
    if (fs::exists(status) && !fs::is_regular_file(status)) return refuse(WriteFault::NotRegular);
    // The name as UTF-16: a user folder such as C:\Users\Michał is not
    // representable in the 8-bit code page.
    f_ = ::_wfopen(pathFromUtf8(path).c_str(), append ? L"ab" : L"wb");
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
    f_ = ::fdopen(fd, append ? "ab" : "wb");
    if (!f_) ::close(fd);
#endif
    if (!f_) return refuse(WriteFault::Failed);
    std::error_code sizeError;
    size_ = append ? static_cast<long long>(fs::file_size(pathFromUtf8(path), sizeError)) : 0;
    if (sizeError) size_ = 0;
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
