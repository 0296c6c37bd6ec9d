#pragma once
// What a run knows of the controller and of the image being worked on, kept
// in one place for KelvaneMini's window (for the whole run), kvtool (for one
// command) and Orva_Upgrade (for one job):
//
//   - what was last read from or written to which controller, on which port;
//   - an upload cut off part-way (what that controller holds is unknown);
//   - where the working image came from: a transfer, a data file, a visit
//     of the register;
//   - the base its edits started from, looked up when it is asked for: the
//     register learns a file's base (a colleague's visit) while the run goes.
//
// Port names are kept and compared in one form, portKey().
#include "image/image.h"
#include "registry/building_register.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvane::jobs {

// The port as the technician named it: without the Win32 device namespace
// ("\\.\COM3" is "COM3"), the form ports are compared and recorded in.
std::string portKey(const std::string& port);

// Where the image to be sent came from.
struct Origin {
    enum class Kind {
        None,      // made in the window or from nothing the register knows
        Download,  // read (or written) in this run from `key`
        File,      // a data file: the register knows it by `image`, its contents as loaded
        Visit,     // a visit of `key` opened from the register: `image` is what the controller then held
    };
    Kind kind = Kind::None;
    registry::ControllerKey key = registry::kUnknownController;
    Image image{};
    std::string when;        // Visit: the visit's time
    std::string technician;  // Visit: who made it
};

// What a controller was seen to hold in this run (a download or an upload).
struct Held {
    registry::ControllerKey key = registry::kUnknownController;
    Image image{};
    std::string when;
};

// The image the edits started from, when the controller held it (UTC, ISO
// 8601, as the register keeps times; or a name that stands for it, such as
// a file's) and who saw it there, when the register knows: empty for this
// technician or nobody known.
struct Base {
    Image image{};
    std::string when;
    std::string technician;
};

// Where a loaded file's base is found.
using BaseLookup = std::function<std::optional<Base>(const Image& file)>;
// The register's: the file's recorded base, dated by the visit that read it.
std::optional<Base> registeredBase(registry::Register* reg, const Image& file);

// What a saved data file was made from, as the register notes it.
struct SavedFrom {
    // The controller its image was read from; else its controllers are
    // those the register knows for the first of `madeFrom` it knows any for.
    std::optional<registry::ControllerKey> controller;
    std::vector<Image> madeFrom;  // the images it was made from, the one to ask first first
    // The image its controller held when the file's image was taken from it;
    // nothing: the register's base of the first of `madeFrom` that has one.
    std::optional<Image> base;
};

// Notes the data file at `path` holding `image`: once for every controller
// it came from (none known: once without one), each with its base. An upload
// of it is then let through to any building the image it was made from is
// let through to, and merges against that base. Empty when noted (or when
// nothing is kept without the data key), else the register's reason.
std::string recordSavedFile(registry::Register& reg, const std::string& path, const Image& image, const SavedFrom& from);

struct UploadInput;  // jobs/upload_flow.h

class WorkOrigin {
public:
    // A download or upload completed on `port`: the controller `key`
    // (kUnknownController when it did not answer a probe) holds `image`,
    // seen at `when`. The working image is the controller's now.
    void transferred(const std::string& port, const registry::ControllerKey& key, const Image& image,
                     const std::string& when);
    // An upload to `key` on `port` ended part-way: blocks may have reached
    // the controller, so nothing read or sent before says what it holds.
    void cutOff(const std::string& port, const std::optional<registry::ControllerKey>& key);
    // The working image is a data file's (as loaded).
    void fileLoaded(const Image& image);
    // ... the image `key` held at a visit of the register.
    void visitOpened(const registry::ControllerKey& key, const Image& image, const std::string& when,
                     const std::string& technician);

    const Origin& origin() const { return origin_; }
    // A download or an upload completed in this run.
    bool transferredInRun() const { return transferred_; }
    // What this run last saw the controller hold, when it was on `port`.
    std::optional<Held> heldOn(const std::string& port) const;
    // It was `connected` (the probe's answer) on `port`: the image held
    // stands for what the controller holds.
    bool holds(const std::string& port, const std::optional<registry::ControllerKey>& connected) const;
    // The upload cut off was to `connected` on `port`.
    bool cutOffAt(const std::string& port, const std::optional<registry::ControllerKey>& connected) const;

    // The base of the working image's edits: what the last transfer left, a
    // visit's image, a file's base as `lookup` finds it now.
    std::optional<Base> base(const BaseLookup& lookup) const;
    // The upload's origin, the image held on `port` (and the port, as the
    // visit records it) and a loaded file's base.
    void startUpload(UploadInput& in, const std::string& port, const BaseLookup& lookup) const;
    // What a file saved from the working image was made from.
    SavedFrom savedFrom(const BaseLookup& lookup) const;

private:
    Origin origin_;
    std::optional<Held> held_;
    std::string heldPort_;
    std::optional<registry::ControllerKey> cutOff_;
    std::string cutOffPort_;
    std::optional<Base> transferBase_;  // the image the last transfer left
    bool transferred_ = false;
};

}  // namespace kelvane::jobs
