#pragma once
// Ctrl-C. While nothing is on the line the first SIGINT ends the tool at once
// with exit code 130. While a transfer runs the first SIGINT asks it to stop
// the way Esc does in the windows (the transfer decides what it still sends),
// and a second SIGINT ends the tool at once.
#include <functional>

namespace kelvane::cli::interrupt {

// Installs the handler and the thread that runs cancel actions.
void install();
// While a Guard lives, the first SIGINT runs `cancel` (on another thread)
// instead of ending the tool.
class Guard {
public:
    explicit Guard(std::function<void()> cancel);
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};
// True once a SIGINT asked for a stop.
bool requested();

}  // namespace kelvane::cli::interrupt
