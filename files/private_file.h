#pragma once
// Files only their owner may read, in folders only their owner may enter:
// traces and logs hold every code the controller sends.
#include "files/atomic_file.h"

#include <cstdio>
#include <string>

namespace kelvane {

// Makes the folder and any missing parents; the folder itself gets owner-only
// permissions (0700 on Unix). False when it cannot be made or is no folder.
bool makePrivateFolder(const std::string& path);

// A text file written a line at a time. open() creates it owner-only (0600 on
// Unix, an access list of the user alone on Windows, where other programs may
// read it but not write while it is open) and empties it (append: keeps what
// it holds). Only a regular file is written: a symbolic link or other reparse
// point, a folder, a device or a FIFO there is refused (a FIFO would hold the
// program until something reads it), and `fault` says so.
// Writes never throw: after the first failure the file takes nothing more and
// failed() says so.
class PrivateFile {
public:
    PrivateFile() = default;
    ~PrivateFile() { close(); }
    PrivateFile(const PrivateFile&) = delete;
    PrivateFile& operator=(const PrivateFile&) = delete;

    bool open(const std::string& path, bool append = false, WriteFault* fault = nullptr);
    bool isOpen() const { return f_ != nullptr; }
    bool failed() const { return failed_; }
    // Writes the text as it stands; flush: hand it to the system at once.
    bool write(const std::string& text, bool flush = true);
    void close();
    long long size() const { return size_; }

private:
    std::FILE* f_ = nullptr;
    bool failed_ = false;
    long long size_ = 0;
};

}  // namespace kelvane
