// The trace masker against any chunking of a download or an upload, on a
// line that loses bytes or adds noise: a
// masked trace shows no run of four bytes of any secret of the image, as
// bytes joined across lines, as hex text in either case, with or without
// spaces; and masking it as it is written gives the same text as masking it
// whole.
//
// The image's secrets come from the input (codes, key serials, password); its
// other bytes are EE, which no secret holds. Codes are four digits starting
// with 0 and key serials bytes 80..ED, so that no run of them can equal a run
// of the made-up values masking puts in their place. A run the masked trace
// may show anyway (a frame index after zeros...) is no leak.
#include "fuzz/fuzz_check.h"
#include "image/image.h"
#include "image/secret_mask.h"
#include "link/command_frame.h"
#include "link/trace_mask.h"
#include "link/traced_line.h"
#include "link/transfer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <sstream>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

using namespace kelvane;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t word(const std::uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }

std::uint8_t bcd(unsigned v) { return static_cast<std::uint8_t>((v / 10 % 10) << 4 | v % 10); }

Image fuzzedImage(FuzzedDataProvider& in) {
    Image img;
    img.fill(0xEE);
    std::uint64_t state = in.ConsumeIntegral<std::uint64_t>();
    auto next = [&state] {  // splitmix64
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<unsigned>((z ^ (z >> 31)) & 0xFFFFFFFF);
    };
    for (std::size_t off = 0; off < kImageSize; ++off) {
        if (!isSecretByte(off)) continue;
        if (off >= mem::kKeys && off < mem::kKeys + mem::kKeyCount * mem::kKeyRecordSize)
            img[off] = static_cast<std::uint8_t>(0x80 + next() % 0x6E);
        else if (off >= mem::kParams && off < mem::kParams + 8)
            img[off] = static_cast<std::uint8_t>(next() % 10);
        else
            img[off] = static_cast<std::uint8_t>(off % 2 ? bcd(next()) : 1 + next() % 9);  // 0ddd
    }
    // Chosen codes (0d00, 0d01...: they read as frame indexes).
    for (int n = in.ConsumeIntegralInRange(0, 8); n > 0; --n) {
        const std::size_t off =
            mem::kLogicalLU1 + 2 * in.ConsumeIntegralInRange<std::size_t>(0, 2 * mem::kResidentsPerLine - 1);
        img[off] = in.ConsumeIntegralInRange<std::uint8_t>(1, 9);
        img[off + 1] = in.ConsumeIntegralInRange<std::uint8_t>(0, 1);
    }
    for (std::size_t i = 0; i < 8; ++i) img[mem::kParams + i] = in.ConsumeIntegralInRange<std::uint8_t>(0, 9);
    return img;
}

Bytes frames(const Image& img) {
    Bytes s;
    for (std::size_t b = 0; b < kBlockCount; ++b) {
        const link::Frame f = link::makeFrame(static_cast<std::uint16_t>(b), img.data() + b * kBlockSize);
        s.insert(s.end(), f.begin(), f.end());
    }
    return s;
}

std::string dataLine(char direction, const Bytes& b, std::size_t asked) {
    std::string t = "           1  " + std::string(1, direction) + " " + std::to_string(b.size());
    if (b.size() < asked) t += " of " + std::to_string(asked);
    if (!b.empty()) t += "  " + link::traceBytes(b.data(), b.size());
    return t + "\n";
}

void addRuns(const Bytes& s, std::unordered_set<std::uint32_t>& seen) {
    for (std::size_t i = 0; i + 4 <= s.size(); ++i) seen.insert(word(&s[i]));
}

bool isHex(const std::string& w) {
    for (char c : w)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return !w.empty();
}

