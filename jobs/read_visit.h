#pragma once
// A read's visit in the building register, recorded the same way by
// KelvaneMini and kvtool: after a download (and kvtool's check) the visit of
// the controller that answered the probe, with the image when the read
// completed. The result is typed; each program makes its own texts from it.
#include "files/key_file.h"
#include "link/probe.h"
#include "registry/building_register.h"

#include <optional>
#include <string>

namespace kelvane::jobs {

// Whether the register took a transfer's visit.
enum class Recording { NotNeeded, Recorded, NoIdentity, Failed };

// Why the register keeps visits without their images.
enum class ImagesLeftOut {
    No,
    NoKey,     // this computer has no data key (KeyNote says why)
    OtherKey,  // the register's images are sealed with a key this computer lacks
};

struct KeyNote {
    KeyMissing missing = KeyMissing::None;
    KeyFileFault fileFault = KeyFileFault::None;
    std::string detail;  // the key file's path, the keychain's own words
};

struct ReadVisit {
    std::optional<link::ProbeReply> identity;  // the probe's answer; none: nothing to record under
    std::string port;                          // as the technician named it
    registry::VisitKind kind = registry::VisitKind::Download;
    std::string outcome = "completed";  // the register's code (downloadOutcomeCode())
    std::optional<Image> image;         // what was read, when the read completed
};

// The controller's latest earlier image, when the one read now differs.
struct SinceLastVisit {
    std::string time;  // as the register keeps it (ISO 8601)
    int changes = 0;
    Image before{};
    std::string technician;  // who made that visit
};

struct VisitRecord {
    Recording recording = Recording::NotNeeded;
    std::string recordError;  // Failed: why the register did not take it
    ImagesLeftOut images = ImagesLeftOut::No;
    KeyNote key;  // NoKey: why there is none
    std::optional<SinceLastVisit> since;
};

// Records `visit` in `reg`; with no register `registerError` says why (empty:
// a build without the register, where nothing is recorded or said).
VisitRecord recordRead(registry::Register* reg, const std::string& registerError, const ReadVisit& visit);

// Why `reg` keeps visits without images, and (NoKey) why there is no key.
ImagesLeftOut imagesLeftOut(const registry::Register& reg, KeyNote* why = nullptr);

}  // namespace kelvane::jobs
