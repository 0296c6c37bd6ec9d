#include "link/trace_mask.h"

#include "image/secret_mask.h"
#include "link/command_frame.h"
#include "link/traced_line.h"
#include "link/transfer.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kelvane::link {
namespace {

// Frames looked at before one is placed: its own, and the two after it.
constexpr std::size_t kLookahead = 2 * kFrameBytes + 2;
// Bytes written in a session that a read may echo (a loopback test's).
constexpr std::size_t kEchoWindow = 4096;
// No trace line holds more bytes than a read or a write asks for.
constexpr std::size_t kMostBytes = 1 << 20;
constexpr int kControllerBaud = 2400;
// The controller's answer to a probe or a reset request.
constexpr std::size_t kAnswerBytes = 8;

struct DataLine {
    enum Kind { None, Unreadable, Bytes } kind = None;
    std::string prefix;  // time, direction and counts, as they stood
    char direction = 0;
    std::size_t asked = 0;
    std::vector<std::uint8_t> bytes;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Reads a decimal count at q; false when there is none or it is absurd.
bool readCount(const std::string& line, std::size_t& q, std::size_t& value) {
    if (q >= line.size() || !isDigit(line[q])) return false;
    value = 0;
    while (q < line.size() && isDigit(line[q])) {
        value = value * 10 + static_cast<std::size_t>(line[q++] - '0');
        if (value > kMostBytes) return false;
    }
    return true;
}

// The text after the time of an event line ("open COM8: ok"); empty for others.
std::string eventText(const std::string& line) {
    std::size_t p = line.find_first_not_of(' ');
    if (p == std::string::npos || !isDigit(line[p])) return {};
    while (p < line.size() && isDigit(line[p])) ++p;
    return line.compare(p, 2, "  ") == 0 ? line.substr(p + 2) : std::string();
}

// "<time>  <dir> <count>[ of <asked>][  <hex>  |<ascii>|]". A line that
// starts as one but does not go on as one is Unreadable.
DataLine parseData(const std::string& line) {
    DataLine d;
    std::size_t p = line.find_first_not_of(' ');
    if (p == std::string::npos || !isDigit(line[p])) return d;
    while (p < line.size() && isDigit(line[p])) ++p;
    if (line.compare(p, 2, "  ") != 0 || p + 3 >= line.size()) return d;
    d.direction = line[p + 2];
    if ((d.direction != '<' && d.direction != '>') || line[p + 3] != ' ') return d;
    d.kind = DataLine::Unreadable;
    d.prefix = line.substr(0, p + 3);
    std::size_t q = p + 4, count = 0;
    if (!readCount(line, q, count)) return d;
    d.asked = count;
    if (line.compare(q, 4, " of ") == 0) {
        q += 4;
        if (!readCount(line, q, d.asked) || d.asked < count) return d;
    }
    const std::string prefix = line.substr(0, q);
    if (count > 0) {
        if (line.compare(q, 2, "  ") != 0) return d;
        std::size_t h = q + 2;
        d.bytes.reserve(count);
        for (std::size_t i = 0; i < count; ++i, h += 3) {
            if (h + 1 >= line.size() || (i > 0 && line[h - 1] != ' ')) return d;
            const int hi = hexDigit(line[h]), lo = hexDigit(line[h + 1]);
            if (hi < 0 || lo < 0) return d;
            d.bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
    }
    d.kind = DataLine::Bytes;
    d.prefix = prefix;
    return d;
}

bool isCommand(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() != 8) return false;
    unsigned sum = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        if (i < 7 && (bytes[i] < 0x20 || bytes[i] > 0x7E)) return false;
        sum += bytes[i];
    }
    return (sum & 0xFF) == 0;
}

bool equals(const std::vector<std::uint8_t>& bytes, const Command& c) {
    return bytes.size() == c.size() && std::equal(c.begin(), c.end(), bytes.begin());
}

unsigned indexAt(const std::uint8_t* frame) { return frame[0] | (frame[1] << 8); }

// The 32 data bytes of a frame for block `index` masked as those bytes of an
// image would be; a frame for no block of the image keeps no data.
void maskFrameData(unsigned index, std::uint8_t* data) {
    if (index >= kBlockCount) {
        std::fill(data, data + kBlockSize, 0);
        return;
    }
    // An image with only this block in it: masking looks at nothing else.
    thread_local Image img;
    auto block = img.begin() + static_cast<long>(index * kBlockSize);
    std::copy(data, data + kBlockSize, block);
    maskSecretsIn(img, index * kBlockSize, (index + 1) * kBlockSize);
    std::copy(block, block + kBlockSize, data);
}

std::string dataText(const std::string& prefix, const std::vector<std::uint8_t>& bytes) {
    return bytes.empty() ? prefix : prefix + "  " + traceBytes(bytes.data(), bytes.size());
}

}  // namespace

void TraceMasker::setMode(Mode mode) {
    closeStream();
    mode_ = mode;
    answerLeft_ = 0;
}

void TraceMasker::closeStream() {
    settle(true);
    for (Pending& p : pending_) {
        if (!p.stream) continue;
        p.text = streamLine(p);
        p.stream = false;
    }
    stream_.clear();
    masked_.clear();
    decided_ = 0;
}

