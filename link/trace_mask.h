#pragma once
// A line trace with the controller's secrets taken out, to be kept or sent to
// someone else. Masking is the default: every byte read or written keeps its
// value only where it provably holds no secret.
//
// - Inside a download (after "DebMem6"), and in a trace cut before its start
//   (where no session is known), the bytes read are taken as one stream and
//   frames are looked for in it, whatever the read chunks were. A frame
//   counts as placed only where the next frame's index follows 34 bytes on
//   (or the stream ends there, after the last of a chain), it is one of at
//   least three frames in a row (indexes n, n+1, n+2, all inside the image)
//   and no other chain runs through it. A placed frame keeps its index and its data
//   masked as an image is masked (kelvane::maskSecrets: codes, keys and
//   password replaced, the rest kept), so the trace still shows which blocks
//   came and when. Every other byte read there reads 00.
// - Inside an upload (after "DebMem7"), each written frame keeps its index
//   and its data masked the same way (the end frame keeps its index only);
//   every other byte, the acknowledgements included, reads 00.
// - Outside a transfer, what the program writes stays; of what it reads, only
//   the answer to a probe or a reset request (its first 8 bytes), the
//   bootloader's dialogue at its own speed and the echo of bytes written
//   before stay.
// - A data line that cannot be read keeps its time and direction only.
// Every other line stays as it is.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kelvane::link {

// Masks a trace as it is written, line by line. Frames are only placed once
// the two frames after them have come, so a few lines of a download are held
// back until then (or until the session ends or finish()).
class TraceMasker {
public:
    // Takes text of whole lines (a line cut at the end waits for its rest);
    // returns the masked lines that are settled now, in order.
    std::string add(const std::string& text);
    // The end of the trace: everything still held, masked.
    std::string finish();

private:
    enum class Mode { Unknown, Idle, Download, Upload };
    struct Pending {
        std::string text;     // a settled line, or the prefix of a stream line
        bool stream = false;  // bytes [start, start + count) of the read stream
        std::size_t start = 0;
        std::size_t count = 0;
    };

    void line(const std::string& text);
    void setMode(Mode mode);
    void closeStream();
    void settle(bool all);
    std::string emit();
    std::string streamLine(const Pending& p) const;

    Mode mode_ = Mode::Unknown;
    std::size_t answerLeft_ = 0;         // bytes still to come of the answer to a probe or a reset request
    bool bootloader_ = false;            // the line runs at the bootloader's speed
    std::vector<std::uint8_t> written_;  // this session's bytes written (its last ones)
    std::string partial_;                // a line without its end yet
    std::deque<Pending> pending_;
    // The read stream of a download (or of a trace cut before its start).
    std::vector<std::uint8_t> stream_;
    std::vector<std::uint8_t> masked_;  // what each stream byte becomes
    std::size_t decided_ = 0;           // frames starting before this are placed or not
};

std::string maskTrace(const std::string& trace);

}  // namespace kelvane::link
