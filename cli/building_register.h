#pragma once
// kvtool's use of the building register: every transfer is recorded as a
// visit of the controller that answered the probe, every file written with
// the controller it came from. The register never stops a transfer: when it
// cannot be opened or written, one line on stderr says the visit was not
// recorded and the command goes on to its own exit code.
#include "cli/tool_context.h"
#include "jobs/work_origin.h"
#include "link/probe.h"
#include "registry/building_register.h"

#include <memory>
#include <optional>
#include <string>

namespace kelvane::cli {

// The register named by --register, else by KELVANE_REGISTER, else the
// user's. Opened on first use; nothing when it cannot be (why(): the reason).
class ToolRegister {
public:
    explicit ToolRegister(const Tool& tool);
    kelvane::registry::Register* get();
    const std::string& why() const { return why_; }

    // Records the visit; says so on stderr when it cannot. After a download
    // or check that read an image differing from the controller's last one,
    // prints the since-last-visit line.
    void visit(const std::string& port, const std::optional<kelvane::link::ProbeReply>& identity,
               kelvane::registry::VisitKind kind, const std::string& outcome, const kelvane::Image* image);
    // A data file written from the controller `identity`.
    void savedFile(const std::string& path, const kelvane::Image& image,
                   const std::optional<kelvane::link::ProbeReply>& identity);

    // A data file written from the data file `from`: it keeps the building
    // `from` came from; says so on stderr when the register cannot note it.
    void editedFile(const std::string& path, const kelvane::Image& image, const kelvane::Image& from);
    // A data file written from what `from` names (jobs::recordSavedFile);
    // says so on stderr when the register cannot note it.
    void madeFile(const std::string& path, const kelvane::Image& image, const kelvane::jobs::SavedFrom& from);

    // The line that says the visit was not recorded, and why.
    void notRecorded(const std::string& reason);

private:
    const Tool& tool_;
    std::unique_ptr<kelvane::registry::Register> reg_;
    bool tried_ = false;
    std::string why_;
};

kelvane::registry::ControllerKey keyOf(const kelvane::link::ProbeReply& reply);
// "Lipowa 5 (1/4660)", or "1/4660" for a controller without a name.
std::string buildingName(const kelvane::registry::ControllerKey& key, const kelvane::registry::Controller* known);

}  // namespace kelvane::cli
