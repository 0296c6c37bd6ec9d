// The flat actions and the code generator. A new code is judged by the same
// rules the configuration check warns by, so a code this file draws never
// shows up among its warnings.
#include "image/flat_actions.h"

#include "image/codecs.h"
#include "image/configuration_check.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace kelvane {

namespace {

constexpr int kResidentSlots = 2 * static_cast<int>(mem::kResidentsPerLine);

FlatSlot slotOf(int index) {
    const int perLine = static_cast<int>(mem::kResidentsPerLine);
    return {index / perLine + 1, index % perLine + 1};
}

int readCode(const Image& image, ResidentCode code, FlatSlot slot) {
    return DecodeBcdCode(&image[residentOffset(code, slot.line, slot.local)]);
}

bool sameSlot(FlatSlot a, FlatSlot b) { return a.line == b.line && a.local == b.local; }

bool slotInUse(const Image& image, FlatSlot slot) {
    for (ResidentCode c : {ResidentCode::Logical, ResidentCode::Open, ResidentCode::Main})
        if (readCode(image, c, slot) >= 0) return true;
    return false;
}

std::vector<int> generalCodes(const Image& image) {
    std::vector<int> out;
    for (std::size_t i = 0; i < mem::kGeneralCount; ++i) {
        const int code = DecodeBcdCode(&image[mem::kGeneralCodes + 2 * i]);
        if (code >= 0) out.push_back(code);
    }
    return out;
}

// A call code followed by an open code, as the configuration check reads a
// general code made of them; -1 when the digits are beyond every general code.
int callThenOpen(int call, int open) {
    if (call < 0 || open < 0) return -1;
    const std::string digits = std::to_string(call) + std::to_string(open);
    return digits.size() > 5 ? -1 : std::stoi(digits);
}

// The code's digits as the grid shows them: an open code always with four.
std::string codeDigits(CodeKind kind, int code) {
    std::string digits = std::to_string(code);
    if (kind == CodeKind::Open && digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
    return digits;
}

// The configuration check's rule on the digits the grid shows, for every
// code 0..9999 once: a draw judges each of them.
bool guessable(CodeKind kind, int code) {
    static const auto table = [] {
        std::array<std::vector<bool>, 2> t{std::vector<bool>(10000), std::vector<bool>(10000)};
        for (int c = 0; c < 10000; ++c) {
            t[0][c] = isGuessableDigits(codeDigits(CodeKind::Open, c));
            t[1][c] = isGuessableDigits(codeDigits(CodeKind::General, c));
        }
        return t;
    }();
    return table[kind == CodeKind::Open ? 0 : 1][code];
}

// Numbers 0..99999 (every code and every call code followed by an open code
// that fits a general code), marked present or not.
class NumberSet {
public:
    void insert(int n) {
        if (n >= 0 && n < kSize) present_[n] = true;
    }
    bool count(int n) const { return n >= 0 && n < kSize && present_[n]; }

private:
    static constexpr int kSize = 100000;
    std::vector<bool> present_ = std::vector<bool>(kSize);
};

// What a new code is judged against, gathered once per draw.
class CodeJudge {
public:
    CodeJudge(const Image& image, CodeKind kind, FlatSlot slot) : kind_(kind) {
        for (int i = 0; i < kResidentSlots; ++i) {
            const FlatSlot s = slotOf(i);
            const int logical = readCode(image, ResidentCode::Logical, s);
            const int open = readCode(image, ResidentCode::Open, s);
            const int main = readCode(image, ResidentCode::Main, s);
            for (int c : {logical, open, main})
                if (c >= 0) used_.insert(c);
            for (int call : {logical, main}) {
                const int digits = callThenOpen(call, open);
                if (digits >= 0) callOpen_.insert(digits);
            }
            if (kind != CodeKind::General && sameSlot(s, slot)) {
                logical_ = logical;
                open_ = open;
                main_ = main;
            }
        }
        for (int c : generalCodes(image)) {
            used_.insert(c);
            general_.insert(c);
        }
    }

    CodeFault judge(int code) const {
        const int lowest = kind_ == CodeKind::Open ? 1 : 1000;
        if (code < lowest || code > 9999) return CodeFault::OutOfRange;
        if (guessable(kind_, code)) return CodeFault::Guessable;
        if (used_.count(code)) return CodeFault::InUse;
        switch (kind_) {
        case CodeKind::Open:
            for (int call : {logical_, main_})
                if (general_.count(callThenOpen(call, code))) return CodeFault::CallAndOpen;
            break;
        case CodeKind::Main:
            if (general_.count(callThenOpen(code, open_))) return CodeFault::CallAndOpen;
            break;
        case CodeKind::General:
            if (callOpen_.count(code)) return CodeFault::CallAndOpen;
            break;
        }
        return CodeFault::None;
    }

private:
    CodeKind kind_;
    NumberSet used_, general_, callOpen_;
    int logical_ = -1, open_ = -1, main_ = -1;
};

struct KeySerial {
    std::array<std::uint8_t, 6> bytes{};
    std::string text;
};

// A key text with or without blanks between its 16 hex digits.
std::optional<KeySerial> parseKey(const std::string& given) {
    std::string hex;
    for (char c : given) {
        if (c == ' ' || c == ':' || c == '-') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (hex.size() != 16) return std::nullopt;
    std::string spaced;
    for (std::size_t i = 0; i < 16; i += 2) spaced += (i ? " " : "") + hex.substr(i, 2);
    const ParsedKey parsed = ParseKeyText(spaced);
    if (!parsed.ok) return std::nullopt;
    KeySerial key;
    std::copy(parsed.rom.begin() + 1, parsed.rom.begin() + 7, key.bytes.begin());
    key.text = spaced;
    return key;
}

std::uint8_t* keyRecord(Image& image, std::size_t i) { return &image[mem::kKeys + i * mem::kKeyRecordSize]; }

bool isEmptyRecord(const std::uint8_t* record) { return record[0] == 0xFF && record[1] == 0xFF; }

// Keeps the records `keep` accepts, packed from entry 0; returns those removed.
template <typename Keep>
int packKeys(Image& image, Keep keep) {
    std::vector<std::array<std::uint8_t, mem::kKeyRecordSize>> kept;
    int removed = 0;
    for (std::size_t i = 0; i < mem::kKeyCount; ++i) {
        const std::uint8_t* rec = keyRecord(image, i);
        if (isEmptyRecord(rec)) continue;
        if (!keep(rec)) {
            ++removed;
            continue;
        }
        kept.emplace_back();
        std::copy(rec, rec + mem::kKeyRecordSize, kept.back().begin());
    }
    if (removed == 0) return 0;
    std::fill(keyRecord(image, 0), keyRecord(image, 0) + mem::kKeyCount * mem::kKeyRecordSize, 0xFF);
    for (std::size_t i = 0; i < kept.size(); ++i) std::copy(kept[i].begin(), kept[i].end(), keyRecord(image, i));
    return removed;
}

FlatActionResult refused(const Image& image, FlatRefusal why) {
    FlatActionResult r;
    r.refusal = why;
    r.image = image;
    return r;
}

FlatActionResult done(const Image& before, FlatActionResult r) {
    r.changes = listChanges(before, r.image);
    return r;
}

FlatRefusal drawFault(DrawFault f) {
    return f == DrawFault::NoFreeCode ? FlatRefusal::NoFreeCode : FlatRefusal::RandomFailed;
}

bool storable(int code) { return code >= 1 && code <= 9999; }

}  // namespace

std::optional<FlatSlot> parseFlat(const std::string& text) {
    if (text.size() < 3 || text.size() > 5 || (text[0] != '1' && text[0] != '2') || text[1] != '.') return std::nullopt;
    int local = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        local = local * 10 + (text[i] - '0');
    }
    if (local < 1 || local > static_cast<int>(mem::kResidentsPerLine)) return std::nullopt;
    return FlatSlot{text[0] - '0', local};
}

std::string flatText(FlatSlot slot) { return std::to_string(slot.line) + "." + std::to_string(slot.local); }

CodeFault judgeNewCode(const Image& image, CodeKind kind, FlatSlot slot, int code) {
    return CodeJudge(image, kind, slot).judge(code);
}

CodeDraw drawCode(const Image& image, CodeKind kind, FlatSlot slot, const RandomBelow& random) {
    const CodeJudge judge(image, kind, slot);
    std::vector<int> allowed;
    for (int code = 1; code <= 9999; ++code)
        if (judge.judge(code) == CodeFault::None) allowed.push_back(code);
    if (allowed.empty()) return {0, DrawFault::NoFreeCode};
    const auto pick = random(static_cast<std::uint32_t>(allowed.size()));
    if (!pick || *pick >= allowed.size()) return {0, DrawFault::RandomFailed};
    return {allowed[*pick], DrawFault::None};
}

FlatActionResult movedOut(const Image& image, FlatSlot slot) {
    if (!slotInUse(image, slot)) return refused(image, FlatRefusal::NoSuchFlat);
    const int logical = readCode(image, ResidentCode::Logical, slot);
    for (int i = 0; logical >= 0 && i < kResidentSlots; ++i) {
        const FlatSlot other = slotOf(i);
        if (!sameSlot(other, slot) && readCode(image, ResidentCode::Logical, other) == logical)
            return refused(image, FlatRefusal::SharedCallCode);
    }
    FlatActionResult r;
    r.image = image;
    writeBcdCode(r.image, residentOffset(ResidentCode::Open, slot.line, slot.local), 0);
    writeBcdCode(r.image, residentOffset(ResidentCode::Main, slot.line, slot.local), 0);
    if (logical >= 0)
        r.keysRemoved = packKeys(r.image, [&](const std::uint8_t* rec) { return (rec[0] << 8 | rec[1]) != logical; });
    return done(image, std::move(r));
}

FlatActionResult newResident(const Image& image, FlatSlot slot, const NewResidentRequest& request,
                             const RandomBelow& random) {
    if ((request.open && !storable(*request.open)) || (request.main && !storable(*request.main)))
        return refused(image, FlatRefusal::BadCode);
    if (!slotInUse(image, slot)) return refused(image, FlatRefusal::NoSuchFlat);
    FlatActionResult r;
    r.image = image;
    // The main code first: the open code is judged with the call codes it will go with.
    if (request.newMain || request.main) {
        int main = request.main.value_or(0);
        if (!request.main) {
            const CodeDraw draw = drawCode(r.image, CodeKind::Main, slot, random);
            if (draw.fault != DrawFault::None) return refused(image, drawFault(draw.fault));
            main = draw.code;
        }
        writeBcdCode(r.image, residentOffset(ResidentCode::Main, slot.line, slot.local), main);
        r.codes.main = main;
    }
    int open = request.open.value_or(0);
    if (!request.open) {
        const CodeDraw draw = drawCode(r.image, CodeKind::Open, slot, random);
        if (draw.fault != DrawFault::None) return refused(image, drawFault(draw.fault));
        open = draw.code;
    }
    writeBcdCode(r.image, residentOffset(ResidentCode::Open, slot.line, slot.local), open);
    r.codes.open = open;
    return done(image, std::move(r));
}

FlatActionResult lostKey(const Image& image, const std::string& keyText, const std::string& newKey) {
    const auto lost = parseKey(keyText);
    if (!lost) return refused(image, FlatRefusal::BadKeyText);
    std::optional<KeySerial> added;
    if (!newKey.empty()) {
        added = parseKey(newKey);
        if (!added) return refused(image, FlatRefusal::BadKeyText);
    }
    const auto serialOf = [](const std::uint8_t* rec, const KeySerial& key) {
        return std::equal(key.bytes.begin(), key.bytes.end(), rec + 2);
    };
    FlatActionResult r;
    r.image = image;
    std::optional<std::array<std::uint8_t, 2>> local;
    for (std::size_t i = 0; i < mem::kKeyCount && !local; ++i) {
        const std::uint8_t* rec = keyRecord(r.image, i);
        if (!isEmptyRecord(rec) && serialOf(rec, *lost)) local = std::array<std::uint8_t, 2>{rec[0], rec[1]};
    }
    if (!local) return refused(image, FlatRefusal::NoSuchKey);
    if (added && (added->bytes == lost->bytes)) return refused(image, FlatRefusal::KeyInUse);
    r.keysRemoved = packKeys(r.image, [&](const std::uint8_t* rec) { return !serialOf(rec, *lost); });
    if (added) {
        std::size_t free = 0;
        while (free < mem::kKeyCount) {
            const std::uint8_t* rec = keyRecord(r.image, free);
            if (isEmptyRecord(rec)) break;
            if (serialOf(rec, *added)) return refused(image, FlatRefusal::KeyInUse);
            ++free;
        }
        // At least one record was removed, so there is room.
        std::uint8_t* rec = keyRecord(r.image, free);
        rec[0] = (*local)[0];
        rec[1] = (*local)[1];
        std::copy(added->bytes.begin(), added->bytes.end(), rec + 2);
        r.codes.key = added->text;
    }
    return done(image, std::move(r));
}

FlatActionResult newGeneralCode(const Image& image, int oldCode, std::optional<int> typed, const RandomBelow& random) {
    std::vector<std::size_t> entries;
    for (std::size_t i = 0; i < mem::kGeneralCount; ++i)
        if (DecodeBcdCode(&image[mem::kGeneralCodes + 2 * i]) == oldCode) entries.push_back(i);
    if (typed && !storable(*typed)) return refused(image, FlatRefusal::BadCode);
    if (entries.empty() || oldCode < 0) return refused(image, FlatRefusal::NoSuchGeneralCode);
    int code = typed.value_or(0);
    if (!typed) {
        const CodeDraw draw = drawCode(image, CodeKind::General, {}, random);
        if (draw.fault != DrawFault::None) return refused(image, drawFault(draw.fault));
        code = draw.code;
    }
    FlatActionResult r;
    r.image = image;
    for (std::size_t i : entries) writeBcdCode(r.image, mem::kGeneralCodes + 2 * i, code);
    r.codes.general = code;
    return done(image, std::move(r));
}

bool flatExists(const Image& image, FlatSlot slot) { return slotInUse(image, slot); }

Image onlyFlat(const Image& image, FlatSlot slot) {
    Image out = image;
    for (int i = 0; i < kResidentSlots; ++i) {
        const FlatSlot s = slotOf(i);
        if (sameSlot(s, slot)) continue;
        for (ResidentCode c : {ResidentCode::Logical, ResidentCode::Open, ResidentCode::Main})
            writeBcdCode(out, residentOffset(c, s.line, s.local), 0);
    }
    return out;
}

}  // namespace kelvane
