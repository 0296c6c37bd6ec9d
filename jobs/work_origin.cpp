#include "jobs/work_origin.h"

#include "jobs/upload_flow.h"

#include <utility>

namespace kelvane::jobs {

std::string portKey(const std::string& port) {
    static const std::string kDeviceNamespace = "\\\\.\\";
    if (port.compare(0, kDeviceNamespace.size(), kDeviceNamespace) == 0) return port.substr(kDeviceNamespace.size());
    return port;
}

std::optional<Base> registeredBase(registry::Register* reg, const Image& file) {
    if (!reg) return std::nullopt;
    Base base;
    auto image = reg->baseImageFor(file, &base.when, &base.technician);
    if (!image) return std::nullopt;
    base.image = *image;
    return base;
}

std::string recordSavedFile(registry::Register& reg, const std::string& path, const Image& image, const SavedFrom& from) {
    std::vector<registry::ControllerKey> controllers;
    if (from.controller && from.controller->known()) {
        controllers.push_back(*from.controller);
    } else {
        for (const Image& source : from.madeFrom) {
            for (const registry::Controller& c : reg.originsOf(source)) controllers.push_back(c.key);
            if (!controllers.empty()) break;
        }
    }
    std::optional<Image> base = from.base;
    for (const Image& source : from.madeFrom) {
        if (base) break;
        base = reg.baseImageFor(source);
    }
    if (controllers.empty()) return reg.recordSavedFile(path, image, std::nullopt, base) ? std::string() : reg.error();
    std::string why;
    for (const registry::ControllerKey& key : controllers)
        if (!reg.recordSavedFile(path, image, key, base)) why = reg.error();
    return why;
}

void WorkOrigin::transferred(const std::string& port, const registry::ControllerKey& key, const Image& image,
                             const std::string& when) {
    transferred_ = true;
    held_ = Held{key, image, when};
    heldPort_ = portKey(port);
    cutOff_.reset();
    origin_ = key.known() ? Origin{Origin::Kind::Download, key, {}, {}, {}} : Origin{};
    // Further edits start from what the controller now holds.
    transferBase_ = Base{image, when, {}};
}

void WorkOrigin::cutOff(const std::string& port, const std::optional<registry::ControllerKey>& key) {
    held_.reset();
    if (!key) return;
    cutOff_ = *key;
    cutOffPort_ = portKey(port);
}

void WorkOrigin::fileLoaded(const Image& image) {
    origin_ = Origin{Origin::Kind::File, registry::kUnknownController, image, {}, {}};
    transferBase_.reset();
}

void WorkOrigin::visitOpened(const registry::ControllerKey& key, const Image& image, const std::string& when,
                             const std::string& technician) {
    origin_ = Origin{Origin::Kind::Visit, key, image, when, technician};
    transferBase_.reset();
}

std::optional<Held> WorkOrigin::heldOn(const std::string& port) const {
    if (held_ && heldPort_ == portKey(port)) return held_;
    return std::nullopt;
}

bool WorkOrigin::holds(const std::string& port, const std::optional<registry::ControllerKey>& connected) const {
    return held_ && heldPort_ == portKey(port) && connected && held_->key == *connected;
}

bool WorkOrigin::cutOffAt(const std::string& port, const std::optional<registry::ControllerKey>& connected) const {
    return cutOff_ && cutOffPort_ == portKey(port) && connected && *cutOff_ == *connected;
}

std::optional<Base> WorkOrigin::base(const BaseLookup& lookup) const {
    switch (origin_.kind) {
    case Origin::Kind::File: return lookup ? lookup(origin_.image) : std::nullopt;
    case Origin::Kind::Visit: return Base{origin_.image, origin_.when, origin_.technician};
    case Origin::Kind::Download:
    case Origin::Kind::None: break;
    }
    return transferBase_;
}

void WorkOrigin::startUpload(UploadInput& in, const std::string& port, const BaseLookup& lookup) const {
    in.origin = origin_;
    // Only what was read on this port may stand for what its controller
    // holds; the flow also wants the same controller (ID and serial number).
    in.held = heldOn(port);
    // A loaded file's base, as the register knows it now; a transfer's and a
    // visit's the flow finds from the origin.
    if (origin_.kind == Origin::Kind::File) in.base = base(lookup);
    in.port = portKey(port);
}

SavedFrom WorkOrigin::savedFrom(const BaseLookup& lookup) const {
    SavedFrom from;
    switch (origin_.kind) {
    case Origin::Kind::Download:
    case Origin::Kind::Visit: from.controller = origin_.key; break;
    case Origin::Kind::File: from.madeFrom.push_back(origin_.image); break;
    case Origin::Kind::None: break;
    }
    if (auto b = base(lookup)) from.base = std::move(b->image);
    return from;
}

}  // namespace kelvane::jobs
