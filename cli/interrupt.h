#pragma once
// Ctrl-C (SIGINT on Unix, the console's Ctrl-C or Ctrl-Break on Windows).
// While nothing is on the line the first Ctrl-C ends the tool at once with
// exit code 130. While a transfer runs the first Ctrl-C asks it to stop the
// way Esc does in the windows (the transfer decides what it still sends), and
// a second Ctrl-C ends the tool at once.
#include <functional>
#include <string>

namespace kelvane::cli::interrupt {

// Installs the handler and the thread that runs cancel actions.
void install();
// While a Guard lives, the first Ctrl-C runs `cancel` (on another thread)
// instead of ending the tool; a second one writes `note` (one line, when
// given) to stderr as it ends the tool.
class Guard {
public:
    explicit Guard(std::function<void()> cancel, const std::string& note = {});
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};
// True once a Ctrl-C asked for a stop.
bool requested();

}  // namespace kelvane::cli::interrupt
