#pragma once
// What a simulator server writes to its port, each byte at the time it would
// reach the program over the real line, and the loop that serves the port:
// reads what the program sends, hands it to the device, writes the answers
// on time. Shared by kelvane_sim and orva_bootloader_sim.
#include "sim/controller.h"

#include <csignal>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace kelvane::sim {

std::int64_t monotonicNs();
// Sleeps to 0.2 ms before t, then spins: a paced answer must leave on time,
// not a scheduler wake-up later (a real controller answers in hardware time).
void sleepUntilNs(std::int64_t t);

class PacedOutput {
public:
    // Queues an answer: its first piece starts once startNs has come and what
    // is queued has gone out; each piece waits its gap, each byte takes byteNs
    // (0: unpaced), and every byte reaches the program latencyNs after that.
    // Returns when the answer's last byte reaches the program.
    std::int64_t queue(const Controller::Answer& answer, std::int64_t startNs, std::int64_t byteNs, std::int64_t latencyNs);
    // Queues bytes that reach the program together at atNs.
    void queueAt(std::int64_t atNs, const std::vector<std::uint8_t>& bytes);
    // Writes every byte that is due at nowNs; false when the port failed.
    bool writeDue(int fd, std::int64_t nowNs);
    bool empty() const { return out_.empty(); }
    std::int64_t nextDueNs() const { return out_.empty() ? -1 : out_.front().atNs; }

private:
    struct Out {
        std::int64_t atNs;
        std::uint8_t byte;
    };
    std::deque<Out> out_;
    std::int64_t lineDoneNs_ = 0;  // when the last queued byte has left
};

enum class ServeEnd { Done, Stopped, HungUp };

// Serves fd until received() or idle() says the device is done (once the
// output has gone out), stop becomes set, or the far end goes away. received
// gets the bytes the program sent and when they were read; idle runs at least
// every 100 ms. Answers leave on time to the microsecond: one due within
// 5 ms is waited for without reading in between.
struct ServeHooks {
    std::function<bool(const std::uint8_t* data, std::size_t n, std::int64_t readNs)> received;
    std::function<bool(std::int64_t nowNs)> idle;
};
ServeEnd servePort(int fd, PacedOutput& out, const ServeHooks& hooks, const volatile std::sig_atomic_t* stop);

// Writes bytes to path through a temporary file renamed over it, so a reader
// never sees half a dump.
void writeDump(const std::string& path, const std::uint8_t* data, std::size_t size);
// Reads the first size bytes of path; false when it has fewer.
bool readPrefix(const std::string& path, std::uint8_t* data, std::size_t size);

}  // namespace kelvane::sim
