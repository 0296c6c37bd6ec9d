#pragma once
// Test helpers for real ptys: a socat pty pair, and child processes.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace ptytest {

inline bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string all = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= all.size()) {
        std::size_t end = all.find(':', start);
        if (end == std::string::npos) end = all.size();
        const std::string candidate = all.substr(start, end - start) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// A child process; SIGTERM and reaped when destroyed. With captureStdout its
// standard output can be waited on line by line.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv, bool captureStdout = false) {
        int fds[2] = {-1, -1};
        if (captureStdout && ::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            if (captureStdout) {
                ::dup2(fds[1], 1);
                ::close(fds[0]);
                ::close(fds[1]);
            }
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        if (captureStdout) {
            ::close(fds[1]);
            out_ = fds[0];
        }
    }
    ~Child() {
        stop();
        if (out_ >= 0) ::close(out_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }

    // Waits up to timeoutMs for a line of output equal to `text`.
    bool waitForLine(const std::string& text, int timeoutMs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string line;
        ::fcntl(out_, F_SETFL, O_NONBLOCK);
        while (std::chrono::steady_clock::now() < until) {
            char c;
            const ssize_t r = ::read(out_, &c, 1);
            if (r == 1) {
                if (c == '\n') {
                    if (line == text) return true;
                    line.clear();
                } else {
                    line += c;
                }
            } else if (r == 0) {
                return false;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        return false;
    }

    // SIGTERM, then waits; returns the exit status (-1 if it did not run).
    int stop() {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

// Two linked ptys made by socat: one end for the program, one for the far end.
class PtyPair {
public:
    PtyPair() {
        char tmpl[] = "/tmp/kelvane-pty-XXXXXX";
        if (!::mkdtemp(tmpl)) return;
        dir_ = tmpl;
        socat_ = std::make_unique<Child>(
            std::vector<std::string>{"socat", "pty,raw,echo=0,link=" + appPath(), "pty,raw,echo=0,link=" + devPath()});
        for (int i = 0; i < 200 && !ready(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~PtyPair() {
        socat_.reset();
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    bool ready() const {
        struct stat st;
        return !dir_.empty() && ::stat(appPath().c_str(), &st) == 0 && ::stat(devPath().c_str(), &st) == 0;
    }
    std::string appPath() const { return dir_ + "/app"; }
    std::string devPath() const { return dir_ + "/dev"; }
    std::string file(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
    std::unique_ptr<Child> socat_;
};

}  // namespace ptytest