// Places the frames of the read stream that can be placed now: a frame start
// needs the frames before and after it in view (or the end of the stream).
void TraceMasker::settle(bool all) {
    const std::size_t len = stream_.size();
    const std::uint8_t* s = stream_.data();
    // Frames n and n + 1 at p and p + 34, both inside the image.
    auto link = [&](std::size_t p) {
        if (p + kFrameBytes + 2 > len) return false;
        const unsigned a = indexAt(s + p), b = indexAt(s + p + kFrameBytes);
        return a + 1 == b && b < kBlockCount;
    };
    auto starts = [&](std::size_t q) { return link(q) || (q >= kFrameBytes && link(q - kFrameBytes)); };
    // Frame p lies between two verified indexes: its own, and the next one
    // 34 bytes on (or the stream's end after the last of a chain), and it is
    // one of three frames in a row. An index alone proves nothing of the
    // bytes after it: a byte lost or added there shifts them.
    auto placed = [&](std::size_t p) {
        const std::size_t f = kFrameBytes;
        if (link(p)) return (p >= f && link(p - f)) || link(p + f);
        return all && p + f == len && p >= 2 * f && link(p - 2 * f) && link(p - f);
    };
    const std::size_t limit = all ? len : (len > kLookahead ? len - kLookahead : 0);
    for (; decided_ < limit; ++decided_) {
        const std::size_t p = decided_;
        if (!placed(p)) continue;
        bool alone = true;  // no other chain runs through this frame
        for (std::size_t q = p >= kFrameBytes - 1 ? p - (kFrameBytes - 1) : 0; alone && q < p + kFrameBytes; ++q)
            alone = q == p || !starts(q);
        if (!alone) continue;
        std::copy(s + p, s + p + kFrameBytes, masked_.begin() + static_cast<long>(p));
        maskFrameData(indexAt(s + p), masked_.data() + p + 2);
    }
}

std::string TraceMasker::streamLine(const Pending& p) const {
    const std::vector<std::uint8_t> bytes(masked_.begin() + static_cast<long>(p.start),
                                          masked_.begin() + static_cast<long>(p.start + p.count));
    return dataText(p.text, bytes);
}

void TraceMasker::line(const std::string& text) {
    DataLine d = parseData(text);
    if (d.kind == DataLine::None) {
        const std::string event = eventText(text);
        if (text.rfind("# Kelvane line trace", 0) == 0 || event.rfind("open ", 0) == 0 || event == "close") {
            // A new session, or a new opening of the port, starts from nothing.
            setMode(Mode::Idle);
            bootloader_ = false;
            written_.clear();
        } else if (event.rfind("line ", 0) == 0) {
            bootloader_ = std::atoi(event.c_str() + 5) != kControllerBaud;
        }
        pending_.push_back({text});
        return;
    }
    if (d.kind == DataLine::Unreadable) {
        pending_.push_back({d.prefix + " (unreadable, left out)"});
        return;
    }
    auto& b = d.bytes;
    auto blank = [&b] { std::fill(b.begin(), b.end(), 0); };
    if (d.direction == '>') {
        if (d.asked == 8 && isCommand(b)) {
            if (equals(b, startDownloadCommand())) {
                setMode(Mode::Download);
            } else if (equals(b, startUploadCommand())) {
                setMode(Mode::Upload);
            } else {
                setMode(Mode::Idle);
                answerLeft_ = kAnswerBytes;  // a probe, a reset request: its answer is no secret
            }
        } else if (mode_ == Mode::Idle) {
            answerLeft_ = 0;
        } else if ((mode_ == Mode::Upload || mode_ == Mode::Unknown) && b.size() == kFrameBytes && d.asked == kFrameBytes) {
            // The program writes each frame whole, so a whole write is one.
            const unsigned index = indexAt(b.data());
            if (index == kEndFrameIndex)
                std::fill(b.begin() + 2, b.end(), 0);
            else
                maskFrameData(index, b.data() + 2);
        } else {
            blank();
        }
        if (mode_ == Mode::Idle) {
            written_.insert(written_.end(), d.bytes.begin(), d.bytes.end());
            if (written_.size() > kEchoWindow)
                written_.erase(written_.begin(), written_.end() - static_cast<long>(kEchoWindow));
        }
        pending_.push_back({dataText(d.prefix, b)});
        return;
    }
    if (mode_ == Mode::Download || mode_ == Mode::Unknown) {
        pending_.push_back({d.prefix, true, stream_.size(), b.size()});
        stream_.insert(stream_.end(), b.begin(), b.end());
        masked_.resize(stream_.size(), 0);
        return;
    }
    const bool echo = !b.empty() && std::search(written_.begin(), written_.end(), b.begin(), b.end()) != written_.end();
    if (mode_ != Mode::Idle) {
        blank();
    } else if (!bootloader_ && !echo) {
        // Only as many bytes as an answer has: what comes after it is not one.
        const std::size_t keep = std::min(answerLeft_, b.size());
        answerLeft_ -= keep;
        std::fill(b.begin() + static_cast<long>(keep), b.end(), 0);
    }
    pending_.push_back({dataText(d.prefix, b)});
}

std::string TraceMasker::emit() {
    std::string out;
    while (!pending_.empty()) {
        const Pending& p = pending_.front();
        if (p.stream && p.start + p.count > decided_) break;
        out += (p.stream ? streamLine(p) : p.text) + "\n";
        pending_.pop_front();
    }
    return out;
}

std::string TraceMasker::add(const std::string& text) {
    partial_ += text;
    std::size_t start = 0;
    for (std::size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1)
        line(partial_.substr(start, end - start));
    partial_.erase(0, start);
    settle(false);
    return emit();
}

std::string TraceMasker::finish() {
    if (!partial_.empty()) line(partial_);
    partial_.clear();
    closeStream();
    return emit();
}

std::string maskTrace(const std::string& trace) {
    TraceMasker masker;
    std::string out = masker.add(trace);
    out += masker.finish();
    if (!trace.empty() && trace.back() != '\n' && !out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace kelvane::link
