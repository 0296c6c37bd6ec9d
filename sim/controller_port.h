#pragma once
// The built-in simulator port: one simulated controller for the whole
// process, reached in real time through a virtual line, one user at a time
// like a real port opened exclusively. Lets the program be tried without
// hardware.
#include "sim/controller.h"

#include <memory>
#include <mutex>
#include <string>

namespace kelvane::sim {

class ControllerPort : public link::Line {
public:
    // portName: the only name open() accepts. clock: the wall clock unless a
    // test gives another.
    explicit ControllerPort(std::string portName, link::Clock& clock = link::systemClock());
    ~ControllerPort() override;

    // Sets the shared controller's image the first time only (later calls
    // keep what earlier sessions uploaded).
    static void preload(const Controller::Image& image);
    // Runs f on the shared controller while no port holds it; false if one does.
    template <class F>
    static bool withController(F&& f) {
        Controller* c = acquire();
        if (!c) return false;
        f(*c);
        release();
        return true;
    }
    // Bytes take their line time (off by default: the simulator answers at once).
    static void setPaced(bool paced);

    bool open(const std::string& name) override;
    link::OpenFailure openFailure() const override { return openFailure_; }
    bool isOpen() const override;
    void close() override;
    void setLine(const link::LineSettings& s) override;
    void setTimeouts(const link::Timeouts& t) override;
    std::size_t read(std::uint8_t* buf, std::size_t n) override;
    std::size_t write(const std::uint8_t* data, std::size_t n) override;
    void purgeInput() override;
    void purgeOutput() override;
    void interrupt() override;
    void resetInterrupt() override;

private:
    static Controller* acquire();  // null when held
    static void release();

    std::string name_;
    link::Clock& clock_;
    std::unique_ptr<VirtualLine> line_;  // while open
    link::OpenFailure openFailure_ = link::OpenFailure::None;
    std::mutex lineMutex_;  // line_ against interrupt() from other threads
    std::atomic<bool> interrupted_{false};
    link::LineSettings settings_;
    link::Timeouts timeouts_;
};

}  // namespace kelvane::sim
