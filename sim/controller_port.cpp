#include "sim/controller_port.h"

#include <mutex>

namespace kelvane::sim {
namespace {

struct Shared {
    std::mutex mutex;
    bool held = false;
    bool preloaded = false;
    bool paced = false;
    Controller controller;
};

Shared& shared() {
    static Shared s;
    return s;
}

}  // namespace

ControllerPort::ControllerPort(std::string portName, link::Clock& clock) : name_(std::move(portName)), clock_(clock) {}

ControllerPort::~ControllerPort() { close(); }

void ControllerPort::preload(const Controller::Image& image) {
    std::lock_guard<std::mutex> lock(shared().mutex);
    if (shared().preloaded) return;
    shared().preloaded = true;
    shared().controller.image() = image;
}

void ControllerPort::setPaced(bool paced) {
    std::lock_guard<std::mutex> lock(shared().mutex);
    shared().paced = paced;
}

Controller* ControllerPort::acquire() {
    std::lock_guard<std::mutex> lock(shared().mutex);
    if (shared().held) return nullptr;
    shared().held = true;
    return &shared().controller;
}

void ControllerPort::release() {
    std::lock_guard<std::mutex> lock(shared().mutex);
    shared().held = false;
}

bool ControllerPort::open(const std::string& name) {
    openFailure_ = line_ || name == name_ ? link::OpenFailure::Busy : link::OpenFailure::NoSuchPort;
    if (line_ || name != name_) return false;
    Controller* c = acquire();
    if (!c) return false;  // a transfer or another window holds the simulated controller
    openFailure_ = link::OpenFailure::None;
    bool paced;
    {
        std::lock_guard<std::mutex> lock(shared().mutex);
        paced = shared().paced;
    }
    auto line = std::make_unique<VirtualLine>(clock_, *c);
    line->setPaced(paced);
    line->setLine(settings_);
    line->setTimeouts(timeouts_);
    line->open(name);
    std::lock_guard<std::mutex> lock(lineMutex_);
    if (interrupted_) line->interrupt();
    line_ = std::move(line);
    return true;
}

bool ControllerPort::isOpen() const { return line_ != nullptr; }

void ControllerPort::close() {
    if (!line_) return;
    line_->close();
    {
        std::lock_guard<std::mutex> lock(lineMutex_);
        line_.reset();
    }
    release();
}

void ControllerPort::setLine(const link::LineSettings& s) {
    settings_ = s;
    if (line_) line_->setLine(s);
}

void ControllerPort::setTimeouts(const link::Timeouts& t) {
    timeouts_ = t;
    if (line_) line_->setTimeouts(t);
}

std::size_t ControllerPort::read(std::uint8_t* buf, std::size_t n) { return line_ ? line_->read(buf, n) : 0; }

std::size_t ControllerPort::write(const std::uint8_t* data, std::size_t n) { return line_ ? line_->write(data, n) : 0; }

void ControllerPort::purgeInput() {
    if (line_) line_->purgeInput();
}

void ControllerPort::purgeOutput() {
    if (line_) line_->purgeOutput();
}

void ControllerPort::interrupt() {
    std::lock_guard<std::mutex> lock(lineMutex_);
    interrupted_ = true;
    if (line_) line_->interrupt();
}

void ControllerPort::resetInterrupt() {
    std::lock_guard<std::mutex> lock(lineMutex_);
    interrupted_ = false;
    if (line_) line_->resetInterrupt();
}

}  // namespace kelvane::sim
