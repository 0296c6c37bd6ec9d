#include "cli/interrupt.h"

#include <atomic>
#include <csignal>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace kelvane::cli::interrupt {

namespace {

std::atomic<int> g_signals{0};
std::atomic<bool> g_guarded{false};
int g_pipe[2] = {-1, -1};
std::mutex g_mutex;
std::function<void()> g_cancel;

extern "C" void onSigint(int) {
    const int n = ++g_signals;
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

Guard::Guard(std::function<void()> cancel) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_cancel = std::move(cancel);
    g_guarded = true;
    // A Ctrl-C that came just before the guard still counts.
    if (g_signals.load() > 0 && g_cancel) g_cancel();
}

Guard::~Guard() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_guarded = false;
    g_cancel = nullptr;
}

bool requested() { return g_signals.load() > 0; }

}  // namespace kelvane::cli::interrupt