// Every run of four bytes a reader can take from the text: the data bytes of
// each direction joined across lines, hex of two-digit words in a row, and
// hex words of eight digits or more.
std::unordered_set<std::uint32_t> runsShown(const std::string& text) {
    std::unordered_set<std::uint32_t> seen;
    Bytes joined[2];
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string x; words >> x;) w.push_back(x);
        std::size_t from = 0;
        int direction = -1;
        if (w.size() >= 3 && (w[1] == "<" || w[1] == ">")) {
            direction = w[1] == "<" ? 0 : 1;
            from = w.size() > 4 && w[3] == "of" ? 5 : 3;
        }
        Bytes run;
        for (std::size_t i = from; i <= w.size(); ++i) {
            if (i < w.size() && w[i].size() == 2 && isHex(w[i])) {
                run.push_back(static_cast<std::uint8_t>(std::stoi(w[i], nullptr, 16)));
                continue;
            }
            addRuns(run, seen);
            if (direction >= 0 && i > from) {
                joined[direction].insert(joined[direction].end(), run.begin(), run.end());
                direction = -1;  // only the first run is the line's data
            }
            run.clear();
            if (i < w.size() && w[i].size() >= 8 && w[i].size() % 2 == 0 && isHex(w[i])) {
                Bytes b;
                for (std::size_t k = 0; k < w[i].size(); k += 2)
                    b.push_back(static_cast<std::uint8_t>(std::stoi(w[i].substr(k, 2), nullptr, 16)));
                addRuns(b, seen);
            }
        }
    }
    addRuns(joined[0], seen);
    addRuns(joined[1], seen);
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const Image img = fuzzedImage(in);
    const bool upload = in.ConsumeBool();
    const bool cut = in.ConsumeBool();  // the trace's start is not in it

    std::string trace =
        "# Kelvane line trace\n# port: COM8\n           1  open COM8: ok\n"
        "           1  line 2400 baud, 8N1, parity check off, DTR off\n";
    const Bytes stream = frames(img);
    auto chunk = [&in] { return in.remaining_bytes() > 0 ? in.ConsumeIntegralInRange<std::size_t>(0, 80) : 34; };
    if (!upload) {
        const link::Command c = link::startDownloadCommand();
        trace += dataLine('>', Bytes(c.begin(), c.end()), 8);
        Bytes s = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 40));  // chatter first
        s.insert(s.end(), stream.begin(), stream.end());
        // A bad line: bytes lost, and noise added.
        for (int n = in.ConsumeIntegralInRange(0, 12); n > 0; --n) {
            const auto at = s.begin() + in.ConsumeIntegralInRange<long>(0, static_cast<long>(s.size()) - 4);
            const std::size_t k = in.ConsumeIntegralInRange<std::size_t>(1, 4);
            if (in.ConsumeBool())
                s.erase(at, at + static_cast<long>(k));
            else
                s.insert(at, k, in.ConsumeIntegral<std::uint8_t>());
        }
        for (std::size_t at = 0; at < s.size();) {
            const std::size_t n = std::min(std::max<std::size_t>(chunk(), 1), s.size() - at);
            trace += dataLine('<', Bytes(s.begin() + static_cast<long>(at), s.begin() + static_cast<long>(at + n)),
                              std::max<std::size_t>(n, 34));
            at += n;
        }
    } else {
        const link::Command c = link::startUploadCommand();
        trace += dataLine('>', Bytes(c.begin(), c.end()), 8) + dataLine('<', {6}, 1);
        for (std::size_t b = 0; b < kBlockCount; ++b) {
            const std::size_t n = std::min<std::size_t>(chunk(), 34);  // a write may go out short
            const auto at = stream.begin() + static_cast<long>(b * 34);
            trace += dataLine('>', Bytes(at, at + static_cast<long>(n)), 34);
            trace += dataLine('<', {in.ConsumeIntegral<std::uint8_t>()}, 1);
        }
        const link::Frame end = link::endFrame();
        trace += dataLine('>', Bytes(end.begin(), end.end()), 34) + dataLine('<', {6}, 1);
    }
    trace += "           1  close\n";
    if (cut) trace.erase(0, std::min(trace.size(), in.ConsumeIntegralInRange<std::size_t>(0, 40000)));

    const std::string masked = link::maskTrace(trace);
    link::TraceMasker streaming;
    std::string pieces;
    const std::size_t step = in.ConsumeIntegralInRange<std::size_t>(1, 5000);
    for (std::size_t at = 0; at < trace.size(); at += step) pieces += streaming.add(trace.substr(at, step));
    pieces += streaming.finish();
    FUZZ_CHECK(pieces == masked + (trace.empty() || trace.back() == '\n' ? "" : "\n"));

    // What the masked trace may show: the masked frames, the commands and
    // the end frame, zeros; and a run made of the end of one of them, zeros
    // and the start of another.
    Image maskedImage = img;
    maskSecrets(maskedImage);
    Bytes shownParts = frames(maskedImage);
    for (const auto& c : {link::startDownloadCommand(), link::startUploadCommand()})
        shownParts.insert(shownParts.end(), c.begin(), c.end());
    const link::Frame end = link::endFrame();
    shownParts.insert(shownParts.end(), end.begin(), end.end());
    std::unordered_set<std::uint32_t> inside;
    addRuns(shownParts, inside);
    std::unordered_set<std::uint32_t> heads[4], tails[4];  // by length, of every frame and command
    for (std::size_t at = 0; at < shownParts.size();) {
        const std::size_t n = at < kBlockCount * 34 ? 34 : (at < kBlockCount * 34 + 16 ? 8 : 34);
        for (std::size_t k = 1; k < 4; ++k) {
            std::uint32_t h = 0, t = 0;
            for (std::size_t i = 0; i < k; ++i) {
                h |= std::uint32_t(shownParts[at + i]) << (8 * i);
                t |= std::uint32_t(shownParts[at + n - k + i]) << (8 * i);
            }
            heads[k].insert(h);
            tails[k].insert(t);
        }
        at += n;
    }
    auto legit = [&](const std::uint8_t* w) {
        if (inside.count(word(w))) return true;
        for (std::size_t t = 0; t < 4; ++t)
            for (std::size_t h = 0; t + h <= 4 && h < 4; ++h) {
                bool ok = true;
                for (std::size_t i = t; i < 4 - h; ++i) ok = ok && w[i] == 0;
                std::uint32_t tv = 0, hv = 0;
                for (std::size_t i = 0; i < t; ++i) tv |= std::uint32_t(w[i]) << (8 * i);
                for (std::size_t i = 0; i < h; ++i) hv |= std::uint32_t(w[4 - h + i]) << (8 * i);
                if (ok && (t == 0 || tails[t].count(tv)) && (h == 0 || heads[h].count(hv))) return true;
            }
        return false;
    };
    const std::unordered_set<std::uint32_t> shown = runsShown(masked);
    for (std::size_t off = 0; off + 4 <= kImageSize; ++off) {
        if (!(isSecretByte(off) && isSecretByte(off + 1) && isSecretByte(off + 2) && isSecretByte(off + 3))) continue;
        if (!shown.count(word(&img[off])) || legit(&img[off])) continue;
        std::fprintf(stderr, "secret run at offset %zu shown: %s\n", off, link::traceBytes(&img[off], 4).c_str());
        FUZZ_CHECK(!"a secret run is shown");
    }
    return 0;
}
