#pragma once
// The upload in the orders technicians work in, as one table that two
// drivers run: kvtool against the pty controller simulator, and the window
// offscreen against its built-in one. Each row ends with what the controller
// holds.
#include "image/codecs.h"
#include "image/image.h"
#include "registry/building_register.h"
#include "sim/sample_building.h"

#include <string>

namespace upload_scenarios {

using kelvane::Image;

enum class Start {
    File,      // the office's file: saved from A, its base (A's image then) in the register
    Download,  // read from the controller in this run, then edited
    Visit,     // a visit of A opened from the register
};
enum class Connect { Same, Other, Silent };
enum class Reg { Fine, Broken, Locked };
// The guard's question and the technician's answer (kvtool: --other-controller,
// or exit 7 before anything is sent); None: no question.
enum class Guard { None, Send, Cancel };
enum class Holds {
    Merged,     // what the technician sent, with the keypad change kept
    Sent,       // exactly what the technician sent
    Untouched,  // what it held before
};

struct Scenario {
    const char* name;
    Start start;
    bool keypad;  // a resident changed 1.3's open code at the keypad after the base was read
    Connect connect;
    Reg reg;
    Guard guard;
    bool everyBlock;  // the technician sends every block (kvtool: --full) instead of reading first
    Holds holds;
};

inline const Scenario kScenarios[] = {
    {"file, connect, upload: merged", Start::File, true, Connect::Same, Reg::Fine, Guard::None, false, Holds::Merged},
    {"file, connect, every block", Start::File, true, Connect::Same, Reg::Fine, Guard::None, true, Holds::Sent},
    {"download, edit, upload", Start::Download, false, Connect::Same, Reg::Fine, Guard::None, false, Holds::Sent},
    {"file from A to B, send anyway", Start::File, false, Connect::Other, Reg::Fine, Guard::Send, false, Holds::Sent},
    {"file from A to B, cancel", Start::File, false, Connect::Other, Reg::Fine, Guard::Cancel, false, Holds::Untouched},
    {"broken register", Start::File, false, Connect::Same, Reg::Broken, Guard::Cancel, false, Holds::Untouched},
    {"locked register", Start::File, false, Connect::Same, Reg::Locked, Guard::Cancel, false, Holds::Untouched},
    {"silent probe", Start::File, false, Connect::Silent, Reg::Fine, Guard::Cancel, false, Holds::Untouched},
    {"visit opened, upload: merged", Start::Visit, true, Connect::Same, Reg::Fine, Guard::None, false, Holds::Merged},
};

// A: the sample building as the simulators answer by default; B: another
// controller with another building.
inline constexpr kelvane::registry::ControllerKey kA{1, 4660}, kB{2, 12345};
inline constexpr const char* kIdentityB = "0002393005010000";  // the probe's answer of B

inline std::size_t open13() { return kelvane::residentOffset(kelvane::ResidentCode::Open, 1, 3); }
inline Image imageA() { return kelvane::sampleBuildingImage(); }
inline Image imageB() {
    Image b = imageA();
    kelvane::writeBcdCode(b, kelvane::residentOffset(kelvane::ResidentCode::Open, 2, 1), 1357);
    b[kelvane::mem::kParams + 22] = 30;
    return b;
}
// The office's edit: a longer call time (p204).
inline Image edited(Image image) {
    image[kelvane::mem::kParams + 22] = 60;
    return image;
}
// The resident's change at the keypad.
inline Image keypad(Image image) {
    kelvane::writeBcdCode(image, open13(), 4242);
    return image;
}

// The register as the office left it: a download of A, and the file saved
// from it with that image as its base.
inline bool recordOffice(const std::string& registerPath, const std::string& file) {
    kelvane::registry::Register reg;
    if (!reg.open(registerPath)) return false;
    kelvane::registry::NewVisit v;
    v.key = kA;
    v.image = imageA();
    v.port = "office";
    return reg.recordVisit(v) && reg.recordSavedFile(file, edited(imageA()), kA, imageA());
}

inline Image expected(const Scenario& s, const Image& sent, const Image& before) {
    switch (s.holds) {
    case Holds::Merged: return keypad(sent);
    case Holds::Sent: return sent;
    case Holds::Untouched: return before;
    }
    return before;
}

}  // namespace upload_scenarios
