#include "link/trace_mask.h"

#include "image/secret_mask.h"
#include "link/command_frame.h"
#include "link/traced_line.h"
#include "link/transfer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <vector>

namespace kelvane::link {
namespace {

struct DataLine {
    std::string prefix;  // time, direction and count, as they stood
    char direction = 0;
    std::vector<std::uint8_t> bytes;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "<time>  <dir> <count>[ of <n>]  <hex>  |<ascii>|"; nothing for other lines.
std::optional<DataLine> parseData(const std::string& line) {
    std::size_t p = line.find_first_not_of(' ');
    if (p == std::string::npos || !std::isdigit(static_cast<unsigned char>(line[p]))) return std::nullopt;
    while (p < line.size() && std::isdigit(static_cast<unsigned char>(line[p]))) ++p;
    if (line.compare(p, 2, "  ") != 0 || p + 3 >= line.size()) return std::nullopt;
    DataLine d;
    d.direction = line[p + 2];
    if ((d.direction != '<' && d.direction != '>') || line[p + 3] != ' ') return std::nullopt;
    std::size_t q = p + 4;
    std::size_t count = 0;
    while (q < line.size() && std::isdigit(static_cast<unsigned char>(line[q]))) count = count * 10 + (line[q++] - '0');
    const std::size_t hexStart = line.find("  ", q);
    if (count == 0 || hexStart == std::string::npos) return std::nullopt;
    d.prefix = line.substr(0, hexStart);
    std::size_t h = hexStart + 2;
    for (std::size_t i = 0; i < count; ++i, h += 3) {
        if (h + 1 >= line.size()) return std::nullopt;
        const int hi = hexDigit(line[h]), lo = hexDigit(line[h + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        d.bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return d;
}

bool isCommand(const std::vector<std::uint8_t>& bytes, const Command& c) {
    return bytes.size() == c.size() && std::equal(c.begin(), c.end(), bytes.begin());
}

// The frame's data masked as those bytes of an image would be; a frame for no
// block of the image keeps nothing.
void maskFrame(std::uint8_t* frame) {
    const unsigned index = frame[0] | (frame[1] << 8);
    if (index >= kBlockCount) {
        if (index != kEndFrameIndex) std::fill(frame + 2, frame + kFrameBytes, 0);
        return;
    }
    Image img = erasedImage();
    std::copy(frame + 2, frame + kFrameBytes, img.begin() + index * kBlockSize);
    MaskSecrets(img);
    std::copy(img.begin() + index * kBlockSize, img.begin() + (index + 1) * kBlockSize, frame + 2);
}

}  // namespace

std::string MaskTrace(const std::string& trace) {
    std::string out;
    out.reserve(trace.size());
    bool downloading = false, uploading = false;
    std::size_t start = 0;
    while (start < trace.size()) {
        std::size_t end = trace.find('\n', start);
        if (end == std::string::npos) end = trace.size();
        const std::string line = trace.substr(start, end - start);
        start = end + 1;
        std::optional<DataLine> d = parseData(line);
        if (!d) {
            // A new opening of the port starts from nothing.
            if (line.find("  open ") != std::string::npos || line.find("  close") != std::string::npos)
                downloading = uploading = false;
            out += line + "\n";
            continue;
        }
        auto& b = d->bytes;
        // A chunk of a frame's size is masked as a frame whatever came
        // before it: a trace cut at its start, or a session whose command
        // is not in it, must not let a block through.
        const bool frame = b.size() == kFrameBytes;
        const unsigned index = frame ? (b[0] | (b[1] << 8)) : 0;
        if (frame) maskFrame(b.data());
        if (d->direction == '>') {
            if (isCommand(b, startDownloadCommand())) {
                downloading = true;
                uploading = false;
            } else if (isCommand(b, startUploadCommand())) {
                uploading = true;
                downloading = false;
            } else if (frame) {
                if (index == kEndFrameIndex) uploading = false;
            } else if (b.size() == 8) {
                downloading = uploading = false;  // another command
            } else if (uploading) {
                std::fill(b.begin() + std::min<std::size_t>(2, b.size()), b.end(), 0);
            }
        } else if (downloading) {
            if (frame && index == kBlockCount - 1) downloading = false;
            if (!frame) std::fill(b.begin() + std::min<std::size_t>(2, b.size()), b.end(), 0);
        }
        out += d->prefix + "  " + link::traceBytes(b.data(), b.size()) + "\n";
    }
    if (!trace.empty() && trace.back() != '\n' && !out.empty()) out.pop_back();
    return out;
}

}  // namespace kelvane::link
