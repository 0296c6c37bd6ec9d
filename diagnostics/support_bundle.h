#pragma once
// The support bundle: one ZIP a technician can send when a line or a
// controller misbehaves. It holds the newest traces, the programs' logs,
// versions, the serial ports with their USB numbers and drivers (and the
// adapters' latency timers where the system shows them), the programs'
// settings and an image, with every secret masked: the image as
// kelvane::maskSecrets leaves it, the traces as link::maskTrace does.
#include "image/image.h"

#include <optional>
#include <string>
#include <vector>

namespace kelvane::diagnostics {

inline constexpr int kBundleTraces = 10;

struct BundleEntry {
    std::string name;     // path inside the ZIP
    std::string content;  // bytes
};

struct BundleRequest {
    std::string program;  // what asks: KelvaneMini, kvtool...
    std::string version;
    std::optional<Image> image;  // the image to include, masked (none: no image)
    std::string imageDescription;
};

// Everything that goes in, already masked, in the order it is written; the
// caller may show the names before it writes them.
std::vector<BundleEntry> supportBundleEntries(const BundleRequest& request);

// False in a build without the ZIP library: writeSupportBundle() then
// writes nothing and says so.
bool supportBundleAvailable();

// Writes the entries as a ZIP (owner-only when new). Empty on success,
// otherwise why not.
std::string writeSupportBundle(const std::string& path, const std::vector<BundleEntry>& entries);

}  // namespace kelvane::diagnostics
