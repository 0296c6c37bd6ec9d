#include "sim/controller.h"

#include <algorithm>
#include <cstring>

namespace kelvane::sim {
namespace {

constexpr std::size_t kCommand = 8;
constexpr std::size_t kFrame = 34;
constexpr std::size_t kBlock = kelvane::kBlockSize;
constexpr int kBlocks = int(kelvane::kBlockCount);

bool isCommand(const std::vector<std::uint8_t>& buf, const char* text) {
    return std::memcmp(buf.data(), text, kCommand) == 0;
}

std::vector<std::uint8_t> frame(int index, const std::uint8_t* block) {
    std::vector<std::uint8_t> f(kFrame);
    f[0] = static_cast<std::uint8_t>(index & 0xFF);
    f[1] = static_cast<std::uint8_t>((index >> 8) & 0xFF);
    std::memcpy(f.data() + 2, block, kBlock);
    return f;
}

}  // namespace

Controller::Controller(const Image& image, const Identity& identity) : image_(image), identity_(identity) {}

void Controller::resetLink() {
    receivingUpload_ = false;
    pending_.clear();
}

Controller::Answer Controller::feed(const std::uint8_t* data, std::size_t n) {
    Answer a;
    pending_.insert(pending_.end(), data, data + n);
    for (;;) {
        if (receivingUpload_) {
            if (pending_.size() < kFrame) break;
            const int index = pending_[0] | (pending_[1] << 8);
            if (index == 0xFFFF) {
                receivingUpload_ = false;
                ++uploadsCompleted_;
            } else if (index < kBlocks) {
                std::memcpy(image_.data() + index * kBlock, pending_.data() + 2, kBlock);
                blocksReceived_.push_back(index);
            }
            pending_.erase(pending_.begin(), pending_.begin() + kFrame);
            acknowledge(a);
        } else {
            if (pending_.size() < kCommand) break;
            static const std::uint8_t upload[8] = {'D', 'e', 'b', 'M', 'e', 'm', '7', 0x9F};
            static const std::uint8_t download[8] = {'D', 'e', 'b', 'M', 'e', 'm', '6', 0xA0};
            if (isCommand(pending_, "IsThereL")) {
                answerProbe(a);
            } else if (std::memcmp(pending_.data(), download, kCommand) == 0) {
                answerDownload(a);
            } else if (std::memcmp(pending_.data(), upload, kCommand) == 0) {
                receivingUpload_ = true;
                acknowledge(a);
            } else {
                pending_.erase(pending_.begin());  // not a command: slide on by one byte
                continue;
            }
            pending_.erase(pending_.begin(), pending_.begin() + kCommand);
        }
    }
    if (faults_.silent) a = Answer{};
    applyByteFaults(a);
    return a;
}

void Controller::answerProbe(Answer& a) {
    ++probes_;
    const int total = std::clamp(faults_.probeBytes, 0, 8);
    const int chunk = faults_.probeChunk > 0 ? faults_.probeChunk : 8;
    for (int at = 0; at < total; at += chunk) {
        Piece p;
        p.gapMs = at == 0 ? faults_.answerDelayMs : faults_.probeChunkGapMs;
        p.bytes.assign(identity_.begin() + at, identity_.begin() + std::min(total, at + chunk));
        a.pieces.push_back(std::move(p));
    }
}

void Controller::answerDownload(Answer& a) {
    ++downloads_;
    std::vector<int> order;
    if (faults_.order == ControllerFaults::Order::LastFirst) order.push_back(kBlocks - 1);
    for (int i = 0; i < kBlocks - 1; ++i) order.push_back(i);
    if (faults_.order == ControllerFaults::Order::Scrambled) {
        for (int i = 0; i < kBlocks - 1; ++i) order[i] = (i * 197 + 11) % (kBlocks - 1);  // a permutation
    }
    if (faults_.order != ControllerFaults::Order::LastFirst) order.push_back(kBlocks - 1);

    int sent = 0;
    auto emit = [&](std::vector<std::uint8_t> bytes) {
        if (faults_.framesToSend >= 0 && sent >= faults_.framesToSend) return;
        if (faults_.hangUpAfter >= 0 && sent >= faults_.hangUpAfter) {
            a.hangUp = true;
            return;
        }
        a.pieces.push_back({sent == 0 ? faults_.answerDelayMs : faults_.frameGapMs, std::move(bytes)});
        ++sent;
    };
    for (int index : order) {
        if (index == kBlocks - 1 && faults_.strayIndex >= 0) {
            std::uint8_t junk[kBlock];
            std::memset(junk, 0xEE, sizeof junk);
            emit(frame(faults_.strayIndex, junk));
        }
        auto f = frame(index, image_.data() + index * kBlock);
        emit(f);
        if (faults_.repeatFrames) emit(f);
    }
    if (faults_.hangUpAfter >= 0 && sent >= faults_.hangUpAfter) a.hangUp = true;
}

void Controller::acknowledge(Answer& a) {
    if (faults_.hangUpAfter >= 0 && acksSent_ >= faults_.hangUpAfter) {
        a.hangUp = true;
        return;
    }
    if (faults_.acksToSend >= 0 && acksSent_ >= faults_.acksToSend) return;
    ++acksSent_;
    a.pieces.push_back({faults_.answerDelayMs, {kAck}});
}

void Controller::applyByteFaults(Answer& a) {
    if (faults_.dropEvery <= 0 && faults_.garbleEvery <= 0) return;
    for (auto& p : a.pieces) {
        std::vector<std::uint8_t> out;
        for (auto b : p.bytes) {
            ++bytesSent_;
            if (faults_.dropEvery > 0 && bytesSent_ % faults_.dropEvery == 0) continue;
            if (faults_.garbleEvery > 0 && bytesSent_ % faults_.garbleEvery == 0) b = static_cast<std::uint8_t>(~b);
            out.push_back(b);
        }
        p.bytes = std::move(out);
    }
}

void Controller::received(const std::uint8_t* data, std::size_t n, VirtualLine& line) {
    Answer a = feed(data, n);
    for (const auto& p : a.pieces) {
        const double after = line.pendingUntilMs() - static_cast<double>(line.nowMs());
        line.send(p.bytes, static_cast<int>(after) + p.gapMs);
    }
    if (a.hangUp) line.hangUp(line.pendingUntilMs());
}

}  // namespace kelvane::sim
