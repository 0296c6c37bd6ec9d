#pragma once
// The options both simulator servers share, and the port they serve:
//   --pty-link PATH   make a pty of its own and link PATH to the end the
//                     program under test opens (no socat needed)
//   --port PATH       serve an existing device instead (one end of a socat pair)
//   --pace [BAUD]     bytes take their line time; BAUD replaces the line's speed
//   --dump FILE       where the server writes what the device holds at the end
//   --latency-ms N    answers reach the program N ms late, as through a USB adapter
//   --help            every option explained, exit 0
#include <string>

namespace kelvane::sim {

struct ServerOptions {
    std::string port;     // --port
    std::string ptyLink;  // --pty-link
    std::string dump;     // --dump
    bool pace = false;    // --pace
    int baud = 0;         // --pace BAUD; 0: the server's own default
    int latencyMs = 0;    // --latency-ms
    bool help = false;    // --help
};

enum class OptionResult { Taken, NotShared, Bad };

// Reads the shared option at argv[i] (and its value, advancing i).
OptionResult readSharedOption(int argc, char** argv, int& i, ServerOptions& options);

// The help lines of the shared options.
extern const char* const kSharedOptionsHelp;

// Opens the served port: the device named by --port, or a new pty whose far
// end --pty-link names. Raw mode, non-blocking. Prints why and returns -1 on
// failure. keepFarEnd holds the pty's far end open (so no hang-up shows
// before the program under test opens it); close it and unlink the link at
// the end (closeServedPort).
int openServedPort(const ServerOptions& options, const char* program, int& keepFarEnd);
void closeServedPort(const ServerOptions& options, int fd, int keepFarEnd);

}  // namespace kelvane::sim
