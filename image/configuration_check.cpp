// The configuration check: each rule below says why it matters in a building.
#include "image/configuration_check.h"

#include "image/codecs.h"
#include "image/parameters.h"
#include "image/window_data.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace kelvane {

Severity severityOf(WarningKind kind) {
    return kind == WarningKind::GeneralCodeEveryPanel ? Severity::Info : Severity::Warning;
}

const char* warningKindId(WarningKind kind) {
    static const char* const ids[kWarningKindCount] = {
        "factory-password",
        "guessable-password",
        "guessable-open-codes",
        "guessable-general-codes",
        "general-code-is-call-and-open",
        "repeated-general-code",
        "shared-key",
        "general-code-every-panel",
        "setting-out-of-range",
    };
    return ids[static_cast<int>(kind)];
}

bool isGuessableDigits(const std::string& digits) {
    if (digits.empty()) return false;
    for (char c : digits)
        if (c < '0' || c > '9') return false;
    bool same = true, up = true, down = true;
    for (std::size_t i = 1; i < digits.size(); ++i) {
        const int step = digits[i] - digits[i - 1];
        same = same && step == 0;
        up = up && step == 1;
        down = down && step == -1;
    }
    return same || up || down;
}

namespace {

std::string codeText(int value, const char* format) {
    char buf[16];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

bool isEmptyCode(const std::uint8_t* stored) { return stored[0] == 0xFF && stored[1] == 0xFF; }

// A resident slot as the residents' grid shows it.
struct Resident {
    int row;
    std::string physical;
    int logical, open, main;  // -1 for no code
};

std::vector<Resident> residents(const Image& img) {
    std::vector<Resident> out;
    int row = 0;
    for (int line = 1; line <= 2; ++line)
        for (int local = 1; local <= static_cast<int>(mem::kResidentsPerLine); ++local) {
            const int logical = DecodeBcdCode(&img[residentOffset(ResidentCode::Logical, line, local)]);
            const int open = DecodeBcdCode(&img[residentOffset(ResidentCode::Open, line, local)]);
            const int main = DecodeBcdCode(&img[residentOffset(ResidentCode::Main, line, local)]);
            if (logical < 0 && open < 0 && main < 0) continue;
            out.push_back({++row, std::to_string(line) + "." + std::to_string(local), logical, open, main});
        }
    return out;
}

// A general-code entry as its grid shows it, with where it works.
struct GeneralCode {
    int row;
    int code;
    bool everyPanel;  // the window shows (or will store) panel 255
    int panel;
    bool bus1;
};

std::vector<GeneralCode> generalCodes(const Image& img) {
    std::vector<GeneralCode> out;
    int row = 0;
    for (std::size_t i = 0; i < mem::kGeneralCount; ++i) {
        const std::uint8_t* code = &img[mem::kGeneralCodes + 2 * i];
        if (isEmptyCode(code)) continue;
        const std::uint8_t* attr = &img[mem::kGeneralAttrs + 2 * i];
        // Panel byte 0xFF is shown as 255; a panel 0 is shown as 0 but the
        // next store turns it into 255. Either way it reaches every panel.
        const bool every = attr[0] == 0xFF || attr[0] == 0;
        out.push_back({++row, DecodeBcdCode(code), every, attr[0], every || attr[1] != 0});
    }
    return out;
}

class Checker {
public:
    explicit Checker(const Image& img) : img_(img), residents_(residents(img)), general_(generalCodes(img)) {}

    std::vector<Warning> run() {
        password();
        guessableOpenCodes();
        guessableGeneralCodes();
        callAndOpen();
        repeatedGeneralCodes();
        sharedKeys();
        everyPanel();
        settings();
        return std::move(out_);
    }

private:
    Warning& add(WarningKind kind) {
        out_.emplace_back();
        out_.back().kind = kind;
        return out_.back();
    }

    // Rows of one kind: one warning each while they are few, else one that
    // counts them all, so a building full of weak codes stays readable.
    void addRows(WarningKind kind, GridId grid, std::vector<WarningItem> items) {
        if (items.empty()) return;
        const auto place = [&](Warning& w) {
            w.grid = grid;
            w.row = w.items.front().row;
        };
        if (static_cast<int>(items.size()) <= kListedSeparately) {
            for (auto& item : items) {
                Warning& w = add(kind);
                w.items.push_back(std::move(item));
                place(w);
            }
        } else {
            Warning& w = add(kind);
            w.items = std::move(items);
            place(w);
        }
    }

    // p101 guards the controller's service access. The initial image's
    // password is the same in every controller this program ever set up, so
    // whoever has the program knows it; one repeated digit or a run is the
    // first thing anyone tries. A byte beyond 9 is no digit: that is a
    // setting out of range, reported below.
    void password() {
        const Parameter* p = findParameter("p101_MaskEdit");
        std::string digits;
        for (int i = 0; i < p->width; ++i) {
            const int b = img_[p->offset + i];
            if (b > 9) return;
            digits += static_cast<char>('0' + b);
        }
        const bool factory = digits == kFactoryPassword;
        if (!factory && !isGuessableDigits(digits)) return;
        Warning& w = add(factory ? WarningKind::FactoryPassword : WarningKind::GuessablePassword);
        w.parameter = p->number;
        w.control = p->control;
        w.stored = digits;
    }

    // A resident opens the entrance door with the open code; 0000, one digit
    // repeated or a run such as 1234 is what a stranger at the keypad tries
    // first. Judged on the four digits the grid shows, so 0123 is a run.
    void guessableOpenCodes() {
        std::vector<WarningItem> items;
        for (const Resident& r : residents_) {
            if (r.open < 0) continue;
            const std::string code = codeText(r.open, "%04d");
            if (isGuessableDigits(code)) items.push_back({r.row, r.physical, code});
        }
        addRows(WarningKind::GuessableOpenCodes, GridId::Residents, std::move(items));
    }

    // A general code opens for whoever holds it (postman, caretaker), at
    // every panel it is valid for: a guessable one opens the building to all.
    void guessableGeneralCodes() {
        std::vector<WarningItem> items;
        for (const GeneralCode& g : general_) {
            const std::string code = std::to_string(g.code);
            if (isGuessableDigits(code)) items.push_back({g.row, "", code});
        }
        addRows(WarningKind::GuessableGeneralCodes, GridId::GeneralCodes, std::move(items));
    }

    // A resident's card tells him his call code and his open code. A general
    // code made of those digits (call code 12, open code 34 -> 1234) is one
    // that resident can guess, and whoever learns the general code learns his
    // private code: the building's code is only as secret as one flat's.
    // Compared as numbers, the open code without its leading zeros, since a
    // general code has at most four digits and the grid's open code always
    // shows four. The call code may be the logical or the main-entrance one.
    void callAndOpen() {
        if (general_.empty()) return;
        // Digits of call code + open code that fit a general code, to the
        // first resident giving them.
        std::unordered_map<int, std::pair<const Resident*, int>> sequences;
        for (const Resident& r : residents_) {
            if (r.open < 0) continue;
            for (int call : {r.logical, r.main}) {
                if (call < 0) continue;
                const std::string digits = std::to_string(call) + std::to_string(r.open);
                if (digits.size() > 5) continue;  // beyond every general code
                sequences.emplace(std::stoi(digits), std::make_pair(&r, call));
            }
        }
        for (const GeneralCode& g : general_) {
            const auto it = sequences.find(g.code);
            if (it == sequences.end()) continue;
            const Resident& r = *it->second.first;
            Warning& w = add(WarningKind::GeneralCodeIsCallAndOpen);
            w.grid = GridId::GeneralCodes;
            w.row = g.row;
            w.items = {{g.row, "", std::to_string(g.code)},
                       {r.row, r.physical, std::to_string(it->second.second)},
                       {r.row, r.physical, codeText(r.open, "%04d")}};
        }
    }

    // The same general code twice where one entry already covers the other
    // (same panel and bus, or one valid at every panel) is a leftover: the
    // technician who deletes one believes the code is gone while it still
    // opens. The same code for two different panels is how one code is given
    // to two entrances, so that is no warning.
    void repeatedGeneralCodes() {
        for (std::size_t j = 1; j < general_.size(); ++j) {
            const GeneralCode& b = general_[j];
            for (std::size_t i = 0; i < j; ++i) {
                const GeneralCode& a = general_[i];
                const bool covers = a.everyPanel || b.everyPanel || (a.panel == b.panel && a.bus1 == b.bus1);
                if (a.code != b.code || !covers) continue;
                Warning& w = add(WarningKind::RepeatedGeneralCode);
                w.grid = GridId::GeneralCodes;
                w.row = b.row;
                w.items = {{a.row, "", std::to_string(a.code)}, {b.row, "", std::to_string(b.code)}};
                break;
            }
        }
    }

    // A touch key is one physical object: stored for two flats it lets one
    // resident into the other's records (a lost key is revoked for one flat
    // only, the call log names the wrong flat). A flat with two rows of the
    // same key is harmless. The key text depends on the six serial bytes only.
    void sharedKeys() {
        struct Key {
            int row;
            unsigned local;
            std::uint64_t serial;
            std::size_t record;
        };
        std::vector<Key> keys;
        int row = 0;
        for (std::size_t i = 0; i < mem::kKeyCount; ++i) {
            const std::uint8_t* rec = &img_[mem::kKeys + i * mem::kKeyRecordSize];
            if (rec[0] == 0xFF && rec[1] == 0xFF) continue;
            std::uint64_t serial = 0;
            for (int b = 2; b < 8; ++b) serial = serial << 8 | rec[b];
            keys.push_back({++row, static_cast<unsigned>(rec[0] << 8 | rec[1]), serial, i});
        }
        std::vector<const Key*> bySerial;
        bySerial.reserve(keys.size());
        for (const Key& k : keys) bySerial.push_back(&k);
        std::stable_sort(bySerial.begin(), bySerial.end(),
                         [](const Key* a, const Key* b) { return a->serial < b->serial; });
        std::vector<Warning> found;
        for (std::size_t first = 0; first < bySerial.size();) {
            std::size_t last = first + 1;
            bool differ = false;
            int differRow = 0;
            while (last < bySerial.size() && bySerial[last]->serial == bySerial[first]->serial) {
                if (!differ && bySerial[last]->local != bySerial[first]->local) {
                    differ = true;
                    differRow = bySerial[last]->row;
                }
                ++last;
            }
            if (differ) {
                Warning w;
                w.kind = WarningKind::SharedKey;
                w.grid = GridId::Keys;
                w.row = differRow;
                const std::string text = FormatKeyText(&img_[mem::kKeys + bySerial[first]->record * mem::kKeyRecordSize]);
                for (std::size_t k = first; k < last; ++k)
                    w.items.push_back({bySerial[k]->row, std::to_string(bySerial[k]->local), text});
                found.push_back(std::move(w));
            }
            first = last;
        }
        std::sort(found.begin(), found.end(), [](const Warning& a, const Warning& b) { return a.row < b.row; });
        for (auto& w : found) out_.push_back(std::move(w));
    }

    // Panel 255 makes a general code work at every keypad panel of both buses.
    // Often meant (the postman), but worth a look: one code then opens every
    // entrance of the estate. Information only.
    void everyPanel() {
        std::vector<WarningItem> items;
        for (const GeneralCode& g : general_)
            if (g.everyPanel) items.push_back({g.row, "", std::to_string(g.code)});
        addRows(WarningKind::GeneralCodeEveryPanel, GridId::GeneralCodes, std::move(items));
    }

    // A value the control cannot hold (from a file made elsewhere or read from
    // a controller) is shown as something else, and the next store writes
    // what is shown: the technician would change a setting without touching
    // it. Named with the stored and the shown value.
    void settings() {
        std::size_t bitOffsetDone = 0;
        for (const Parameter& p : parameterTable()) {
            const int byte = img_[p.offset];
            const int items = static_cast<int>(itemTexts(p.items).size());
            const ControlState shown = showControl(p, img_);
            std::string stored = std::to_string(byte), showText = std::to_string(shown.value);
            bool out = false;
            switch (p.kind) {
            case ControlKind::UpDown: {
                const int raw = p.width == 2 ? readLE16(img_, p.offset) : byte;
                out = raw < p.min || raw > p.max;
                stored = std::to_string(raw);
                break;
            }
            case ControlKind::TrackBar: out = byte < p.min || byte > p.max; break;
            case ControlKind::CheckBox: out = byte > 1; break;
            case ControlKind::ComboBox:
                out = byte >= items;
                if (shown.value < 0) showText.clear();
                break;
            case ControlKind::RadioGroup: out = byte >= items; break;
            case ControlKind::BitCheck: {
                // The check boxes of one byte are one setting: bits no box shows are lost.
                if (bitOffsetDone == p.offset) continue;
                bitOffsetDone = p.offset;
                int mask = 0;
                for (const Parameter& q : parameterTable())
                    if (q.kind == ControlKind::BitCheck && q.offset == p.offset) mask |= 1 << q.bit;
                out = (byte & ~mask) != 0;
                showText = std::to_string(byte & mask);
                break;
            }
            case ControlKind::MaskEdit:
                stored.clear();
                for (int i = 0; i < p.width; ++i) {
                    out = out || img_[p.offset + i] > 9;
                    stored += (i ? " " : "") + std::to_string(img_[p.offset + i]);
                }
                showText = shown.text;
                break;
            }
            if (!out) continue;
            Warning& w = add(WarningKind::SettingOutOfRange);
            w.parameter = p.number;
            w.control = p.control;
            w.stored = stored;
            w.shown = showText;
        }
    }

    const Image& img_;
    std::vector<Resident> residents_;
    std::vector<GeneralCode> general_;
    std::vector<Warning> out_;
};

}  // namespace

std::vector<Warning> checkConfiguration(const Image& image) { return Checker(image).run(); }

std::vector<Warning> checkStoredConfiguration(const Image& shown, const Image& stored) {
    std::vector<Warning> out;
    for (Warning& w : checkConfiguration(stored))
        if (w.kind != WarningKind::SettingOutOfRange) out.push_back(std::move(w));
    for (Warning& w : checkConfiguration(shown)) {
        if (w.kind != WarningKind::SettingOutOfRange) continue;
        // Every control of the setting (the three boxes of p714 share a byte).
        const Parameter* p = findParameter(w.control);
        bool untouched = true;
        for (const Parameter& q : parameterTable()) {
            if (q.offset != p->offset) continue;
            const ControlState before = showControl(q, shown), now = showControl(q, stored);
            untouched = untouched && before.value == now.value && before.text == now.text;
        }
        if (untouched) out.push_back(std::move(w));
    }
    return out;
}

}  // namespace kelvane
