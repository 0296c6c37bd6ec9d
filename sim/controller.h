#pragma once
// A simulated door-entry controller as KelvaneMini talks to it: it answers
// "IsThereL" with its 8-byte identity, "DebMem6" with the 512 frames of its
// image, and "DebMem7" with one acknowledgement per command and frame while it
// stores the blocks it receives. Faults can be switched on to test the
// program against a controller or line that misbehaves.
#include "image/image.h"
#include "sim/virtual_line.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kelvane::sim {

struct ControllerFaults {
    enum class Order {
        InOrder,    // blocks 0..511
        LastFirst,  // block 511 first, then 0..510
        Scrambled,  // blocks 0..510 in a fixed scrambled order, then 511
    };
    bool silent = false;        // answers nothing at all
    int probeBytes = 8;         // how many identity bytes the probe answer carries
    int probeChunk = 0;         // > 0: the answer comes in pieces of this many bytes...
    int probeChunkGapMs = 300;  // ...this far apart
    int dropEvery = 0;          // > 0: every n-th byte sent is lost
    int garbleEvery = 0;        // > 0: every n-th byte sent arrives inverted
    Order order = Order::InOrder;
    bool repeatFrames = false;  // every download frame is sent twice
    int strayIndex = -1;        // >= 0: an extra frame with this block index (and 0xEE data) before block 511
    int answerDelayMs = 0;      // pause before each answer (probe, first frame, acknowledgement)
    int frameGapMs = 0;         // pause between download frames
    int framesToSend = -1;      // >= 0: the download stops after this many frames (silence)
    int acksToSend = -1;        // >= 0: the upload acknowledges this many messages, then is silent
    int hangUpAfter = -1;       // >= 0: the line closes after this many frames sent or acknowledgements
};

class Controller : public Device {
public:
    using Image = kelvane::Image;
    using Identity = std::array<std::uint8_t, 8>;
    static constexpr std::uint8_t kAck = 0x06;
    // ID 1, serial number 4660, firmware 259.
    static constexpr Identity kDefaultIdentity = {0x00, 0x01, 0x34, 0x12, 0x03, 0x01, 0x00, 0x00};

    explicit Controller(const Image& image = Image{}, const Identity& identity = kDefaultIdentity);

    Image& image() { return image_; }
    const Image& image() const { return image_; }
    void setIdentity(const Identity& id) { identity_ = id; }
    ControllerFaults& faults() { return faults_; }

    // One piece of an answer: its bytes go out gapMs after the previous piece
    // has gone out (or after the request, for the first piece).
    struct Piece {
        int gapMs = 0;
        std::vector<std::uint8_t> bytes;
    };
    struct Answer {
        std::vector<Piece> pieces;
        bool hangUp = false;  // the line closes once the pieces have gone out
    };
    // Takes bytes from the program and returns what to answer.
    Answer feed(const std::uint8_t* data, std::size_t n);
    // Forgets a half-received command or frame (the line was reopened).
    void resetLink();

    // Device
    void received(const std::uint8_t* data, std::size_t n, VirtualLine& line) override;
    void opened(VirtualLine&) override { resetLink(); }

    // What happened, for tests.
    int probes() const { return probes_; }
    int downloads() const { return downloads_; }
    int uploadsCompleted() const { return uploadsCompleted_; }
    const std::vector<int>& blocksReceived() const { return blocksReceived_; }

private:
    void answerProbe(Answer& a);
    void answerDownload(Answer& a);
    void acknowledge(Answer& a);
    void applyByteFaults(Answer& a);

    Image image_;
    Identity identity_;
    ControllerFaults faults_;
    bool receivingUpload_ = false;
    std::vector<std::uint8_t> pending_;
    int acksSent_ = 0;
    long bytesSent_ = 0;
    int probes_ = 0;
    int downloads_ = 0;
    int uploadsCompleted_ = 0;
    std::vector<int> blocksReceived_;
};

}  // namespace kelvane::sim
