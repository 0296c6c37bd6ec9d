#include "link/command_frame.h"

namespace kelvane::link {

std::uint8_t commandChecksum(std::string_view seven) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < 7; ++i) sum += i < seven.size() ? static_cast<std::uint8_t>(seven[i]) : 0u;
    return static_cast<std::uint8_t>((256u - (sum & 0xFFu)) & 0xFFu);
}

Command makeCommand(std::string_view seven) {
    Command c{};
    for (std::size_t i = 0; i < 7 && i < seven.size(); ++i) c[i] = static_cast<std::uint8_t>(seven[i]);
    c[7] = commandChecksum(seven);
    return c;
}

Command startDownloadCommand() { return makeCommand("DebMem6"); }
Command startUploadCommand() { return makeCommand("DebMem7"); }

}  // namespace kelvane::link
