#pragma once
// A loopback plug on a virtual line: every byte written comes back, except
// every dropEvery-th one when dropEvery is set (a line that loses bytes).
#include "sim/virtual_line.h"

namespace kelvane::sim {

class LoopbackDevice : public Device {
public:
    explicit LoopbackDevice(int dropEvery = 0) : dropEvery_(dropEvery) {}
    void received(const std::uint8_t* data, std::size_t n, VirtualLine& line) override {
        std::vector<std::uint8_t> back;
        for (std::size_t i = 0; i < n; ++i)
            if (dropEvery_ <= 0 || ++count_ % dropEvery_ != 0) back.push_back(data[i]);
        if (!back.empty()) line.send(back);
    }

private:
    int dropEvery_;
    long count_ = 0;
};

}  // namespace kelvane::sim
