#pragma once
// The program log: warnings and errors, one line each with the local time,
// beside the traces. When it passes maxBytes it becomes "<name>.1" (the one
// before that goes) and a new one begins. A log that cannot be written is
// left alone: logging never stops the program.
#include <mutex>
#include <string>
#include <vector>

namespace kelvane {

// Every password a database connection string in `text` holds, as written: a
// URI's user:password@ and the values of password= and sslpassword= (quoted
// or not). A doubtful case is taken as a password.
std::vector<std::string> connectionSecrets(const std::string& text);
// `text` with each of them replaced by "***": what the log, the support
// bundle and an error show of a connection string.
std::string maskConnectionSecrets(const std::string& text);

class ProgramLog {
public:
    explicit ProgramLog(std::string path, long long maxBytes = 1024 * 1024)
        : path_(std::move(path)), maxBytes_(maxBytes) {}

    // level: "warning", "error"... Connection strings' passwords are masked. Thread-safe.
    void add(const std::string& level, const std::string& text);
    const std::string& path() const { return path_; }

private:
    std::mutex mutex_;
    std::string path_;
    long long maxBytes_;
};

}  // namespace kelvane
