#include "cli/interrupt.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#include <cstdlib>
#else
#include <csignal>
#include <thread>
#include <unistd.h>
#endif

namespace kelvane::cli::interrupt {

namespace {

std::atomic<int> g_signals{0};
std::atomic<bool> g_guarded{false};
std::mutex g_mutex;
std::function<void()> g_cancel;
// What a second Ctrl-C says, kept where the handler may read it.
char g_note[512];
std::atomic<std::size_t> g_noteLength{0};

void sayNote() {
    const std::size_t n = g_noteLength.load();
#ifdef _WIN32
    if (n) std::fwrite(g_note, 1, n, stderr);
#else
    if (n) {
        [[maybe_unused]] ssize_t w = ::write(2, g_note, n);
    }
#endif
}

#ifdef _WIN32

// Windows calls the handler on a thread of its own, so it may take the lock
// and run the cancel action itself.
BOOL WINAPI onCtrl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    const int n = ++g_signals;
    if (n >= 2 && g_guarded.load()) sayNote();
    if (n >= 2 || !g_guarded.load()) std::_Exit(130);
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_cancel) g_cancel();
    return TRUE;
}

}  // namespace

void install() { ::SetConsoleCtrlHandler(onCtrl, TRUE); }

#else

int g_pipe[2] = {-1, -1};

extern "C" void onSigint(int) {
    const int n = ++g_signals;
    if (n >= 2 && g_guarded.load()) sayNote();
    if (n >= 2 || !g_guarded.load()) ::_exit(130);
    const char byte = 1;
    [[maybe_unused]] ssize_t w = ::write(g_pipe[1], &byte, 1);
}

void watch() {
    char byte;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_cancel) g_cancel();
    }
}

}  // namespace

void install() {
    if (::pipe(g_pipe) != 0) return;
    std::thread(watch).detach();
    struct sigaction sa {};
    sa.sa_handler = onSigint;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
}

#endif

Guard::Guard(std::function<void()> cancel, const std::string& note) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_noteLength = 0;
    const std::size_t n = std::min(note.size(), sizeof g_note);
    std::memcpy(g_note, note.data(), n);
    g_noteLength = n;
    g_cancel = std::move(cancel);
    g_guarded = true;
    // A Ctrl-C that came just before the guard still counts.
    if (g_signals.load() > 0 && g_cancel) g_cancel();
}

Guard::~Guard() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_guarded = false;
    g_noteLength = 0;
    g_cancel = nullptr;
}

bool requested() { return g_signals.load() > 0; }

}  // namespace kelvane::cli::interrupt
